#include "formats/bookmark_data.hpp"
#include "formats/bookmark_writer.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vellico::formats {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The 256-byte blob of the format notes' worked example, transcribed from
// its listing: target /Volumes/Archive/Cache on volume "Archive".
const char* const workedExampleHex = "626f6f6b000100000000041030000000"
                                     "00000000000000000000000000000000"
                                     "00000000000000000000000000000000"
                                     "8c0000000700000001010000566f6c75"
                                     "6d657300070000000101000041726368"
                                     "69766500050000000101000043616368"
                                     "650000000c0000000106000004000000"
                                     "14000000240000001000000001010000"
                                     "2f566f6c756d65732f41726368697665"
                                     "24000000010100003041314232433344"
                                     "2d344535462d344136422d384337442d"
                                     "3945304631413242334334443c000000"
                                     "feffffff010000000000000004000000"
                                     "04100000340000000000000002200000"
                                     "48000000000000001020000014000000"
                                     "00000000112000006000000000000000";

// Its form-B header, which replaces the first 48 bytes.
const char* const formBHeaderHex = "626f6f6b000000006d61726b00000000"
                                   "3800000038000000d000000000000410"
                                   "000000000000000000000000000000000000000000000000";

const char* const exampleUuid = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";

Bytes fromHex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string sha256Hex(const Bytes& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr), 1);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

