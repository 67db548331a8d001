#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vellico::analysis {

// The library's identifier: ZIDENTIFIER of the first ZCOLLECTION row whose
// ZTYPE is 'FFLibrary' in the bundle's "CurrentVersion.flexolibrary".
//
// Never writes into the bundle: the database is opened immutable (no lock, no
// -wal or -shm files), and a database with a live write-ahead log is read from
// a private copy of both files so that recent changes are seen. The copy
// streams in the kernel and keeps holes, so it holds no file in memory and
// writes no more than the files' allocated size, into a folder only this user
// may enter, removed afterwards; files taking more than the limit on disk,
// or a copy running past its time, give "none". Hostile
// databases are contained: defensive mode, untrusted schema, a bound on the
// work done and on the identifier's length. Every failure means "none".
std::optional<std::string> libraryIdentifier(const std::filesystem::path& bundle);

// Bounds on the private copy of a database with a live write-ahead log.
struct DatabaseCopyLimits {
    // Disk space the database and its log may take together.
    std::uint64_t maxBytes = std::uint64_t{512} << 20;
    std::chrono::milliseconds time{20'000};
};

// The same for the open bundle `bundleFd`: the database and its log are
// reached from the descriptor, never through the bundle's path.
// SQLite reads the database through the descriptor that was checked to be
// a regular file, never by its name again. `checked`, when set, is called
// between that check and the database's open (a seam for tests).
std::optional<std::string> libraryIdentifier(int bundleFd, const DatabaseCopyLimits& limits = {},
                                             const std::function<void()>& checked = {});

} // namespace vellico::analysis
