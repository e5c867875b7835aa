#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/device_io.h"
#include "service/request_table.h"

// The service's side of the miniport: finding its SCSI port, the control requests (insert or
// empty a unit, query a unit's image, map the notification buffer) and the walk over the
// notification slots.
class CMiniport {
  public:
    static constexpr const char* kDriverName = "OXTMPDRV";
    static constexpr const char* kDeviceMapKey = "HKLM\\HARDWARE\\DEVICEMAP\\Scsi";
    static constexpr int kMapAttempts = 6;
    // Insert results besides the driver's status.
    static constexpr uint32_t kRequestFailed = 17;
    static constexpr uint32_t kNoUnit = 12;

    CMiniport() = default;
    ~CMiniport();
    CMiniport(const CMiniport&) = delete;
    CMiniport& operator=(const CMiniport&) = delete;

    // The port whose "Driver" is OXTMPDRV, from the registry's SCSI device map; -1 when none.
    static int FindPort();

    // Opens "\\.\Scsi<port>:"; the handle stays open until Close.
    bool Open(int port);
    void Close();
    bool IsOpen() const { return m_port.valid(); }

    // One miniport control block; `data` (of `length` bytes) goes in and, on success, comes
    // back. `returnIn` is the caller's word in the return-code field.
    bool Send(uint32_t code, void* data, uint32_t length, int timeoutNumber, uint32_t returnIn = 0,
              const ombrix::platform::SentFor* caller = nullptr) const;

    // Request 1: the driver's status (0 = accepted), 17 when the request failed. On status 0
    // the unit's "Device_%d" value is set at once. The driver opens the image with the rights of
    // `caller` (the service's own when null).
    uint32_t Insert(const CDriveInfo& unit, std::string_view path, std::string_view password,
                    const ombrix::platform::SentFor* caller = nullptr) const;
    // The accounts that may read the unit's disc besides root.
    bool SetReaders(const CDriveInfo& unit, const std::vector<uid_t>& readers) const;
    // Request 9.
    bool QueryImage(const CDriveInfo& unit, std::string& path) const;
    // Request 2, up to six attempts; then the buffer is mapped read-only. Null on failure.
    const unsigned char* MapNotifications();

  private:
    ombrix::platform::DeviceHandle m_port;
    std::filesystem::path m_portFile;
    const unsigned char* m_notify = nullptr;
};

// One step of the notification walk at `position` (16 ≤ position < 16111): a slot in use is
// handled (type 100: `onAccess` with its process id; other types passed over) and the next
// position returned; a free slot returns `position` unchanged.
size_t WalkNotificationSlot(const unsigned char* buffer, size_t position,
                            const std::function<void(uint32_t pid)>& onAccess);