void putU32(Bytes& bytes, std::size_t pos, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(pos + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

BookmarkTarget archiveBookmark(BookmarkForm form = BookmarkForm::data)
{
    BookmarkTarget shape;
    shape.form = form;
    shape.pathComponents = {"Volumes", "Archive", "Cache"};
    shape.volumePath = "/Volumes/Archive";
    shape.volumeName = "Archive";
    shape.volumeUUID = exampleUuid;
    return shape;
}

void expectExampleFields(const std::optional<BookmarkInfo>& info)
{
    ASSERT_TRUE(info);
    EXPECT_EQ(info->targetPath, "/Volumes/Archive/Cache");
    EXPECT_EQ(info->pathComponents, (std::vector<std::string>{"Volumes", "Archive", "Cache"}));
    EXPECT_EQ(info->volumePath, "/Volumes/Archive");
    EXPECT_EQ(info->volumeName, "Archive");
    EXPECT_EQ(info->volumeUUID, exampleUuid);
}

TEST(BookmarkData, WorkedExampleMatchesItsPublishedBytesAndDigest)
{
    const Bytes expected = fromHex(workedExampleHex);
    ASSERT_EQ(expected.size(), 256u);
    EXPECT_EQ(sha256Hex(expected),
              "1bed55a778b81115311e66ab62837c03846c993c01a9e5778766858c51e6e3bf");
    EXPECT_EQ(makeBookmarkData(archiveBookmark()), expected);

    const auto info = readBookmarkData(expected);
    expectExampleFields(info);
    EXPECT_EQ(info->form, BookmarkForm::data);
}

TEST(BookmarkData, RoundTripsThroughTheWriterInBothForms)
{
    const std::string nfdArchive = "Archiv\x65\xCC\x81";      // "Archivé", decomposed
    const std::string nfdEvent = "E\xCC\x81ve\xCC\x80nement"; // "Évènement", decomposed
    struct Case {
        const char* name;
        BookmarkTarget shape;
        std::optional<std::string> target;
        std::optional<std::string> volumePath;
    };
    const std::vector<Case> cases = {
        {"example", archiveBookmark(), "/Volumes/Archive/Cache", "/Volumes/Archive"},
        {"decomposed names",
         {BookmarkForm::data,
          {"Volumes", nfdArchive, nfdEvent},
          "/Volumes/" + nfdArchive,
          std::nullopt,
          nfdArchive,
          std::nullopt},
         "/Volumes/" + nfdArchive + "/" + nfdEvent,
         "/Volumes/" + nfdArchive},
        {"startup disk",
         {BookmarkForm::data,
          {"Users", "jo", "Movies", "Lib.fcpbundle"},
          "/",
          std::nullopt,
          "Macintosh HD",
          std::nullopt},
         "/Users/jo/Movies/Lib.fcpbundle",
         "/"},
        {"volume path from the URL, percent-decoded",
         {BookmarkForm::data,
          {"Volumes", "Archive 1", "x"},
          std::nullopt,
          "file:///Volumes/Archive%201/",
          "Archive",
          std::nullopt},
         "/Volumes/Archive 1/x",
         "/Volumes/Archive 1"},
        {"volume path with a trailing slash",
         {BookmarkForm::data,
          {"Volumes", "A", "x"},
          "/Volumes/A/",
          std::nullopt,
          std::nullopt,
          std::nullopt},
         "/Volumes/A/x",
         "/Volumes/A"},
        {"volume URL of another scheme",
         {BookmarkForm::data,
          {"Volumes", "Share", "x"},
          std::nullopt,
          "smb://user@host/Share",
          std::nullopt,
          std::nullopt},
         "/Volumes/Share/x",
         std::nullopt},
        {"volume URL escaping out with %2E%2E",
         {BookmarkForm::data,
          {"Volumes", "A", "x"},
          std::nullopt,
          "file:///Volumes/%2E%2E/",
          std::nullopt,
          std::nullopt},
         "/Volumes/A/x",
         std::nullopt},
        {"volume URL with the localhost host in capitals",
         {BookmarkForm::data,
          {"Volumes", "Archive", "x"},
          std::nullopt,
          "FILE://LOCALHOST/Volumes/Archive/",
          std::nullopt,
          std::nullopt},
         "/Volumes/Archive/x",
         "/Volumes/Archive"},
        {"volume URL hiding a slash in an escape",
         {BookmarkForm::data,
          {"Volumes", "A", "B", "x"},
          std::nullopt,
          "file:///Volumes/A%2FB/",
          std::nullopt,
          std::nullopt},
         "/Volumes/A/B/x",
         std::nullopt},
        {"volume URL with a bad escape",
         {BookmarkForm::data,
          {"Volumes", "A", "x"},
          std::nullopt,
          "file:///Volumes/A%2",
          std::nullopt,
          std::nullopt},
         "/Volumes/A/x",
         std::nullopt},
        {"relative volume path",
         {BookmarkForm::data,
          {"Volumes", "A", "x"},
          "Volumes/A",
          std::nullopt,
          std::nullopt,
          std::nullopt},
         "/Volumes/A/x",
         std::nullopt},
    };
    for (const Case& c : cases) {
        for (const BookmarkForm form : {BookmarkForm::data, BookmarkForm::file}) {
            SCOPED_TRACE(std::string(c.name) +
                         (form == BookmarkForm::file ? " (file)" : " (data)"));
            BookmarkTarget shape = c.shape;
            shape.form = form;
            const auto info = readBookmarkData(makeBookmarkData(shape));
            ASSERT_TRUE(info);
            EXPECT_EQ(info->form, form);
            EXPECT_EQ(info->targetPath, c.target);
            EXPECT_EQ(info->volumePath, c.volumePath);
            EXPECT_EQ(info->volumeName, shape.volumeName);
            EXPECT_EQ(info->volumeUUID, shape.volumeUUID);
        }
    }
}

TEST(BookmarkData, FirstTocWinsAndLaterTocsOnlyFillMissingKeys)
{
    for (const BookmarkForm form : {BookmarkForm::data, BookmarkForm::file}) {
        BookmarkWriter writer;
        const std::uint32_t volumes = writer.addString("Volumes");
        const std::uint32_t archive = writer.addString("Archive");
        const std::uint32_t cache = writer.addString("Cache");
        const std::uint32_t target = writer.addArray(std::vector{volumes, archive, cache});
        const std::uint32_t bootPath = writer.addArray(std::vector{writer.addString("Users")});
        const std::uint32_t uuid = writer.addString(exampleUuid);
        // The primary describes the target's volume; the second, like the
        // Mac's 0xF000 TOC, the startup disk.
        writer.addToc(
            1,
            {{0x1004, target}, {0x2002, writer.addString("/Volumes/Archive")}, {0x2010, archive}});
        writer.addToc(0xF000, {{0x1004, bootPath},
                               {0x2002, writer.addString("/")},
                               {0x2010, writer.addString("Macintosh HD")},
                               {0x2011, uuid}});
        const auto info = readBookmarkData(writer.finish(form));
        ASSERT_TRUE(info);
        EXPECT_EQ(info->targetPath, "/Volumes/Archive/Cache");
        EXPECT_EQ(info->volumePath, "/Volumes/Archive");
        EXPECT_EQ(info->volumeName, "Archive");
        EXPECT_EQ(info->volumeUUID, exampleUuid); // only the second TOC has it
    }
}

TEST(BookmarkData, SkipsUnknownKeysTypesAndStringKeys)
{
    BookmarkWriter writer;
    const std::uint32_t target =
        writer.addArray(std::vector{writer.addString("Volumes"), writer.addString("A")});
    const std::uint8_t unknownPayload[] = {1, 2, 3};
    const std::uint32_t unknown = writer.addRecord(0x7777, unknownPayload);
    const std::uint32_t keyName = writer.addString("NSURLVolumeURLKey");
    const std::uint8_t options[] = {0x00, 0x04, 0, 0};
    const std::uint32_t creationOptions = writer.addRecord(0x0303, options);
    // The volume path as an array of components, as one description has it.
    const std::uint32_t volumePath =
        writer.addArray(std::vector{writer.addString("Volumes"), writer.addString("A")});
    const std::uint8_t uuidBytes[16] = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x4A, 0x6B,
                                        0x8C, 0x7D, 0x9E, 0x0F, 0x1A, 0x2B, 0x3C, 0x4D};
    const std::uint32_t uuid = writer.addRecord(0x0801, uuidBytes);
    writer.addToc(1, {{0x1004, target},
                      {0x2002, volumePath},
                      {0x2011, uuid},
                      {0x9999, unknown},
                      {0xD010, creationOptions},
                      {0x80000000u | keyName, unknown}});
    const auto info = readBookmarkData(writer.finish(BookmarkForm::data));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->targetPath, "/Volumes/A");
    EXPECT_EQ(info->volumePath, "/Volumes/A");
    EXPECT_EQ(info->volumeUUID, exampleUuid);
}

