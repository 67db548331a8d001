#include "analysis/library_identity.hpp"

#include "analysis/backup_records.hpp"
#include "platform/file_system.hpp"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

constexpr const char* databaseName = "CurrentVersion.flexolibrary";
constexpr std::size_t maxIdentifierBytes = 1024;
constexpr int progressInterval = 1000;  // virtual-machine steps between checks
constexpr int maxProgressCalls = 10000; // about 10^7 steps, a fraction of a second
constexpr std::size_t maxCopyBytes = std::size_t{4} << 30;

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// A private folder removed (with the two copied files) when it goes away.
class ScratchCopy {
public:
    ScratchCopy()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vellico-db-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_dir = pattern;
        }
    }
    ~ScratchCopy()
    {
        if (!m_dir.empty()) {
            for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
                ::unlink((m_dir / (std::string(databaseName) + suffix)).c_str());
            }
            ::rmdir(m_dir.c_str());
        }
    }
    ScratchCopy(const ScratchCopy&) = delete;
    ScratchCopy& operator=(const ScratchCopy&) = delete;

    const std::filesystem::path& dir() const { return m_dir; }

private:
    std::filesystem::path m_dir;
};

bool hasSqliteMagic(int bundleFd)
{
    platform::UniqueFd fd(
        ::openat(bundleFd, databaseName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    static constexpr char magic[16] = "SQLite format 3"; // with its terminating zero
    std::array<char, 16> head{};
    return ::pread(fd.get(), head.data(), head.size(), 0) == 16 &&
           std::memcmp(head.data(), magic, 16) == 0;
}

bool hasLiveWal(int bundleFd)
{
    struct stat st {};
    const std::string wal = std::string(databaseName) + "-wal";
    return ::fstatat(bundleFd, wal.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           st.st_size > 0;
}

// Copies `name` from the bundle into `dir`, refusing links and special files.
bool copyInto(int bundleFd, const std::string& name, const std::filesystem::path& dir)
{
    const auto bytes = platform::readRegularFileAt(bundleFd, name.c_str(), maxCopyBytes);
    if (!bytes) {
        return false;
    }
    platform::UniqueFd out(
        ::open((dir / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t n = ::write(out.get(), bytes->data() + done, bytes->size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::close(out.release()) == 0;
}

int stopRunawayQuery(void* counter)
{
    int& calls = *static_cast<int*>(counter);
    return ++calls > maxProgressCalls ? 1 : 0;
}

std::optional<std::string> queryIdentifier(const std::string& uri)
{
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    Database db(raw);
    if (rc != SQLITE_OK) {
        return std::nullopt;
    }
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, 1 << 20);
    int calls = 0;
    sqlite3_progress_handler(db.get(), progressInterval, &stopRunawayQuery, &calls);

    // ZCOLLECTION must be a real table: a view of that name could run any
    // query the file's author wrote (views are disabled above as well).
    {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(
                db.get(),
                "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'ZCOLLECTION'", -1,
                &check, nullptr) != SQLITE_OK) {
            sqlite3_finalize(check);
            return std::nullopt;
        }
        Statement holder(check);
        if (sqlite3_step(check) != SQLITE_ROW) {
            return std::nullopt;
        }
    }

    static constexpr char sql[] =
        "SELECT ZIDENTIFIER FROM ZCOLLECTION WHERE ZTYPE = 'FFLibrary' LIMIT 1";
    sqlite3_stmt* raw_stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql, sizeof sql, &raw_stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw_stmt);
        return std::nullopt;
    }
    Statement stmt(raw_stmt);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) {
        return std::nullopt;
    }
    const unsigned char* text = sqlite3_column_text(stmt.get(), 0);
    if (text == nullptr) {
        return std::nullopt;
    }
    const int length = sqlite3_column_bytes(stmt.get(), 0);
    if (length < 0 || static_cast<std::size_t>(length) > maxIdentifierBytes) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

} // namespace

std::optional<std::string> libraryIdentifier(const std::filesystem::path& bundle)
{
    platform::UniqueFd bundleFd = platform::openDirectoryPath(bundle.string());
    if (!bundleFd || !hasSqliteMagic(bundleFd.get())) {
        return std::nullopt;
    }
    if (!hasLiveWal(bundleFd.get())) {
        // immutable=1: no locks, no journal, nothing written next to the file.
        return queryIdentifier(fileURLFromPath(fs::absolute(bundle / databaseName)) +
                               "?immutable=1");
    }
    // immutable=1 would ignore the log and miss recent changes; an ordinary
    // read-only open would create -shm inside the bundle. Read a private copy.
    ScratchCopy scratch;
    if (scratch.dir().empty() || !copyInto(bundleFd.get(), databaseName, scratch.dir()) ||
        !copyInto(bundleFd.get(), std::string(databaseName) + "-wal", scratch.dir())) {
        return std::nullopt;
    }
    return queryIdentifier(fileURLFromPath(scratch.dir() / databaseName) + "?mode=ro");
}

} // namespace vellico::analysis
