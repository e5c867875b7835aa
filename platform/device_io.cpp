#include "platform/device_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/named_pipe.h"
#include "platform/object_manager.h"
#include "platform/scsi_miniport.h"
#include "platform/unix_address.h"
#include "platform/win_error.h"

namespace ombrix::platform {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxReply = 1 << 16;

int connectTo(const fs::path& path, UniqueFd& out) {
    sockaddr_un address;
    UniqueFd folder;
    if (!unixAddressFor(path, address, folder)) return win::kFileNotFound;
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return win::fromErrno(errno);
    while (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR) continue;
        return (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR)
                   ? win::kFileNotFound
                   : win::fromErrno(errno);
    }
    out = std::move(fd);
    return 0;
}

bool isSocket(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

fs::path deviceControlSocket(const fs::path& deviceFile) {
    if (isSocket(deviceFile)) return deviceFile;
    fs::path control = deviceFile;
    control += ".ctl";
    return control;
}

DeviceHandle DeviceHandle::open(std::string_view name, uint32_t session, int& error) {
    DeviceHandle handle;
    fs::path file = objmgr::resolveDevice(name, session, error);
    if (error != 0) return handle;
    fs::path socket = deviceControlSocket(file);
    UniqueFd probe;
    error = connectTo(socket, probe);
    if (error == 0) handle.socket_ = socket;
    return handle;
}

int DeviceHandle::ioControl(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize,
                            size_t& returned, int timeoutMs, const SentFor* onBehalfOf) const {
    returned = 0;
    if (!valid()) return win::kInvalidHandle;
    if (outSize > kMaxReply - 4 || inSize > kMaxReply) return win::kInvalidParameter;
    UniqueFd fd;
    int rc = connectTo(socket_, fd);
    if (rc != 0) return rc;
    std::vector<unsigned char> message(8 + inSize);
    scsi::writeU32(message.data(), code);
    scsi::writeU32(message.data() + 4, static_cast<uint32_t>(outSize));
    if (inSize > 0) std::memcpy(message.data() + 8, in, inSize);
    iovec part{message.data(), message.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
    if (onBehalfOf != nullptr) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_CREDENTIALS;
        c->cmsg_len = CMSG_LEN(sizeof(ucred));
        ucred cred{::getpid(), onBehalfOf->uid, onBehalfOf->gid};
        std::memcpy(CMSG_DATA(c), &cred, sizeof cred);
    }
    while (::sendmsg(fd.get(), &header, MSG_NOSIGNAL) < 0) {
        if (errno != EINTR) return win::fromErrno(errno);
    }
    pollfd entry{fd.get(), POLLIN, 0};
    for (;;) {
        int n = ::poll(&entry, 1, timeoutMs);
        if (n > 0) break;
        if (n == 0) return win::kSemTimeout;
        if (errno != EINTR) return win::fromErrno(errno);
    }
    std::vector<unsigned char> reply(4 + outSize);
    ssize_t n;
    while ((n = ::recv(fd.get(), reply.data(), reply.size(), 0)) < 0) {
        if (errno != EINTR) return win::fromErrno(errno);
    }
    if (n < 4) return win::kGenFailure;  // the device closed without an answer
    uint32_t status = scsi::readU32(reply.data());
    if (status != 0) return static_cast<int>(status);
    returned = static_cast<size_t>(n) - 4;
    if (returned > 0) std::memcpy(out, reply.data() + 4, returned);
    return 0;
}

UniqueFd listenDevice(const fs::path& path, int& error) {
    error = 0;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    ::unlink(path.c_str());
    sockaddr_un address;
    UniqueFd folder;
    if (!unixAddressFor(path, address, folder)) {
        error = win::kFilenameTooLong;
        return {};
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid() ||
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 16) != 0) {
        error = win::fromErrno(errno, path.c_str());
        return {};
    }
    // A device answers its owner's account only; who else may use it is granted on purpose.
    ::chmod(path.c_str(), 0600);
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &one, sizeof one);
    return fd;
}

bool parseDeviceRequest(const unsigned char* data, size_t size, DeviceRequest& out) {
    if (data == nullptr || size < 8) return false;
    out.code = scsi::readU32(data);
    out.outCapacity = scsi::readU32(data + 4);
    out.input.assign(data + 8, data + size);
    return true;
}

std::vector<unsigned char> deviceReply(uint32_t code, const unsigned char* out, size_t size) {
    std::vector<unsigned char> reply(4 + size);
    scsi::writeU32(reply.data(), code);
    if (size > 0) std::memcpy(reply.data() + 4, out, size);
    return reply;
}

}  // namespace ombrix::platform
