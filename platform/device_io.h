#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

// Device control requests. A device of the machine root answers them on an AF_UNIX
// SOCK_SEQPACKET socket: the device's own file when that is a socket (Device/Scsi<n>), else
// "<file>.ctl" beside it (a unit, whose own path is a mount point). One request is one message
// "code (4 bytes) | output capacity (4) | input bytes"; the reply is "Win32 code (4) | output
// bytes (at most the capacity)".
namespace ombrix::platform {

std::filesystem::path deviceControlSocket(const std::filesystem::path& deviceFile);

// The account a request is sent for.
struct SentFor {
    uid_t uid = 0;
    gid_t gid = 0;
};

// An opened device. Each request makes its own connection, so threads may share one handle.
class DeviceHandle {
  public:
    DeviceHandle() = default;
    // Opens a device by Win32 name or kernel path (see objmgr::resolveDevice) as `session`
    // sees it; `error` 2 when no such device answers.
    static DeviceHandle open(std::string_view name, uint32_t session, int& error);

    bool valid() const { return !socket_.empty(); }
    void close() { socket_.clear(); }

    // Sends one request; `returned` gets the number of output bytes. 0 or a Win32-style code
    // (the device's own code when it refused the request). With `onBehalfOf` the request
    // carries that account as its sender's credentials (SCM_CREDENTIALS), which only a
    // privileged sender may name: the device then acts with that account's rights.
    int ioControl(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize,
                  size_t& returned, int timeoutMs = 30000,
                  const SentFor* onBehalfOf = nullptr) const;

  private:
    std::filesystem::path socket_;
};

// The server side: a listening socket at `path` (a stale file is replaced).
UniqueFd listenDevice(const std::filesystem::path& path, int& error);

struct DeviceRequest {
    uint32_t code = 0;
    uint32_t outCapacity = 0;
    std::vector<unsigned char> input;
};
// Splits a received message; false when it is shorter than its fixed part.
bool parseDeviceRequest(const unsigned char* data, size_t size, DeviceRequest& out);
// Builds a reply message.
std::vector<unsigned char> deviceReply(uint32_t code, const unsigned char* out, size_t size);

}  // namespace ombrix::platform
