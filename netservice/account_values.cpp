#include "netservice/account_values.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "netservice/global_values.h"
#include "platform/host_name.h"
#include "platform/registry.h"

namespace netsvc {
namespace {

constexpr int kNoneMapped = 1332;
constexpr const char* kPolicyAccounts = "HKLM\\SECURITY\\Policy\\Accounts";

bool userName(uid_t uid, std::string& name) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return false;
    name = found->pw_name;
    return true;
}

}  // namespace

ombrix::profiles::Sid AccountSid(uid_t uid) {
    if (uid == 0) return *ombrix::profiles::Sid::Make(5, {18});
    return ombrix::profiles::Sid::User(uid);
}

std::string AccountName(uid_t uid) {
    std::string user;
    if (!userName(uid, user)) return AccountSid(uid).ToString();
    std::string domain = ombrix::platform::hostName();
    return domain.empty() ? user : domain + "\\" + user;
}

void PublishAccountValues() {
    uid_t uid = ::geteuid();
    bool system = AccountSid(uid) == *ombrix::profiles::Sid::Make(5, {18});
    SetGlobal("NetAccountSystem", system ? "1" : "0");
    SetGlobal("NetAccount", AccountName(uid));
}

int GrantServiceLogonRight(const std::string& account) {
    std::string user = account;
    if (size_t slash = user.find_last_of("\\/"); slash != std::string::npos) {
        user = user.substr(slash + 1);
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (user.empty() ||
        ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return kNoneMapped;
    }
    std::string key = std::string(kPolicyAccounts) + "\\" + AccountSid(found->pw_uid).ToString();
    if (int rc = ombrix::registry::createKey(key); rc != 0) return rc;
    return ombrix::registry::setDword(key, "SeServiceLogonRight", 1);
}

}  // namespace netsvc
