#pragma once

#include "i18n/system_error.hpp"

#include <filesystem>
#include <string>
#include <string_view>

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
    newItems,         // something appeared in a directory after it was listed: the
                      // directory and what appeared in it are left in place
    holdsLibrary,     // the folder is the library itself or a folder holding it: untouched
    outsideBounds,    // the folder lies outside the folders the removal was confined to
};

// The first failure met while removing one folder. `path` is the item the
// failure is about (the folder itself or something inside it). errorNumber is
// always set: the errno of the failing call, or, where no call failed, the
// error the system itself gives in such a place (ENODATA for identityUnknown,
// ESTALE for a changed identity, EBUSY for a mount point, EINTR for a stop
// request, ENOTEMPTY for newItems, EINVAL for holdsLibrary, EPERM for
// outsideBounds; a folder that became a link or a file carries the ELOOP or
// ENOTDIR of the refused open). EINVAL with systemError means the record
// itself was unusable (a relative url). Front ends show messageKey()'s text
// where there is one, and the system's message otherwise.
struct RemovalError {
    RemovalProblem problem = RemovalProblem::systemError;
    int errorNumber = 0;
    std::filesystem::path path;

    bool operator==(const RemovalError&) const = default;
};

using i18n::systemErrorText;

// The system's text for the error: systemErrorText(error.errorNumber).
std::string describe(const RemovalError& error);

// The catalogue key of the front ends' own text for a problem that is not a
// failed system call (its %1 is the path concerned); empty for systemError,
// whose text is the system's.
std::string_view messageKey(RemovalProblem problem);

} // namespace vellico::cleanup
