#include "analysis/library_identity.hpp"

#include "formats/file_url.hpp"
#include "platform/file_system.hpp"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

constexpr const char* databaseName = "CurrentVersion.flexolibrary";
constexpr std::size_t maxIdentifierBytes = 1024;
constexpr int progressInterval = 1000;  // virtual-machine steps between checks
constexpr int maxProgressCalls = 10000; // about 10^7 steps, a fraction of a second

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

using Clock = std::chrono::steady_clock;

// A folder of the temporary folder that only this user may enter (mkdtemp
// makes it 0700 under a name nobody can guess), removed with whatever SQLite
// left in it when it goes away.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        std::string pattern = ((ec ? fs::path("/tmp") : base) / "vellico-db-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
            m_fd = platform::openDirectoryAt(AT_FDCWD, m_path.c_str());
        }
    }
    ~ScratchFolder()
    {
        if (!m_fd) {
            return;
        }
        if (const auto entries = platform::listDirectory(m_fd.get(), false)) {
            for (const platform::DirEntry& entry : *entries) {
                ::unlinkat(m_fd.get(), entry.name.c_str(), 0);
            }
        }
        m_fd.reset();
        ::rmdir(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    int fd() const { return m_fd.get(); }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
    platform::UniqueFd m_fd;
};

bool hasSqliteMagic(int fd)
{
    static constexpr char magic[16] = "SQLite format 3"; // with its terminating zero
    std::array<char, 16> head{};
    return ::pread(fd, head.data(), head.size(), 0) == 16 &&
           std::memcmp(head.data(), magic, 16) == 0;
}

// Bytes a file takes on disk (not its length: a sparse file takes little).
std::uint64_t allocatedBytes(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_blocks > 0
               ? static_cast<std::uint64_t>(st.st_blocks) * 512
               : 0;
}

// Copies the open file `in` to a new file `name` in `dirFd`: only its data
// extents (SEEK_DATA/SEEK_HOLE), in the kernel (copy_file_range), or through a
// small buffer where the kernel cannot copy between the two file systems;
// holes stay holes. Gives up past `deadline` or once `budget` bytes have been
// written (a file system without SEEK_DATA shows a sparse file as all data).
class SparseCopy {
public:
    SparseCopy(Clock::time_point deadline, std::uint64_t budget)
        : m_deadline(deadline), m_budget(budget)
    {}

    bool copy(int in, int dirFd, const char* name)
    {
        struct stat st {};
        if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
            return false;
        }
        platform::UniqueFd out(
            ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out) {
            return false;
        }
        const off_t size = st.st_size;
        off_t pos = 0;
        while (pos < size) {
            off_t data = ::lseek(in, pos, SEEK_DATA);
            if (data < 0) {
                if (errno == ENXIO) {
                    break; // nothing but a hole up to the end
                }
                data = pos; // no SEEK_DATA here: all of it is data
            }
            off_t hole = ::lseek(in, data, SEEK_HOLE);
            if (hole < 0 || hole > size) {
                hole = size;
            }
            if (data >= hole || !copyRange(in, out.get(), data, hole - data)) {
                if (data >= hole) {
                    break;
                }
                return false;
            }
            pos = hole;
        }
        // The length, with any hole at the end.
        return ::ftruncate(out.get(), size) == 0 && ::close(out.release()) == 0;
    }

private:
    bool copyRange(int in, int out, off_t offset, off_t length)
    {
        constexpr std::size_t chunk = std::size_t{8} << 20;
        while (length > 0) {
            if (Clock::now() > m_deadline) {
                return false;
            }
            const std::size_t want = static_cast<std::size_t>(std::min<off_t>(length, chunk));
            if (m_written + want > m_budget) {
                return false;
            }
            const ssize_t n = transfer(in, out, offset, want);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                return false; // an error, or the file shrank under us
            }
            offset += n;
            length -= n;
            m_written += static_cast<std::uint64_t>(n);
        }
        return true;
    }

    ssize_t transfer(int in, int out, off_t offset, std::size_t want)
    {
        if (!m_buffered) {
            loff_t from = offset;
            loff_t to = offset;
            const ssize_t n = ::copy_file_range(in, &from, out, &to, want, 0);
            if (n >= 0 ||
                (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)) {
                return n;
            }
            m_buffered = true; // another file system, or an old kernel
            m_buffer.resize(std::size_t{1} << 20);
        }
        const ssize_t n = ::pread(in, m_buffer.data(), std::min(want, m_buffer.size()), offset);
        if (n <= 0) {
            return n;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::pwrite(out, m_buffer.data() + done,
                                       static_cast<std::size_t>(n - done), offset + done);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                return -1;
            }
            done += w;
        }
        return n;
    }

    Clock::time_point m_deadline;
    std::uint64_t m_budget;
    std::uint64_t m_written = 0;
    bool m_buffered = false;
    std::vector<char> m_buffer;
};

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

std::optional<std::string> libraryIdentifier(int bundleFd, const DatabaseCopyLimits& limits,
                                             const std::function<void()>& checked)
{
    const platform::UniqueFd database =
        platform::openRegularFileAt(bundleFd, databaseName, O_RDONLY);
    if (!database || !hasSqliteMagic(database.get())) {
        return std::nullopt;
    }
    const std::string walName = std::string(databaseName) + "-wal";
    const platform::UniqueFd wal = platform::openRegularFileAt(bundleFd, walName.c_str(), O_RDONLY);
    struct stat walStat {};
    const bool liveWal = wal && ::fstat(wal.get(), &walStat) == 0 && walStat.st_size > 0;
    if (checked) {
        checked();
    }
    if (!liveWal) {
        // immutable=1: no locks, no journal, nothing written next to the
        // file. The path is the checked file's own entry in /proc: SQLite
        // opens that very inode, never the name again (a FIFO exchanged
        // for the file meanwhile would block the open for good).
        const std::string viaProc = "/proc/self/fd/" + std::to_string(database.get());
        if (::access(viaProc.c_str(), R_OK) == 0) {
            return queryIdentifier(formats::fileURLFromPath(viaProc) + "?immutable=1");
        }
        // No /proc: read a private copy instead, as for a live log.
    }
    // immutable=1 would ignore the log and miss recent changes; an ordinary
    // read-only open would create -shm inside the bundle. Read a private copy.
    const std::uint64_t allocated =
        allocatedBytes(database.get()) + (liveWal ? allocatedBytes(wal.get()) : 0);
    if (allocated > limits.maxBytes) {
        return std::nullopt;
    }
    ScratchFolder scratch;
    SparseCopy copy(Clock::now() + limits.time, limits.maxBytes);
    if (scratch.fd() < 0 || !copy.copy(database.get(), scratch.fd(), databaseName) ||
        (liveWal && !copy.copy(wal.get(), scratch.fd(), walName.c_str()))) {
        return std::nullopt;
    }
    return queryIdentifier(formats::fileURLFromPath((scratch.path() / databaseName).string()) +
                           "?mode=ro");
}

std::optional<std::string> libraryIdentifier(const std::filesystem::path& bundle)
{
    const platform::UniqueFd bundleFd = platform::openDirectoryPath(bundle.string());
    return bundleFd ? libraryIdentifier(bundleFd.get()) : std::nullopt;
}

} // namespace vellico::analysis
