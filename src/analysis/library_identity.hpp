#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vellico::analysis {

// The library's identifier: ZIDENTIFIER of the first ZCOLLECTION row whose
// ZTYPE is 'FFLibrary' in the bundle's "CurrentVersion.flexolibrary".
//
// Never writes into the bundle: the database is opened immutable (no lock, no
// -wal or -shm files), and a database with a live write-ahead log is read from
// a private copy of both files so that recent changes are seen. Hostile
// databases are contained: defensive mode, untrusted schema, a bound on the
// work done and on the identifier's length. Every failure means "none".
std::optional<std::string> libraryIdentifier(const std::filesystem::path& bundle);

} // namespace vellico::analysis
