#include "sample_library.hpp"

#include "formats/binary_plist_writer.hpp"
#include "formats/file_url.hpp"
#include "model/uuid.hpp"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace vellico::tools {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path)
{
    throw std::runtime_error(what + ": " + path.string());
}

void exec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "sqlite error";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

std::string hexName(std::mt19937& rng)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string name(32, '0');
    for (char& c : name) {
        c = digits[rng() % 16];
    }
    return name;
}

// A segment store as the editor writes them: a hex-named folder with an
// Info.plist and "Frame a - b" files.
void writeSegmentStore(const fs::path& store, std::size_t frames, std::int64_t bytesEach)
{
    makeFolders(store);
    writeFile(store / "Info.plist",
              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>\n");
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t first = i * 1024;
        writeSparseFile(
            store / ("Frame " + std::to_string(first) + " - " + std::to_string(first + 1023)),
            bytesEach);
    }
}

} // namespace

void makeFolders(const fs::path& path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec && !fs::is_directory(path)) {
        fail("cannot create folder", path);
    }
}

void writeSparseFile(const fs::path& path, std::int64_t size)
{
    makeFolders(path.parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("cannot create file", path);
    }
    const bool ok = ::ftruncate(fd, size) == 0;
    if (::close(fd) != 0 || !ok) {
        fail("cannot size file", path);
    }
}

