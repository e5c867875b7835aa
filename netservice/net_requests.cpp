#include "netservice/net_requests.h"

#include <filesystem>

#include "log/oxtlog.h"
#include "netservice/header_check.h"
#include "outside/env/oxtenv.h"

CNetRequests::CNetRequests(CSharedFiles& files, CSharedFiles::Push push)
    : files_(files), push_(std::move(push)) {}

bool CNetRequests::MayAsk(int32_t code, uid_t uid, const std::function<bool(uid_t)>& rightEight) {
    if (uid == 0) return true;
    switch (code) {
        case kEndServer:
        case kPasswordDigest:
        case kPasswordCheck: return false;
        case kReadCatalogue:
        case kReadTree:
        case kReadProfiles:
        case kReadServerList:
        case kReadAdminFile:
        case kSetServerPort:
        case kCheckNow:
        case kReadSettings:
        case kLeavePool: return rightEight(uid);
        default: return true;  // answered as unknown
    }
}

bool CNetRequests::Handle(CMountRequest& record) {
    using File = CSharedFiles::File;
    // A failure already reported for this version of the file (the change check retries a file
    // it could not read) neither logs again nor tells the sessions again.
    auto failed = [&](File file, const char* text) {
        record.m_request = kReadFailed;
        return files_.ReportFailure(file, text);
    };
    auto queue = [&](int32_t code, uint32_t data) {
        CMountRequest notice;
        notice.m_request = code;
        notice.m_dwData = data;
        push_(notice);
    };
    switch (record.m_request) {
        case kEndServer: return false;
        case kPasswordDigest: netsvc::GetPasswordDigest(record); break;
        case kPasswordCheck: netsvc::CheckPassword(record); break;
        case kReadCatalogue:
            if (!files_.ReadImagesFile())
                failed(CSharedFiles::kCatalogue, "ReadImagesFile() failed");
            break;
        case kReadTree:
            if (files_.ReadTreeFile() || failed(CSharedFiles::kTree, "ReadTreeFile() failed")) {
                queue(kTreeChanged, 0);
            }
            break;
        case kReadProfiles:
            if (!files_.ReadSecurity()) failed(CSharedFiles::kProfile, "ReadSecurity() failed");
            break;
        case kReadServerList: {
            uint32_t sub = record.m_dwData;
            bool tell = true;
            if (sub == ombrix::pipes::kClearServers) {
                files_.ClearServerValues();
            } else if (!files_.ReadServerFile()) {
                tell = failed(CSharedFiles::kServerList, "ReadServerFile() failed");
            }
            if (tell) {
                queue(kReloadPeers, sub);
                EnvSetGlobalValue("ServerChange", "1");
            }
            break;
        }
        case kReadAdminFile:
            if (files_.ReadAdminFile() || failed(CSharedFiles::kAdmin, "ReadAdminFile() failed")) {
                queue(kAdminDrivesChanged, 0);
            }
            break;
        case kSetServerPort:
            if (!files_.SetServerPort(record.m_dwData)) record.m_request = kSettingNotApplied;
            break;
        case kCheckNow:
            // The reads run here on the pipe thread, where they would otherwise be sent to.
            ChangeCheck([this](int32_t code) {
                CMountRequest inner;
                inner.m_request = code;
                Handle(inner);
            });
            break;
        case kReadSettings:
            if (!files_.ReadEnvFile()) failed(CSharedFiles::kSettings, "ReadEnvFile() failed");
            break;
        case kLeavePool:
            if (!files_.RemoveServer()) record.m_request = kSettingNotApplied;
            break;
        default: break;
    }
    return true;
}

bool CNetRequests::ChangeCheck(const std::function<void(int32_t)>& request) {
    std::unique_lock guard(checking_, std::try_to_lock);
    if (!guard.owns_lock()) return false;
    using F = CSharedFiles;
    auto changed = [&](F::File file, const std::string& path) {
        auto now = F::WriteTimeOf(path);
        if (!now) return false;  // not found: the stored time stays
        auto stored = files_.StoredTime(file);
        return !stored || !(*stored == *now);
    };
    if (auto path = F::PathOf(F::kSettings)) {
        if (!F::WriteTimeOf(*path)) F::CreateDefaultSettingsFile(*path);
        if (changed(F::kSettings, *path) && !files_.ReadEnvFile()) {
            files_.ReportFailure(F::kSettings, "ReadEnvFile() failed");
        }
    }
    if (auto path = F::PathOf(F::kProfile)) {
        if (!F::WriteTimeOf(*path)) files_.CreateDefaultProfileFile(*path);
        if (changed(F::kProfile, *path)) request(kReadProfiles);
    }
    if (auto path = F::PathOf(F::kCatalogue)) {
        if (!F::WriteTimeOf(*path)) F::CreateEmptyFile(*path);
        if (changed(F::kCatalogue, *path)) request(kReadCatalogue);
    }
    if (auto path = F::PathOf(F::kTree)) {
        if (!F::WriteTimeOf(*path)) F::CreateEmptyFile(*path);
        if (changed(F::kTree, *path)) request(kReadTree);
    }
    if (auto path = F::PathOf(F::kServerList)) {
        std::error_code ec;
        if (!F::WriteTimeOf(*path) || std::filesystem::file_size(*path, ec) == 0) {
            F::CreateDefaultServerList(*path);
        }
        if (changed(F::kServerList, *path)) request(kReadServerList);
    }
    if (auto path = F::PathOf(F::kAdmin)) {
        if (changed(F::kAdmin, *path)) request(kReadAdminFile);
    }
    return true;
}
