#include "cleanup/lock_record.hpp"

#include "model/uuid.hpp"

#include <plist/plist.h>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

namespace vellico::cleanup {

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct XmlDeleter {
    void operator()(char* xml) const { plist_to_xml_free(xml); }
};

} // namespace

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

std::optional<std::string> lockRecordXml(const LockRecord& record)
{
    PlistPtr dict(plist_new_dict());
    if (!dict) {
        return std::nullopt;
    }
    // Inserted in the sorted key order the editor's own serialiser uses.
    if (record.secondaryLockName) {
        plist_dict_set_item(dict.get(), "FFFileLockActiveSecondaryLockName",
                            plist_new_string(record.secondaryLockName->c_str()));
    }
    plist_dict_set_item(dict.get(), "FFFileLockIdentifier",
                        plist_new_data(reinterpret_cast<const char*>(record.identifier.data()),
                                       record.identifier.size()));
    plist_dict_set_item(dict.get(), "hostname", plist_new_string(record.hostname.c_str()));
    plist_dict_set_item(dict.get(), "user", plist_new_string(record.user.c_str()));

    char* raw = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(dict.get(), &raw, &length);
    std::unique_ptr<char, XmlDeleter> xml(raw);
    if (!xml || length == 0) {
        return std::nullopt;
    }
    return std::string(xml.get(), length);
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
