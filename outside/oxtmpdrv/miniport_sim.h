#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/account.h"
#include "platform/device_io.h"
#include "platform/unique_fd.h"

// The miniport driver stand-in: its port, its units and their images, and the notification
// buffer through which it reports which processes touch a unit. Request handling works on the
// bytes of one device request and never trusts them.
namespace oxtmpdrv {

struct Config {
    int port = 2;
    int units = 8;
    int firstDevice = 0;                  // device number of the first unit
    std::string driverName = "OXTMPDRV";  // the port's "Driver" value
};

struct Unit;
// Called when a unit receives another image or is emptied (imagePath empty). 0 when the unit
// serves its new image; otherwise the status the insert answers, and the unit stays empty.
using MediaHook = std::function<uint32_t(const Unit&)>;

struct Unit {
    int number = 0;  // n of Device/CdRom<n>
    uint8_t pathId = 0;
    uint8_t targetId = 0;
    uint8_t lun = 0;
    std::string imagePath;
    bool removalPrevented = false;
    // Whose rights the image's files are opened with: the account that inserted it.
    std::shared_ptr<const ombrix::platform::FileIdentity> owner;
    std::vector<uid_t> readers;  // who may read the disc besides root
};
// Called when the accounts that may read a unit's disc change.
using ReadersHook = std::function<void(const Unit&)>;

// Status of request 1 when the unit's medium is locked in place, and when the image's password
// is not the one given.
constexpr uint32_t kStatusBusy = 170;
constexpr uint32_t kStatusWrongPassword = 8;
// Return codes of refused miniport blocks.
constexpr uint32_t kReturnBadSignature = 1;
constexpr uint32_t kReturnUnknownCode = 1;
constexpr uint32_t kReturnBadData = 87;
constexpr uint32_t kReturnNoUnit = 2;

class Miniport {
  public:
    explicit Miniport(Config config);
    ~Miniport();
    Miniport(const Miniport&) = delete;
    Miniport& operator=(const Miniport&) = delete;

    // Maps the notification buffer (the file `path`, created at its full size); without it
    // request 2 is refused.
    bool mapNotifications(const std::string& path);

    // The reply message to one request sent to the port, or to unit `unit` (an index into
    // units()); `peer` is the calling process. A request to the port speaks for `caller`: an
    // insert opens the image with that account's rights (its sender's own when null).
    std::vector<unsigned char> handlePort(
        const unsigned char* message, size_t size, pid_t peer,
        std::shared_ptr<const ombrix::platform::FileIdentity> caller = nullptr);
    std::vector<unsigned char> handleUnit(size_t unit, const unsigned char* message, size_t size,
                                          pid_t peer);

    const std::vector<Unit>& units() const { return units_; }
    const Config& config() const { return config_; }
    void onMediaChanged(MediaHook hook) { mediaChanged_ = std::move(hook); }
    void onReadersChanged(ReadersHook hook) { readersChanged_ = std::move(hook); }

    // Records in the notification buffer that process `pid` accessed a unit. May be called from
    // any thread.
    void recordAccess(pid_t pid);
    pid_t attachedProcess() const { return attached_; }

  private:
    std::vector<unsigned char> miniportBlock(
        const ombrix::platform::DeviceRequest& request, pid_t peer,
        const std::shared_ptr<const ombrix::platform::FileIdentity>& caller);
    uint32_t insert(unsigned char* data,
                    const std::shared_ptr<const ombrix::platform::FileIdentity>& caller);
    uint32_t setReaders(const unsigned char* data, uint32_t length);
    uint32_t queryImage(unsigned char* data);
    Unit* unitAt(const unsigned char* address);

    Config config_;
    std::vector<Unit> units_;
    unsigned char* notify_ = nullptr;
    size_t nextSlot_ = 0;
    std::mutex notifyLock_;
    MediaHook mediaChanged_;
    ReadersHook readersChanged_;
    pid_t attached_ = 0;
};

}  // namespace oxtmpdrv
