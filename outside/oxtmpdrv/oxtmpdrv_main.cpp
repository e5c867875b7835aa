// oxtmpdrv: the miniport driver stand-in, in the foreground. Registers its SCSI port, creates its
// units as Device/CdRom<n> and serves control requests until it is stopped by a signal.
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "outside/oxtmpdrv/miniport_sim.h"
#include "outside/oxtmpdrv/unit_mounts.h"
#include "platform/device_io.h"
#include "platform/machine_root.h"
#include "platform/object_manager.h"
#include "platform/registry.h"
#include "platform/root_layout.h"
#include "platform/scsi_miniport.h"

namespace fs = std::filesystem;
namespace om = ombrix::objmgr;
using ombrix::platform::UniqueFd;

namespace {

const char* kUsage =
    "usage: oxtmpdrv [--units N] [--port N] [--first-device N] [--driver NAME] [--no-fuse]\n"
    "       oxtmpdrv --touch N [--hold SECONDS]\n"
    "Serves N units (default 8) as Device/CdRom<n> on SCSI port N (default 2) of the machine\n"
    "root $OMBRIX_ROOT. --first-device sets the first n (default 0); --driver the port's driver\n"
    "name (default OXTMPDRV; another name presents the units as physical drives).\n"
    "A unit that holds an image shows the disc's files read-only at Device/CdRom<n> (FUSE);\n"
    "--no-fuse, or a /dev/fuse this process cannot open, leaves the folders empty and the\n"
    "units only record their images. Stops on SIGINT or SIGTERM.\n"
    "--touch looks at the medium of Device/CdRom<N> once, as a program reading the drive does,\n"
    "then waits SECONDS (default 0) before it ends.\n";

constexpr int kMaxUnits = 64;
constexpr size_t kMaxMessage = (1 << 16) + 8;
constexpr size_t kMaxConnections = 256;

std::atomic<bool> g_stop{false};

void onSignal(int) {
    g_stop = true;
}

bool parseNumber(const char* text, int low, int high, int& out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

void logLine(const std::string& what) {
    std::fprintf(stderr, "oxtmpdrv: %s\n", what.c_str());
}

int fail(const std::string& what) {
    std::fprintf(stderr, "oxtmpdrv: %s\n", what.c_str());
    return 1;
}

std::string portKey(int port) {
    return "HKLM\\HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(port);
}

ucred peerOf(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
        cred.pid = 0;
        cred.uid = static_cast<uid_t>(-1);
    }
    return cred;
}

int touch(int number, int holdSeconds) {
    int error = 0;
    auto device =
        ombrix::platform::DeviceHandle::open("\\Device\\CdRom" + std::to_string(number), 0, error);
    if (!device.valid()) return fail("no unit CdRom" + std::to_string(number));
    size_t returned = 0;
    int rc = device.ioControl(ombrix::scsi::kIoctlCheckVerify, nullptr, 0, nullptr, 0, returned);
    std::printf("%s\n", rc == 0 ? "medium present" : "no medium");
    std::fflush(stdout);
    if (holdSeconds > 0) std::this_thread::sleep_for(std::chrono::seconds(holdSeconds));
    return 0;
}

// One listening socket: the port (unit == -1) or a unit.
struct Listener {
    UniqueFd fd;
    int unit = -1;
};

struct Connection {
    UniqueFd fd;
    int unit = -1;
};

// Receives one request and the credentials it was sent with: the service may speak for the
// account that asked it for an insert (root may name any account in SCM_CREDENTIALS).
ssize_t receiveRequest(int fd, std::vector<unsigned char>& buffer, ucred& sentFor,
                       bool& haveSentFor) {
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(fd, &message, MSG_TRUNC | MSG_DONTWAIT);
    haveSentFor = false;
    if (n <= 0) return n;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
            c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            std::memcpy(&sentFor, CMSG_DATA(c), sizeof sentFor);
            haveSentFor = true;
        }
    }
    return n;
}

