#pragma once

#include <QString>

namespace vellico::app {

// What the support mail says about this system and this build.
struct SupportMailFacts {
    QString supportAddress;
    // "Debian GNU/Linux 12 (bookworm) (6.1.0-18-amd64)": the distribution's
    // pretty name and the kernel release.
    QString systemVersion;
    // Empty values show as "?".
    QString appVersion;
    QString buildVersion;
};

// The facts of this machine and build.
SupportMailFacts currentSupportMailFacts();

// The support mail's subject and body, before any encoding.
QString supportMailSubject();
QString supportMailBody(const SupportMailFacts& facts);

// A mailto URL to the support address with the subject and body as query
// items. Both are percent-encoded completely (everything but letters, digits
// and "-._~"), so no mail client can mistake a "+", "&" or "#" of the system
// name for syntax. Falls back to "mailto:" and the address alone when the
// URL would not be valid.
QString supportMailURLString(const SupportMailFacts& facts);
QString supportMailURLString();

} // namespace vellico::app
