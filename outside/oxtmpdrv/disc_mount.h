#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "outside/oxtmpdrv/disc_fs.h"

struct fuse_session;

// A disc mounted read-only at a unit's folder through FUSE, served by threads of its own.
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
    // Ends the mount at once: the folder is freed and whatever is still open fails with an
    // error instead of waiting.
    ~DiscMount();
    DiscMount(const DiscMount&) = delete;
    DiscMount& operator=(const DiscMount&) = delete;

    const std::string& mountPoint() const { return mountPoint_; }
    DiscFs& disc() { return *disc_; }

    // Unmounts lazily: the folder is free at once (the next disc may mount there), while files
    // and folders still open keep reading this disc until they are closed.
    void detach();
    // Whether the kernel has let go of the disc (after detach(), once nothing is open).
    bool finished() const { return running_ == 0; }

  private:
    DiscMount() = default;
    void serve();

    std::unique_ptr<DiscFs> disc_;
    std::string mountPoint_;
    fuse_session* fuse_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> running_{0};
    bool detached_ = false;
    // Two threads, so one decodes while the other answers the kernel's read-ahead.
    std::array<std::thread, 2> threads_;
};

// Whether this process can mount through FUSE: /dev/fuse opens for reading and writing.
bool fuseUsable(std::string& why);
// Whether mounts may let other users in: as root, or when /etc/fuse.conf says user_allow_other.
bool otherUsersAllowed(const std::string& fuseConf = "/etc/fuse.conf");
// Detaches a mount left at `folder` by an earlier run that ended without unmounting.
void clearStaleMount(const std::string& folder);

}  // namespace oxtmpdrv
