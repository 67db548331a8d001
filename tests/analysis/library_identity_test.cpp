#include "analysis/library_identity.hpp"

#include "platform/unique_fd.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

namespace vellico::analysis {
namespace {

namespace fs = std::filesystem;

void sql(const fs::path& db, const std::string& statements)
{
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(handle, statements.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(handle);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

std::set<std::string> entries(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

TEST(LibraryIdentity, ReadsTheLibraryRowAndWritesNothing)
{
    test::TempDir tmp;
    // "#" and "?" in the path must reach SQLite as path bytes.
    const fs::path bundle = tmp / "Film #1 ?.fcpbundle";
    tools::writeLibraryDatabase(bundle / "CurrentVersion.flexolibrary",
                                "C60CA724-BC9C-47B9-BF22-97CBCA30D396");
    const auto before = entries(bundle);
    EXPECT_EQ(libraryIdentifier(bundle), "C60CA724-BC9C-47B9-BF22-97CBCA30D396");
    EXPECT_EQ(entries(bundle), before); // no -journal, -wal or -shm
}

TEST(LibraryIdentity, ReadsTheDatabaseThatWasCheckedNotTheNameAgain)
{
    test::TempDir tmp;
    const fs::path bundle = tmp / "lib.fcpbundle";
    const fs::path db = bundle / "CurrentVersion.flexolibrary";
    tools::writeLibraryDatabase(db, "C60CA724-BC9C-47B9-BF22-97CBCA30D396");
    tools::writeLibraryDatabase(tmp / "other.flexolibrary", "0E4B3C5E-0000-4000-8000-00000000000A");
    const platform::UniqueFd bundleFd(::open(bundle.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(bundleFd);

    // Once the file has been checked, another database takes its name (a
    // FIFO there would block an open by name for good): the one read is
    // still the file that was checked.
    const auto exchange = [&] {
        fs::rename(db, tmp / "checked.flexolibrary");
        fs::rename(tmp / "other.flexolibrary", db);
    };
    EXPECT_EQ(libraryIdentifier(bundleFd.get(), {}, exchange),
              "C60CA724-BC9C-47B9-BF22-97CBCA30D396");
}

TEST(LibraryIdentity, NoIdentifierCases)
{
    test::TempDir tmp;
    const fs::path db = tmp / "lib.fcpbundle/CurrentVersion.flexolibrary";
    EXPECT_EQ(libraryIdentifier(tmp / "lib.fcpbundle"), std::nullopt); // no database

    tools::writeLibraryDatabase(db, std::nullopt); // no FFLibrary row
    EXPECT_EQ(libraryIdentifier(tmp / "lib.fcpbundle"), std::nullopt);

    tools::writeFile(db, "SQLite format 3 but not really a database, just text");
    EXPECT_EQ(libraryIdentifier(tmp / "lib.fcpbundle"), std::nullopt);

    tools::writeFile(db, std::string(4096, '\xAB'));
    EXPECT_EQ(libraryIdentifier(tmp / "lib.fcpbundle"), std::nullopt);

    fs::remove(db);
    ASSERT_EQ(::mkfifo(db.c_str(), 0644), 0); // must not block
    EXPECT_EQ(libraryIdentifier(tmp / "lib.fcpbundle"), std::nullopt);

    fs::remove(db);
    tools::writeLibraryDatabase(tmp / "elsewhere.sqlite", "LINKED");
    fs::create_symlink(tmp / "elsewhere.sqlite", db); // links are not followed
    EXPECT_EQ(libraryIdentifier(tmp / "lib.fcpbundle"), std::nullopt);
}

TEST(LibraryIdentity, HostileDatabasesAreContained)
{
    test::TempDir tmp;
    const struct {
        const char* name;
        const char* schema;
    } cases[] = {
        // A view named like the table, running a query that never ends.
        {"endless view", "CREATE VIEW ZCOLLECTION AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                         "SELECT x + 1 FROM c) "
                         "SELECT 'FFLibrary' AS ZTYPE, x AS ZIDENTIFIER FROM c WHERE x < 0;"},
        {"huge identifier", "CREATE TABLE ZCOLLECTION (ZTYPE, ZIDENTIFIER);"
                            "INSERT INTO ZCOLLECTION VALUES ('FFLibrary', zeroblob(100000));"},
        {"wrong columns", "CREATE TABLE ZCOLLECTION (A, B);"},
        {"null identifier", "CREATE TABLE ZCOLLECTION (ZTYPE, ZIDENTIFIER); INSERT INTO "
                            "ZCOLLECTION VALUES ('FFLibrary', NULL);"},
    };
    for (const auto& c : cases) {
        const fs::path bundle = tmp / (std::string(c.name) + ".fcpbundle");
        fs::create_directories(bundle);
        sql(bundle / "CurrentVersion.flexolibrary", c.schema);
        EXPECT_EQ(libraryIdentifier(bundle), std::nullopt) << c.name;
    }
}

// Keeps a writer open with an unmerged log holding the new identifier "NEW",
// as the editor does while the library is open. Null when SQLite refuses.
sqlite3* openWriterWithLiveLog(const fs::path& db)
{
    sqlite3* writer = nullptr;
    if (sqlite3_open(db.c_str(), &writer) != SQLITE_OK ||
        sqlite3_exec(writer,
                     "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                     "UPDATE ZCOLLECTION SET ZIDENTIFIER='NEW' WHERE ZTYPE='FFLibrary';",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(writer);
        return nullptr;
    }
    return writer;
}

TEST(LibraryIdentity, LiveWriteAheadLogIsReadFromAPrivateCopy)
{
    test::TempDir tmp;
    const fs::path bundle = tmp / "Wal.fcpbundle";
    const fs::path db = bundle / "CurrentVersion.flexolibrary";
    tools::writeLibraryDatabase(db, "OLD");
    sqlite3* writer = openWriterWithLiveLog(db);
    ASSERT_NE(writer, nullptr);
    ASSERT_GT(fs::file_size(bundle / "CurrentVersion.flexolibrary-wal"), 0u);
    const auto before = entries(bundle);
    const auto shmBefore = fs::last_write_time(bundle / "CurrentVersion.flexolibrary-shm");

    EXPECT_EQ(libraryIdentifier(bundle), "NEW");
    EXPECT_EQ(entries(bundle), before);
    EXPECT_EQ(fs::last_write_time(bundle / "CurrentVersion.flexolibrary-shm"), shmBefore);
    sqlite3_close(writer);
}

// Peak resident memory of this process so far, in KiB.
long peakMemoryKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// A database of 2 GiB that takes almost no disk (holes), with a live log: the
// private copy keeps the holes and streams in the kernel, so neither memory
// nor the temporary folder sees the 2 GiB; the folder is gone afterwards.
// Over the disk-space limit there is no copy and no identifier.
TEST(LibraryIdentity, SparseDatabaseWithALiveLogIsReadWithinBounds)
{
    test::TempDir tmp;
    const fs::path bundle = tmp / "Sparse.fcpbundle";
    const fs::path db = bundle / "CurrentVersion.flexolibrary";
    tools::writeLibraryDatabase(db, "OLD");
    sqlite3* writer = openWriterWithLiveLog(db);
    ASSERT_NE(writer, nullptr);
    fs::resize_file(db, std::uintmax_t{2} << 30); // a hole up to 2 GiB
    const fs::path scratch = tmp / "scratch";
    fs::create_directories(scratch);
    ::setenv("TMPDIR", scratch.c_str(), 1);

    const long peakBefore = peakMemoryKiB();
    const platform::UniqueFd bundleFd(::open(bundle.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(libraryIdentifier(bundleFd.get()), "NEW");
    const long peakAfter = peakMemoryKiB();
    ASSERT_GT(peakBefore, 0);
    EXPECT_LT(peakAfter - peakBefore, 64 * 1024) << "KiB more at peak";
    EXPECT_TRUE(fs::is_empty(scratch)) << "the private copy is removed";

    DatabaseCopyLimits tight;
    tight.maxBytes = 4096; // less than the database and its log take on disk
    EXPECT_EQ(libraryIdentifier(bundleFd.get(), tight), std::nullopt);
    DatabaseCopyLimits noTime;
    noTime.time = std::chrono::milliseconds(-1);
    EXPECT_EQ(libraryIdentifier(bundleFd.get(), noTime), std::nullopt);
    EXPECT_TRUE(fs::is_empty(scratch));
    ::unsetenv("TMPDIR");
    sqlite3_close(writer);
}

TEST(LibraryIdentity, RealLibraryWrittenByTheEditor)
{
    const fs::path real = test::realLibraryPath();
    if (real.empty()) {
        GTEST_SKIP() << "the real library is not on this machine";
    }
    EXPECT_EQ(libraryIdentifier(real), "C60CA724-BC9C-47B9-BF22-97CBCA30D396");
}

} // namespace
} // namespace vellico::analysis
