#include "outside/oxtmpdrv/unit_mounts.h"

#include <malloc.h>

#include <exception>
#include <new>

#include "platform/win_error.h"

namespace oxtmpdrv {

namespace {

std::string refusalText(int err) {
    switch (err) {
        case ombrix::win::kOutOfMemory: return "its file system is larger than a disc may be";
        default: return "its file system cannot be read";
    }
}

}  // namespace

UnitMounts::UnitMounts(bool enabled, std::function<void(const std::string&)> log,
                       std::function<void(pid_t)> onAccess)
    : enabled_(enabled), log_(std::move(log)), onAccess_(std::move(onAccess)) {
    if (!enabled_) return;
    options_.allowOther = otherUsersAllowed();
    if (!options_.allowOther) {
        log_(
            "mounting without allow_other (not root, and /etc/fuse.conf lacks "
            "user_allow_other): only this account reads the units");
    }
}

void UnitMounts::noteAccess(pid_t pid) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(accessLock_);
        auto& last = lastAccess_[pid];
        if (last.time_since_epoch().count() != 0 && now - last < std::chrono::seconds(1)) return;
        last = now;
        if (lastAccess_.size() > 4096) lastAccess_.clear();
    }
    if (onAccess_) onAccess_(pid);
}

uint32_t UnitMounts::mediaChanged(const Unit& unit, const std::string& folder) {
    if (!enabled_) return 0;
    std::erase_if(retired_, [](const auto& m) { return m->finished(); });
    if (auto it = mounts_.find(unit.number); it != mounts_.end()) {
        it->second->detach();
        retired_.push_back(std::move(it->second));
        mounts_.erase(it);
    }
    if (unit.imagePath.empty()) return 0;
    const std::string name = "CdRom" + std::to_string(unit.number);
    // A disc that cannot be held is refused; the driver and its other units go on serving.
    std::unique_ptr<DiscFs> disc;
    int err = 0;
    int refusal = 0;
    try {
        disc = std::make_unique<DiscFs>([this](pid_t pid) { noteAccess(pid); });
        disc->setReaders(unit.readers);
        err = disc->load(unit.imagePath, unit.owner);
        refusal = disc->fileSystemError();
    } catch (const std::bad_alloc&) {
        refusal = ombrix::win::kOutOfMemory;
    } catch (const std::exception&) {
        refusal = ombrix::win::kInvalidData;
    }
    if (refusal != 0) {
        disc.reset();
        log_(name + ": refused " + unit.imagePath + ": " + refusalText(refusal) + " (error " +
             std::to_string(refusal) + ")");
        return static_cast<uint32_t>(refusal);
    }
    if (err != 0) {
        log_(name + ": cannot read " + unit.imagePath + " (error " + std::to_string(err) +
             "); the unit shows no files");
        return 0;
    }
    clearStaleMount(folder);
    std::string error;
    auto mount = DiscMount::start(std::move(disc), folder, options_, error);
    if (!mount) {
        log_(name + ": " + error);
        return 0;
    }
    mounts_[unit.number] = std::move(mount);
    return 0;
}

void UnitMounts::readersChanged(const Unit& unit) {
    if (auto it = mounts_.find(unit.number); it != mounts_.end()) {
        it->second->disc().setReaders(unit.readers);
    }
}

void UnitMounts::clear() {
    mounts_.clear();
    retired_.clear();
}

void UnitMounts::releaseFinished() {
    if (retired_.empty()) return;
    const size_t before = retired_.size();
    std::erase_if(retired_, [](const auto& m) { return m->finished(); });
    if (retired_.size() != before) ::malloc_trim(0);
}

size_t UnitMounts::retiredCount() {
    std::erase_if(retired_, [](const auto& m) { return m->finished(); });
    return retired_.size();
}

}  // namespace oxtmpdrv
