#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "outside/oxtmpdrv/disc_fs.h"
#include "platform/unique_fd.h"

struct fuse;

// A disc mounted read-only at a unit's folder through FUSE, served by a thread of its own.
namespace oxtmpdrv {

struct MountOptions {
    bool allowOther = false;  // let every user read the disc (the folder's rights still apply)
};

class DiscMount {
  public:
    // Mounts `disc` at `mountPoint`; null with `error` set when the mount is refused.
    static std::unique_ptr<DiscMount> start(std::unique_ptr<DiscFs> disc,
                                            const std::string& mountPoint,
                                            const MountOptions& options, std::string& error);
    // Unmounts lazily: the folder is free at once; files still open are cut off with an error
    // instead of keeping the unit (and anybody waiting on it) busy.
    ~DiscMount();
    DiscMount(const DiscMount&) = delete;
    DiscMount& operator=(const DiscMount&) = delete;

    const std::string& mountPoint() const { return mountPoint_; }

  private:
    DiscMount() = default;
    void serve();

    std::unique_ptr<DiscFs> disc_;
    std::string mountPoint_;
    struct fuse* fuse_ = nullptr;
    ombrix::platform::UniqueFd wake_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Whether this process can mount through FUSE: /dev/fuse opens for reading and writing.
bool fuseUsable(std::string& why);
// Whether mounts may let other users in: as root, or when /etc/fuse.conf says user_allow_other.
bool otherUsersAllowed(const std::string& fuseConf = "/etc/fuse.conf");
// Detaches a mount left at `folder` by an earlier run that ended without unmounting.
void clearStaleMount(const std::string& folder);

}  // namespace oxtmpdrv
