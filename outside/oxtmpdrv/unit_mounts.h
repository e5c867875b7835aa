#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "outside/oxtmpdrv/disc_mount.h"
#include "outside/oxtmpdrv/miniport_sim.h"

// The discs the units show: a unit that receives an image mounts its file system at the unit's
// folder, an emptied unit unmounts. Without a usable FUSE device the units only record images.
namespace oxtmpdrv {

class UnitMounts {
  public:
    // `log` receives one line per event worth telling the operator; `onAccess` the processes
    // that open the discs' files, at most once a second per process.
    UnitMounts(bool enabled, std::function<void(const std::string&)> log,
               std::function<void(pid_t)> onAccess);
    ~UnitMounts() { clear(); }

    bool enabled() const { return enabled_; }
    // Mounts or unmounts `folder` for the unit's new image. The previous disc is unmounted
    // lazily: files open on it keep reading it until they are closed. 0 when the unit serves the
    // image (or holds none); else why it cannot: the image's error, 13 for a file system that
    // cannot be read, 14 for one larger than a disc may be or memory running out.
    uint32_t mediaChanged(const Unit& unit, const std::string& folder);
    // The accounts that may read the unit's disc changed.
    void readersChanged(const Unit& unit);
    // Unmounts every unit; files still open fail from now on.
    void clear();
    // Discs unmounted from their units that still serve open files.
    size_t retiredCount();
    // Lets go of the ejected discs the kernel has released and hands their memory back to the
    // system, so an idle driver stays small after ejects. Cheap when nothing was ejected.
    void releaseFinished();

  private:
    void noteAccess(pid_t pid);

    bool enabled_;
    MountOptions options_;
    std::function<void(const std::string&)> log_;
    std::function<void(pid_t)> onAccess_;
    std::map<int, std::unique_ptr<DiscMount>> mounts_;  // by unit number
    // Discs taken out of their units that still serve files opened before.
    std::vector<std::unique_ptr<DiscMount>> retired_;
    std::mutex accessLock_;
    std::unordered_map<pid_t, std::chrono::steady_clock::time_point> lastAccess_;
};

}  // namespace oxtmpdrv