TEST(BookmarkData, EveryTruncationOfTheExampleIsRefused)
{
    const Bytes full = fromHex(workedExampleHex);
    for (std::size_t length = 0; length < full.size(); ++length) {
        const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(readBookmarkData(prefix)) << "length " << length;
    }
    Bytes formB = makeBookmarkData(archiveBookmark(BookmarkForm::file));
    formB.pop_back();
    EXPECT_FALSE(readBookmarkData(formB));
}

// A malformed blob and what reading it must give: nothing at all, or a
// bookmark with some fields absent.
struct MalformedCase {
    const char* name;
    std::function<Bytes()> make;
    bool isBookmark = false;
    std::optional<std::string> target = {};
    std::optional<std::string> volumePath = {};
    std::optional<std::string> volumeName = {};
};

Bytes example()
{
    return fromHex(workedExampleHex);
}

Bytes patched(std::size_t pos, std::uint32_t value)
{
    Bytes bytes = example();
    putU32(bytes, pos, value);
    return bytes;
}

Bytes withComponents(std::vector<std::string> components)
{
    BookmarkTarget shape = archiveBookmark();
    shape.pathComponents = std::move(components);
    return makeBookmarkData(shape);
}

// Absolute positions in the worked example (data section at 0x30).
constexpr std::size_t firstTocField = 0x30;
constexpr std::size_t tocRecord = 0xbc;
constexpr std::size_t tocNext = tocRecord + 12;
constexpr std::size_t tocCount = tocRecord + 16;
constexpr std::size_t pathEntryOffset = 0xd4;
constexpr std::size_t volumePathEntryOffset = 0xe0;
constexpr std::size_t cacheRecordLength = 0x54;
constexpr std::size_t firstArrayElement = 0x6c;
constexpr std::uint32_t relArray = 0x34;
constexpr std::uint32_t relToc = 0x8c;