void serveOne(oxtmpdrv::Miniport& driver, Connection& connection, bool& closed) {
    std::vector<unsigned char> buffer(kMaxMessage);
    ucred sentFor{};
    bool haveSentFor = false;
    ssize_t n = receiveRequest(connection.fd.get(), buffer, sentFor, haveSentFor);
    if (n <= 0) {
        closed = n == 0 || (errno != EAGAIN && errno != EINTR);
        return;
    }
    std::vector<unsigned char> reply;
    const ucred peer = peerOf(connection.fd.get());
    const bool locking =
        n >= 4 && ombrix::scsi::readU32(buffer.data()) == ombrix::scsi::kIoctlMediaRemoval;
    if (static_cast<size_t>(n) > buffer.size()) {
        reply = ombrix::platform::deviceReply(87, nullptr, 0);
    } else if (locking && peer.uid != ::geteuid() && peer.uid != 0) {
        // Locking a medium in place keeps it from every session: root and the driver's account
        // only.
        reply = ombrix::platform::deviceReply(5, nullptr, 0);
    } else if (connection.unit < 0) {
        // The account the request speaks for; the kernel only lets root name another one.
        std::shared_ptr<const ombrix::platform::FileIdentity> caller;
        if (haveSentFor) {
            caller = std::make_shared<ombrix::platform::FileIdentity>(
                ombrix::platform::identityOf(sentFor.uid, sentFor.gid));
        }
        reply = driver.handlePort(buffer.data(), static_cast<size_t>(n), peer.pid, caller);
    } else {
        reply = driver.handleUnit(static_cast<size_t>(connection.unit), buffer.data(),
                                  static_cast<size_t>(n), peer.pid);
    }
    if (::send(connection.fd.get(), reply.data(), reply.size(), MSG_NOSIGNAL) < 0) closed = true;
}

}  // namespace