void writeFile(const fs::path& path, std::string_view contents)
{
    makeFolders(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    if (!out) {
        fail("cannot write file", path);
    }
}

void writePropertyList(const fs::path& path, const formats::PlistValue& value, PlistFormat format)
{
    if (format == PlistFormat::xml) {
        const auto text = formats::toXmlPropertyList(value);
        if (!text) {
            fail("cannot serialise property list", path);
        }
        writeFile(path, *text);
    } else {
        const auto bytes = formats::toBinaryPropertyList(value);
        if (!bytes) {
            fail("cannot serialise property list", path);
        }
        writeFile(path,
                  std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    }
}

void writeLibraryDatabase(const fs::path& path, const std::optional<std::string>& identifier)
{
    makeFolders(path.parent_path());
    fs::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        fail("cannot create database", path);
    }
    try {
        exec(db, "CREATE TABLE ZCOLLECTION (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
                 "ZTYPE VARCHAR, ZIDENTIFIER VARCHAR, ZNAME VARCHAR)");
        exec(db, "INSERT INTO ZCOLLECTION (Z_ENT, ZTYPE, ZIDENTIFIER, ZNAME) VALUES "
                 "(3, 'FFEvent', '0B6E2C36-1111-4E3A-9D7B-7A1C2D3E4F50', 'Event')");
        if (identifier) {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db,
                               "INSERT INTO ZCOLLECTION (Z_ENT, ZTYPE, ZIDENTIFIER, ZNAME) "
                               "VALUES (2, 'FFLibrary', ?1, 'Library')",
                               -1, &stmt, nullptr);
            sqlite3_bind_text(stmt, 1, identifier->c_str(), static_cast<int>(identifier->size()),
                              SQLITE_TRANSIENT);
            const int rc = sqlite3_step(stmt);
            sqlite3_finalize(stmt);
            if (rc != SQLITE_DONE) {
                throw std::runtime_error("cannot insert library row");
            }
        }
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    sqlite3_close(db);
}

std::string fileURL(const fs::path& path)
{
    return formats::fileURLFromPath(path.string());
}

LibraryBuilder::LibraryBuilder(fs::path bundle)
    : m_bundle(std::move(bundle)), m_identifier(model::Uuid::random().toString())
{
    makeFolders(m_bundle);
    settings({{"libraryID", formats::PlistValue(m_identifier)}});
    writeLibraryDatabase(m_bundle / "CurrentVersion.flexolibrary", m_identifier);
    writePropertyList(m_bundle / "CurrentVersion.plist",
                      formats::PlistValue(formats::PlistValue::Dict{
                          {"CFBundleShortVersionString", formats::PlistValue("11.2")}}),
                      PlistFormat::xml);
    writeFile(m_bundle / ".lock", "");
    writeFile(m_bundle / ".lock-info", "");
}

LibraryBuilder& LibraryBuilder::settings(const formats::PlistValue::Dict& entries,
                                         PlistFormat format)
{
    writePropertyList(m_bundle / "Settings.plist", formats::PlistValue(entries), format);
    return *this;
}

LibraryBuilder& LibraryBuilder::identifier(const std::optional<std::string>& identifier)
{
    m_identifier = identifier.value_or("");
    writeLibraryDatabase(m_bundle / "CurrentVersion.flexolibrary", identifier);
    return *this;
}

LibraryBuilder& LibraryBuilder::folder(const fs::path& rel)
{
    makeFolders(m_bundle / rel);
    return *this;
}

LibraryBuilder& LibraryBuilder::file(const fs::path& rel, std::int64_t size)
{
    writeSparseFile(m_bundle / rel, size);
    return *this;
}

LibraryBuilder& LibraryBuilder::link(const fs::path& rel, const fs::path& target)
{
    makeFolders((m_bundle / rel).parent_path());
    std::error_code ec;
    fs::create_symlink(target, m_bundle / rel, ec);
    if (ec) {
        fail("cannot create link", m_bundle / rel);
    }
    return *this;
}

LibraryBuilder& LibraryBuilder::event(const std::string& name,
                                      const std::vector<std::string>& mediaFolders,
                                      std::int64_t bytesEach)
{
    const fs::path event = m_bundle / name;
    makeFolders(event);
    writeSparseFile(event / "CurrentVersion.fcpevent", 120 * 1024);
    std::mt19937 rng(static_cast<std::uint32_t>(std::hash<std::string>{}(name)));
    for (const std::string& media : mediaFolders) {
        writeSegmentStore(event / media / "High Quality Media" / hexName(rng), 2, bytesEach / 2);
        writeSparseFile(event / media / "High Quality Media" / ".DS_Store", 6148);
    }
    return *this;
}

void writeBackupFolder(const fs::path& folder, const BackupContents& shape)
{
    makeFolders(folder);
    auto writeOne = [&](const fs::path& backup) {
        makeFolders(backup);
        formats::PlistValue::Dict record;
        if (shape.originalURLText) {
            record.emplace_back("originalURL", formats::PlistValue(*shape.originalURLText));
        } else if (shape.originalURL) {
            record.emplace_back("originalURL", formats::PlistValue(fileURL(*shape.originalURL)));
        }
        if (shape.originalBookmark) {
            record.emplace_back("originalBookmark", formats::PlistValue(*shape.originalBookmark));
        }
        writePropertyList(backup / "__BackupInfo.plist", formats::PlistValue(record),
                          PlistFormat::binary);
        writeLibraryDatabase(backup / "CurrentVersion.flexolibrary", shape.identifier);
        writePropertyList(backup / "Settings.plist",
                          formats::PlistValue(formats::PlistValue::Dict{}), PlistFormat::xml);
        writeSparseFile(backup / "11-30-25" / "CurrentVersion.fcpevent", shape.bytesEach);
    };
    for (const std::string& name : shape.backups) {
        writeOne(folder / name);
    }
    for (const std::string& name : shape.previousVersions) {
        writeOne(folder / "Previous Versions" / name);
    }
}

void writeSyntheticLibrary(const fs::path& bundle, const SyntheticShape& shape)
{
    LibraryBuilder library(bundle);
    library.link(".fcpcache", ".");
    std::mt19937 rng(shape.seed);
    const std::size_t perStore = std::max<std::size_t>(shape.filesPerStore, 1);
    // Roughly: 60 % render files, 20 % transcoded media, 10 % analysis files,
    // 10 % original media and projects; about forty stores per event.
    std::size_t written = 0;
    std::size_t eventIndex = 0;
    while (written < shape.fileCount) {
        char eventName[32];
        std::snprintf(eventName, sizeof eventName, "2024-%02zu-%02zu Event %zu",
                      eventIndex % 12 + 1, eventIndex % 28 + 1, eventIndex);
        const fs::path event = bundle / eventName;
        makeFolders(event);
        writeSparseFile(event / "CurrentVersion.fcpevent", 64 * 1024 + rng() % 65536);
        written += 1;
        for (std::size_t store = 0; store < 40 && written < shape.fileCount; ++store) {
            const unsigned pick = rng() % 10;
            const char* media = pick < 6   ? "Render Files"
                                : pick < 8 ? "Transcoded Media"
                                : pick < 9 ? "Analysis Files"
                                           : "Original Media";
            const char* quality =
                pick < 6 ? (store % 3 == 0 ? "Peaks Data" : "High Quality Media") : "Proxy Media";
            const fs::path dir = event / media / quality / hexName(rng);
            makeFolders(dir);
            writeFile(dir / "Info.plist", "<plist version=\"1.0\"><dict/></plist>\n");
            written += 1;
            for (std::size_t f = 0; f < perStore - 1 && written < shape.fileCount; ++f, ++written) {
                // Mostly small frames, now and then a large media file.
                const std::int64_t size = (rng() % 50 == 0)
                                              ? std::int64_t{200} * 1024 * 1024 + rng() % 4096
                                              : 4096 + rng() % (512 * 1024);
                writeSparseFile(dir / ("Frame " + std::to_string(f * 1024) + " - " +
                                       std::to_string(f * 1024 + 1023)),
                                size);
            }
        }
        if (eventIndex % 4 == 0 && written < shape.fileCount) {
            writeSparseFile(event / "Project" / "CurrentVersion.fcpevent", 80 * 1024);
            ++written;
        }
        ++eventIndex;
    }
}

fs::path writeDemoLibrary(const fs::path& parent)
{
    const fs::path bundle = parent / "Mariage Dupont.fcpbundle";
    std::error_code ec;
    fs::remove_all(bundle, ec); // the demo folder is ours: rebuilt from scratch each time
    constexpr std::int64_t mb = 1000 * 1000;
    LibraryBuilder library(bundle);
    library.event("Cérémonie", {"Render Files", "Analysis Files", "Transcoded Media"}, 850 * mb)
        .event("Soirée", {"Render Files", "Shared Items"}, 2300 * mb)
        .event("Rushes drone", {"Transcoded Media"}, 6400 * mb)
        .file("Cérémonie/Original Media/A001_C003.mov", 3200 * mb)
        .file("Soirée/Original Media/B002_C011.mov", 5100 * mb)
        .file("Cérémonie/Film Final/CurrentVersion.fcpevent", 90 * 1000)
        .folder("Cérémonie/Film Final")
        .file("flexo.apple.com/Thumbnails/cache.bin", 120 * mb)
        .file("VideoSegmentationFiles/segments.dat", 45 * mb)
        .file("__Temp/Render Files/stale.mov", 10 * mb)
        .file(".hidden-cache/big.bin", 9000 * mb)
        .link(".fcpcache", ".")
        .link("Soirée/Render Files/lien-externe", "/tmp");
    return bundle;
}

} // namespace vellico::tools
