#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vellico::cleanup {

// The name under which Vellico takes the editor's lock: the lock record's
// secondary lock name, and the marker file's name in ".lock-dir".
inline constexpr const char* kSecondaryLockName = "Vellico 1";

// The editor's lock record, the property list ".lock-info" beside ".lock".
// A claim names the secondary lock and carries a fresh random identifier; the
// released form has no secondary lock name and an identifier of zeros.
struct LockRecord {
    std::optional<std::string> secondaryLockName; // FFFileLockActiveSecondaryLockName
    std::array<std::uint8_t, 16> identifier{};    // FFFileLockIdentifier, a UUID's bytes
    std::string hostname;
    std::string user;

    // The record written when Vellico claims a library: a new version-4 UUID,
    // this machine's host name and the current user's login name.
    static LockRecord claim();
    // The record written when Vellico gives the library back.
    static LockRecord released();
};

// Who holds a library, as its lock record says.
struct LockHolder {
    bool isVellico = false; // the record names our secondary lock: another Vellico
    std::string hostname;   // may be empty
    // The secondary holder's name without its number ("Vellico 1" gives
    // "Vellico"); empty: the editor itself.
    std::string application;
};

// The holder named by ".lock-info" in the open library `bundleFd` (read
// bounded, no link followed); none when the record is missing, unreadable or
// names neither a host nor a secondary holder. Says nothing of whether the
// lock is held.
std::optional<LockHolder> lockHolder(int bundleFd);

// The record as an XML property list (version 1.0), the form the editor writes
// and reads. None only when the serialiser fails.
std::optional<std::string> lockRecordXml(const LockRecord& record);

// This machine's host name (gethostname, uname as fallback); empty if neither
// answers.
std::string hostName();

// Login name of the effective user from the password database; the numeric
// user id when the database has no entry.
std::string loginName();

} // namespace vellico::cleanup
