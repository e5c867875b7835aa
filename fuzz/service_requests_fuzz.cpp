// Feeds arbitrary bytes, cut into 304-byte records, to the service's request table (with three
// units and a driver that accepts every image) and checks after each record that the logon map
// is sound and its published "OMXLogons" matches it.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <memory>
#include <set>
#include <string>

#include "outside/env/oxtenv.h"
#include "service/request_table.h"

namespace {

struct Target {
    std::string root;
    SafeLogonMap logons;
    ServiceRequests table;

    static ServiceRequests::Hooks hooks() {
        ServiceRequests::Hooks h;
        h.driverInsert = [](const CDriveInfo&, std::string_view, std::string_view,
                            const ServiceRequests::Caller*) { return 0u; };
        // Sessions 1 and 2 belong to accounts 1000 and 1001; account 1002 administers.
        h.sessionAccount = [](uint32_t session) -> std::optional<std::pair<uid_t, std::string>> {
            if (session != 1 && session != 2) return std::nullopt;
            return std::make_pair(uid_t(999 + session), "user");
        };
        h.isAdministrator = [](uid_t uid) { return uid == 1002; };
        h.hasRight = [](uid_t, int right) { return right == 2; };
        h.callNetPipe = [](CMountRequest&) { return true; };
        h.enumerateSessions = [](std::vector<uint32_t>& ids) {
            ids = {1, 2, 3};
            return true;
        };
        return h;
    }

    explicit Target(std::string folder) : root(std::move(folder)), table(logons, hooks()) {
        for (int32_t n : {0, 1, 17}) {
            auto unit = std::make_unique<CDriveInfo>();
            unit->number = n;
            unit->deviceName = "\\Device\\CdRom" + std::to_string(n);
            table.addUnit(std::move(unit));
        }
    }
};

std::string makeRoot() {
    char dir[] = "/tmp/service-fuzz-XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    ::setenv("OMBRIX_ROOT", dir, 1);
    return dir;
}

// One machine root for the run; every input starts with fresh units and an empty logon map.
const std::string& root() {
    static std::string folder = makeRoot();
    static bool cleanup = (std::atexit([] {
                               std::error_code ec;
                               std::filesystem::remove_all(folder, ec);
                           }),
                           true);
    (void)cleanup;
    return folder;
}

void check(bool condition) {
    if (!condition) std::abort();
}

void checkLogons(Target& t) {
    std::vector<uint32_t> keys = t.logons.sessions();
    std::set<uint32_t> unique(keys.begin(), keys.end());
    check(unique.size() == keys.size());
    check(keys.size() == t.logons.size());
    for (uint32_t key : keys)
        check(t.logons.lookup(key).has_value());
    static char published[1 << 20];
    published[0] = '\0';
    EnvGetGlobalValue("OMXLogons", published, sizeof published);
    check(t.logons.keyText() == published);
    // A unit never holds the empty device's users, and its users hold no more than they inserted.
    check(t.table.emptyDevice() != nullptr && t.table.emptyDevice()->users.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Target t(root());
    for (size_t offset = 0; offset + sizeof(CMountRequest) <= size;
         offset += sizeof(CMountRequest)) {
        CMountRequest record;
        record.fromBytes(data + offset);
        // The first word, which the service never reads, picks who sends the record.
        static const uid_t kCallers[] = {0, 1000, 1001, 1002, 65534};
        const uid_t uid = kCallers[record.m_header % 5];
        const bool privileged = uid == 0 || uid == 1002;
        std::vector<std::list<uint32_t>> before;
        for (CDriveInfo* unit : t.table.units())
            before.push_back(unit->users);
        t.table.handle(record, ServiceRequests::Caller{1, uid, uid});
        checkLogons(t);
        // An account without privileges changes no unit but for its own session.
        if (!privileged) {
            const uint32_t own = uid == 1000 ? 1 : uid == 1001 ? 2 : 0xFFFFFFFFu;
            size_t i = 0;
            for (CDriveInfo* unit : t.table.units()) {
                std::list<uint32_t> others = unit->users, was = before[i++];
                others.remove(own);
                was.remove(own);
                check(others == was);
            }
        }
    }
    return 0;
}