TEST(BookmarkData, MalformedInputIsRefusedOrDegradedSafely)
{
    const std::optional<std::string> exampleTarget = "/Volumes/Archive/Cache";
    const std::optional<std::string> exampleVolume = "/Volumes/Archive";
    const std::optional<std::string> exampleName = "Archive";
    const std::vector<MalformedCase> cases = {
        {"empty", [] { return Bytes{}; }},
        {"magic only",
         [] {
             return Bytes{'b', 'o', 'o', 'k'};
         }},
        {"wrong magic", [] { return patched(0, 0x6b6f6f63); }}, // "cook"
        {"total length past the end", [] { return patched(4, 257); }},
        {"total length too small", [] { return patched(4, 8); }},
        {"data start below the header fields", [] { return patched(12, 8); }},
        {"data start past the end", [] { return patched(12, 253); }},
        {"first TOC past the end", [] { return patched(firstTocField, 0xFFFFFFF0); }},
        {"first TOC inside a record", [] { return patched(firstTocField, 0x04); }},
        {"first TOC with a huge count", [] { return patched(tocCount, 0xFFFFFFFF); }},
        {"first TOC with a count one too many", [] { return patched(tocCount, 5); }},
        {"form B data start inside the header",
         [] {
             Bytes b = makeBookmarkData(archiveBookmark(BookmarkForm::file));
             putU32(b, 16, 48);
             return b;
         }},
        {"form B data length past the end",
         [] {
             Bytes b = makeBookmarkData(archiveBookmark(BookmarkForm::file));
             putU32(b, 24, 0xFFFFFFF0);
             return b;
         }},
        {"form B empty data section",
         [] {
             Bytes b = makeBookmarkData(archiveBookmark(BookmarkForm::file));
             putU32(b, 24, 0);
             return b;
         }},
        {"larger than the cap",
         [] {
             Bytes b = example();
             b.resize(maxBookmarkBytes + 1, 0);
             return b;
         }},
        {"trailing bytes after the blob",
         [] {
             Bytes b = example();
             b.resize(b.size() + 100, 0xAA);
             return b;
         },
         true, exampleTarget, exampleVolume, exampleName},
        {"TOC pointing at itself", [] { return patched(tocNext, relToc); }, true, exampleTarget,
         exampleVolume, exampleName},
        {"later TOC past the end", [] { return patched(tocNext, 0x7FFFFFFF); }, true, exampleTarget,
         exampleVolume, exampleName},
        {"later TOC that is a string", [] { return patched(tocNext, 0x04); }, true, exampleTarget,
         exampleVolume, exampleName},
        {"path record past the end", [] { return patched(pathEntryOffset, 0xFFFFFFF8); }, true,
         std::nullopt, exampleVolume, exampleName},
        {"path record length past the end", [] { return patched(cacheRecordLength, 0xFFFFFFFF); },
         true, std::nullopt, exampleVolume, exampleName},
        {"path record that is a string", [] { return patched(pathEntryOffset, 0x48); }, true,
         std::nullopt, exampleVolume, exampleName},
        {"array that contains itself", [] { return patched(firstArrayElement, relArray); }, true,
         std::nullopt, exampleVolume, exampleName},
        {"array element past the end", [] { return patched(firstArrayElement, 0xFFFFFFFF); }, true,
         std::nullopt, exampleVolume, exampleName},
        {"array length not a multiple of 4", [] { return patched(0x64, 11); }, true, std::nullopt,
         exampleVolume, exampleName},
        {"volume path that is an array containing itself",
         [] {
             Bytes b = patched(volumePathEntryOffset, relArray);
             putU32(b, firstArrayElement, relArray);
             return b;
         },
         true, std::nullopt, std::nullopt, exampleName},
        {"component ..",
         [] {
             return withComponents({"Volumes", "..", "etc"});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"component .",
         [] {
             return withComponents({"Volumes", ".", "x"});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"empty component",
         [] {
             return withComponents({"Volumes", "", "x"});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"component with a slash",
         [] {
             return withComponents({"Volumes", "a/../../etc"});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"component with NUL",
         [] {
             return withComponents({"Volumes", std::string("a\0b", 3)});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"component with an invalid byte",
         [] {
             return withComponents({"Volumes", "a\xFF"});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"component with an overlong slash",
         [] {
             return withComponents({"Volumes", "a\xC0\xAF.."});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"component with a surrogate",
         [] {
             return withComponents({"Volumes", "\xED\xA0\x80"});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"component cut inside a character",
         [] {
             return withComponents({"Volumes", "caf\xC3"});
         },
         true, std::nullopt, exampleVolume, exampleName},
        {"no components at all", [] { return withComponents({}); }, true, std::nullopt,
         exampleVolume, exampleName},
        {"volume path with ..",
         [] {
             BookmarkTarget shape = archiveBookmark();
             shape.volumePath = "/Volumes/../..";
             return makeBookmarkData(shape);
         },
         true, exampleTarget, std::nullopt, exampleName},
        {"volume name that is not UTF-8",
         [] {
             BookmarkTarget shape = archiveBookmark();
             shape.volumeName = "Arch\xE9";
             return makeBookmarkData(shape);
         },
         true, exampleTarget, exampleVolume, std::nullopt},
        {"one record shared by a million elements",
         [] {
             BookmarkWriter writer;
             const std::uint32_t big = writer.addString(std::string(4000, 'x'));
             const std::vector<std::uint32_t> elements(1'000'000, big);
             writer.addToc(1, {{0x1004, writer.addArray(elements)}});
             return writer.finish(BookmarkForm::data);
         },
         true},
        {"a path longer than any real one",
         [] { return withComponents(std::vector<std::string>(3000, "ab")); }, true, std::nullopt,
         exampleVolume, exampleName},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto info = readBookmarkData(c.make());
        ASSERT_EQ(info.has_value(), c.isBookmark);
        if (info) {
            EXPECT_EQ(info->targetPath, c.target);
            EXPECT_EQ(info->volumePath, c.volumePath);
            EXPECT_EQ(info->volumeName, c.volumeName);
            EXPECT_EQ(info->pathComponents.empty(), !c.target.has_value());
        }
    }
}

class AliasFile : public ::testing::Test {
protected:
    void write(const char* name, const Bytes& bytes)
    {
        std::ofstream out(m_dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::optional<BookmarkInfo> read(const char* name)
    {
        return readAliasFileAt(AT_FDCWD, (m_dir / name).c_str());
    }

    test::TempDir m_dir;
};

TEST_F(AliasFile, ReadsTheFileFormFromDisk)
{
    write("Archive alias", makeBookmarkData(archiveBookmark(BookmarkForm::file)));
    expectExampleFields(read("Archive alias"));
}

TEST_F(AliasFile, RefusesWhatIsNotAModernAlias)
{
    write("data form", makeBookmarkData(archiveBookmark(BookmarkForm::data)));
    write("empty data fork", {});
    Bytes huge = makeBookmarkData(archiveBookmark(BookmarkForm::file));
    huge.resize(maxBookmarkBytes + 1, 0);
    write("huge", huge);
    ASSERT_EQ(::mkfifo((m_dir / "fifo").c_str(), 0600), 0);
    write("real", makeBookmarkData(archiveBookmark(BookmarkForm::file)));
    std::filesystem::create_symlink(m_dir / "real", m_dir / "link");

    for (const char* name : {"data form", "empty data fork", "huge", "fifo", "link", "missing"}) {
        EXPECT_FALSE(read(name)) << name;
    }
}

} // namespace
} // namespace vellico::formats
