#include "cleanup/lock_record.hpp"

#include "formats/property_list.hpp"
#include "model/uuid.hpp"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

namespace vellico::cleanup {

LockRecord LockRecord::claim()
{
    LockRecord record;
    record.secondaryLockName = kSecondaryLockName;
    record.identifier = model::Uuid::random().bytes;
    record.hostname = hostName();
    record.user = loginName();
    return record;
}

LockRecord LockRecord::released()
{
    LockRecord record;
    record.hostname = hostName();
    record.user = loginName();
    return record;
}

std::optional<LockHolder> lockHolder(int bundleFd)
{
    formats::PlistLimits limits;
    limits.maxBytes = 64 * 1024; // the editor's records are a few hundred bytes
    const std::optional<formats::PlistValue> record =
        formats::readPropertyListDictionaryAt(bundleFd, ".lock-info", limits);
    if (!record) {
        return std::nullopt;
    }
    LockHolder holder;
    holder.hostname = record->stringFor("hostname").value_or("");
    // Another application takes the lock as a secondary holder under its own
    // name and a number ("Vellico 1").
    std::string secondary = record->stringFor("FFFileLockActiveSecondaryLockName").value_or("");
    holder.isVellico = secondary == kSecondaryLockName;
    const std::size_t blank = secondary.find_last_of(' ');
    if (blank != std::string::npos && blank + 1 < secondary.size() &&
        secondary.find_first_not_of("0123456789", blank + 1) == std::string::npos) {
        secondary.erase(blank);
    }
    holder.application = std::move(secondary);
    if (holder.hostname.empty() && holder.application.empty()) {
        return std::nullopt;
    }
    return holder;
}

std::optional<std::string> lockRecordXml(const LockRecord& record)
{
    // Keys in the sorted order the editor's own serialiser writes them.
    formats::PlistValue::Dict entries;
    if (record.secondaryLockName) {
        entries.emplace_back("FFFileLockActiveSecondaryLockName",
                             formats::PlistValue(*record.secondaryLockName));
    }
    entries.emplace_back("FFFileLockIdentifier",
                         formats::PlistValue(formats::PlistValue::Data(record.identifier.begin(),
                                                                       record.identifier.end())));
    entries.emplace_back("hostname", formats::PlistValue(record.hostname));
    entries.emplace_back("user", formats::PlistValue(record.user));
    return formats::toXmlPropertyList(formats::PlistValue(std::move(entries)));
}

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
        return name;
    }
    struct utsname info {};
    if (::uname(&info) == 0) {
        return info.nodename;
    }
    return {};
}

std::string loginName()
{
    const uid_t uid = ::geteuid();
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
    for (;;) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error == 0 && found != nullptr && found->pw_name != nullptr) {
            return found->pw_name;
        }
        return std::to_string(uid);
    }
}

} // namespace vellico::cleanup
