#pragma once

#include <string>
#include <string_view>

namespace vellico::docs {

// One line describing this program and system, for support requests:
// "Vellico 0.1.0 (build 4edd91d) — Linux 6.1.0". The kernel version is
// always three numbers, the patch level written even when it is 0.
std::string systemInfoString();

// "major.minor.patch" from a kernel release such as "6.1.0-18-amd64" or
// "5.15.90.1-microsoft-standard-WSL2"; a missing number counts as 0.
std::string kernelVersionTriple(std::string_view release);

// The system's name for display: PRETTY_NAME of os-release followed by the
// kernel release in parentheses, "Debian GNU/Linux 12 (bookworm) (6.1.0-18-amd64)";
// "Linux" and the release when there is no os-release.
std::string operatingSystemVersionString();

// PRETTY_NAME from the text of an os-release file, unquoted; empty when the
// key is missing.
std::string prettyNameFromOsRelease(std::string_view osRelease);

// The support mail as a mailto URL: the support address, the subject
// "Vellico — Support", and a body with the system and application versions
// followed by "Description:" on a line of its own. Subject and body are
// percent-encoded (everything but A–Z, a–z, 0–9 and "-._~"), so the URL holds
// no blank, parenthesis or bracket and can stand as a Markdown link
// destination.
std::string supportMailURLString();

// Percent-encoding as used in the support mail's query.
std::string percentEncode(std::string_view text);

} // namespace vellico::docs