int main(int argc, char** argv) {
    oxtmpdrv::Config config;
    int touchUnit = -1;
    int holdSeconds = 0;
    bool useFuse = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--no-fuse") {
            useFuse = false;
            continue;
        } else if (arg == "--units" && parseNumber(value, 1, kMaxUnits, config.units)) {
        } else if (arg == "--port" && parseNumber(value, 0, 255, config.port)) {
        } else if (arg == "--first-device" && parseNumber(value, 0, 2047, config.firstDevice)) {
        } else if (arg == "--touch" && parseNumber(value, 0, 2047, touchUnit)) {
        } else if (arg == "--hold" && parseNumber(value, 0, 3600, holdSeconds)) {
        } else if (arg == "--driver" && value != nullptr && *value != '\0') {
            config.driverName = value;
        } else {
            std::fputs(kUsage, stderr);
            return fail("bad argument '" + arg + "'");
        }
        ++i;
    }
    if (touchUnit >= 0) return touch(touchUnit, holdSeconds);
    if (config.firstDevice + config.units > 2048) return fail("device numbers above 2047");

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Every thread allocates from one arena: a disc's folders are read by whichever thread
    // serves the first look into them, and pieces of an ejected disc left in a thread's own
    // arena would keep the driver large long after the disc is gone.
    ::mallopt(M_ARENA_MAX, 1);

    ombrix::platform::prepareMachineRoot();
    oxtmpdrv::Miniport driver(config);
    const std::string portName = "Scsi" + std::to_string(config.port);
    const fs::path portFile = ombrix::platform::rootPath("Device/" + portName);
    if (!driver.mapNotifications(portFile.string() + ".notify")) {
        return fail("cannot create the notification buffer");
    }

    std::string why;
    if (useFuse && !oxtmpdrv::fuseUsable(why)) {
        logLine("no usable FUSE device (" + why + "): the units record their images only");
        useFuse = false;
    }
    oxtmpdrv::UnitMounts mounts(useFuse, logLine,
                                [&driver](pid_t pid) { driver.recordAccess(pid); });
    driver.onMediaChanged([&mounts](const oxtmpdrv::Unit& unit) {
        return mounts.mediaChanged(
            unit,
            ombrix::platform::rootPath("Device/CdRom" + std::to_string(unit.number)).string());
    });
    driver.onReadersChanged([&mounts](const oxtmpdrv::Unit& unit) { mounts.readersChanged(unit); });

    std::vector<Listener> listeners;
    int error = 0;
    listeners.push_back({ombrix::platform::listenDevice(portFile, error), -1});
    if (!listeners.back().fd.valid()) return fail("cannot serve " + portFile.string());
    for (size_t k = 0; k < driver.units().size(); ++k) {
        const auto& unit = driver.units()[k];
        fs::path file = ombrix::platform::rootPath("Device/CdRom" + std::to_string(unit.number));
        std::error_code ec;
        oxtmpdrv::clearStaleMount(file.string());
        fs::create_directories(file, ec);
        listeners.push_back(
            {ombrix::platform::listenDevice(ombrix::platform::deviceControlSocket(file), error),
             static_cast<int>(k)});
        if (!listeners.back().fd.valid()) return fail("cannot serve " + file.string());
        char volume[64];
        std::snprintf(volume, sizeof volume, "Volume{0d1c3a00-%04x-%04x-0000-4f58544d5056}",
                      config.port, unit.number);
        om::defineDosDevice(om::kRawTargetPath, volume,
                            "\\Device\\CdRom" + std::to_string(unit.number), 0);
    }
    om::defineDosDevice(om::kRawTargetPath, portName + ":", "\\Device\\" + portName, 0);
    // The port is announced last, when every unit answers.
    if (ombrix::registry::setString(portKey(config.port), "Driver", config.driverName) != 0) {
        return fail("cannot register " + portKey(config.port));
    }
    std::printf("oxtmpdrv: port %d, %d units from CdRom%d\n", config.port, config.units,
                config.firstDevice);
    std::fflush(stdout);

    std::vector<Connection> connections;
    while (!g_stop) {
        std::vector<pollfd> fds;
        for (const auto& l : listeners)
            fds.push_back({l.fd.get(), POLLIN, 0});
        for (const auto& c : connections)
            fds.push_back({c.fd.get(), POLLIN, 0});
        int rc = ::poll(fds.data(), fds.size(), 200);
        mounts.releaseFinished();
        if (rc <= 0) continue;
        for (size_t i = listeners.size(); i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Connection& c = connections[i - listeners.size()];
            bool closed = (fds[i].revents & POLLIN) == 0;
            if (!closed) serveOne(driver, c, closed);
            if (closed) c.fd.reset();
        }
        std::erase_if(connections, [](const Connection& c) { return !c.fd.valid(); });
        for (size_t i = 0; i < listeners.size(); ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            int fd = ::accept4(listeners[i].fd.get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &one, sizeof one);
            // Connections beyond the limit are closed unanswered.
            if (connections.size() >= kMaxConnections) {
                ::close(fd);
            } else {
                connections.push_back({UniqueFd(fd), listeners[i].unit});
            }
        }
    }

    mounts.clear();
    ombrix::registry::deleteKey(portKey(config.port));
    om::defineDosDevice(om::kRemoveDefinition, portName + ":", "", 0);
    for (const auto& unit : driver.units()) {
        char volume[64];
        std::snprintf(volume, sizeof volume, "Volume{0d1c3a00-%04x-%04x-0000-4f58544d5056}",
                      config.port, unit.number);
        om::defineDosDevice(om::kRemoveDefinition, volume, "", 0);
        fs::path file = ombrix::platform::rootPath("Device/CdRom" + std::to_string(unit.number));
        ::unlink(ombrix::platform::deviceControlSocket(file).c_str());
    }
    ::unlink(portFile.c_str());
    return 0;
}
