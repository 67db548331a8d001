#pragma once

#include "formats/property_list.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Writes realistic library bundles: the files the editor keeps at the top of
// a library, events with generated-media folders and other folders, sparse
// files of any size, hidden entries, symbolic links, backups. The demo
// library of `make run`, the benchmarks and the tests are all built with it.
namespace vellico::tools {

enum class PlistFormat { xml, binary };

// Creates every missing folder of `path` (like mkdir -p). Throws on failure:
// this is test and tooling code, and a half-built fixture must not pass.
void makeFolders(const std::filesystem::path& path);

// A file of `size` logical bytes taking (almost) no disk space: a hole, then
// nothing. Parent folders are created.
void writeSparseFile(const std::filesystem::path& path, std::int64_t size);

// A small file with the given contents. Parent folders are created.
void writeFile(const std::filesystem::path& path, std::string_view contents);

void writePropertyList(const std::filesystem::path& path, const formats::PlistValue& value,
                       PlistFormat format);

// The library database with a ZCOLLECTION table holding a few event rows and,
// when `identifier` is given, one 'FFLibrary' row carrying it.
void writeLibraryDatabase(const std::filesystem::path& path,
                          const std::optional<std::string>& identifier);

// Builds one library bundle step by step. Paths given to the member
// functions are relative to the bundle.
class LibraryBuilder {
public:
    // Creates the bundle folder with "Settings.plist" (an empty dictionary
    // unless settings() says otherwise), "CurrentVersion.flexolibrary" with a
    // fresh identifier, "CurrentVersion.plist", and the hidden lock files.
    explicit LibraryBuilder(std::filesystem::path bundle);

    LibraryBuilder& settings(const formats::PlistValue::Dict& entries,
                             PlistFormat format = PlistFormat::xml);
    LibraryBuilder& identifier(const std::optional<std::string>& identifier);
    LibraryBuilder& folder(const std::filesystem::path& rel);
    LibraryBuilder& file(const std::filesystem::path& rel, std::int64_t size);
    LibraryBuilder& link(const std::filesystem::path& rel, const std::filesystem::path& target);
    // An event folder with the given generated-media folders ("Render Files",
    // "Analysis Files"…), each holding segment stores worth `bytesEach`.
    LibraryBuilder& event(const std::string& name, const std::vector<std::string>& mediaFolders,
                          std::int64_t bytesEach);

    const std::filesystem::path& path() const { return m_bundle; }
    const std::string& libraryIdentifier() const { return m_identifier; }

private:
    std::filesystem::path m_bundle;
    std::string m_identifier;
};

// A per-library backup folder: timed backup bundles, each with its
// "__BackupInfo.plist" record naming `original`, and optionally a
// "Previous Versions" folder of older ones.
struct BackupContents {
    std::vector<std::string> backups{"20240315_1042_GMT+1.fcpbundle"};
    std::vector<std::string> previousVersions;
    std::optional<std::filesystem::path> originalURL; // written as a file: URL
    std::optional<std::string> originalURLText;       // written as given, in its place
    std::optional<std::vector<std::uint8_t>> originalBookmark;
    std::optional<std::string> identifier; // written into each backup's database
    std::int64_t bytesEach = 4096;
};
void writeBackupFolder(const std::filesystem::path& folder, const BackupContents& shape);

// "file://" URL text of an absolute path, percent-encoded.
std::string fileURL(const std::filesystem::path& path);

// A library shaped like real ones, holding about `fileCount` files: many
// events, render and transcoded segment stores, analysis files, original
// media, projects, small and large (sparse) files.
struct SyntheticShape {
    std::size_t fileCount = 200000;
    std::size_t filesPerStore = 64;
    std::uint32_t seed = 1;
};
void writeSyntheticLibrary(const std::filesystem::path& bundle, const SyntheticShape& shape);

// The demo library of `make run`: a few events with every kind of generated
// folder, a top-level data folder, a project, hidden files and links.
std::filesystem::path writeDemoLibrary(const std::filesystem::path& parent);

} // namespace vellico::tools
