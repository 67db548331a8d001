#pragma once

#include <filesystem>
#include <string>

namespace vellico::cleanup {

// Why a folder was not removed completely.
enum class RemovalProblem {
    systemError,      // a system call failed; errorNumber says which error
    identityUnknown,  // the analysis recorded no identity: the folder is never touched
    identityChanged,  // the item at the folder's place is not the folder the analysis saw
                      // (or a directory moved during the walk): nothing more is removed
    mountPointInside, // another file system is mounted inside; it is left untouched
    mountPoint,       // the folder itself is another file system's mount point: untouched
    interrupted,      // a stop was asked for: the entry in hand was finished, nothing more
                      // removed
};

// The first failure met while removing one folder. `path` is the item the
// failure is about (the folder itself or something inside it). errorNumber is
// always set: the errno of the failing call, or, where no call failed, the
// error the system itself gives in such a place (ENODATA for identityUnknown,
// ESTALE for a changed identity, EBUSY for a mount point, EINTR for a stop
// request; a folder that became
// a link or a file carries the ELOOP or ENOTDIR of the refused open). A
// caller with no text of its own for the problem shows the system's message.
// EINVAL means the record itself was unusable (a relative url, or the library
// or a folder holding it).
struct RemovalError {
    RemovalProblem problem = RemovalProblem::systemError;
    int errorNumber = 0;
    std::filesystem::path path;

    bool operator==(const RemovalError&) const = default;
};

// The system's description of an error number in the language of the
// process's current locale (LC_MESSAGES, after the application has called
// setlocale(LC_ALL, "")). Thread-safe.
std::string systemErrorText(int errorNumber);

// The system's text for the error: systemErrorText(error.errorNumber).
std::string describe(const RemovalError& error);

} // namespace vellico::cleanup
