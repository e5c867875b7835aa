#include "outside/oxtmpdrv/miniport_sim.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/image_header.h"
#include "platform/ascii.h"
#include "platform/scsi_miniport.h"
#include "platform/win_error.h"

namespace oxtmpdrv {
namespace {

namespace scsi = ombrix::scsi;
namespace win = ombrix::win;
using ombrix::platform::deviceReply;
using ombrix::platform::DeviceRequest;

constexpr uint32_t kInvalidFunction = 1;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kNotReady = 21;
constexpr uint32_t kMediaLocked = 170;  // busy: removal is prevented
constexpr uint32_t kTokenOfBuffer = 1;

std::vector<unsigned char> failure(uint32_t code) {
    return deviceReply(code, nullptr, 0);
}

// The text of a fixed field that must hold its terminator.
bool terminatedText(const unsigned char* field, size_t size, std::string& out) {
    const void* end = std::memchr(field, 0, size);
    if (end == nullptr) return false;
    out.assign(reinterpret_cast<const char*>(field),
               static_cast<const unsigned char*>(end) - field);
    return true;
}

// 0 when `caller` (the process itself when null) can open `path` as a plain file for reading,
// else the Win32 code of why not. Opened without waiting, so a FIFO cannot hold the driver.
uint32_t readableBy(const std::string& path, const ombrix::platform::FileIdentity* caller) {
    std::optional<ombrix::platform::ActingAs> as;
    if (caller != nullptr) {
        as.emplace(*caller);
        if (!as->ok()) return win::kAccessDenied;
    }
    ombrix::platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return static_cast<uint32_t>(win::fromErrno(errno, path.c_str()));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return win::kAccessDenied;
    return 0;
}

// The password field of an insert: up to 15 characters, without terminator when it has 15.
std::string passwordOf(const unsigned char* data) {
    const char* field = reinterpret_cast<const char*>(data + scsi::kInsertPassword);
    const void* end = std::memchr(field, 0, scsi::kInsertPasswordSize);
    return std::string(field,
                       end ? static_cast<const char*>(end) - field : scsi::kInsertPasswordSize);
}

// Whether `password` opens the image (one without a password opens with any); the header is read
// with the caller's rights. A header that cannot be read asks for nothing here.
bool passwordOpens(const std::string& path, const std::string& password,
                   const ombrix::platform::FileIdentity* caller) {
    std::optional<ombrix::platform::ActingAs> as;
    if (caller != nullptr) as.emplace(*caller);
    OmxImageHeader header{};
    if (ombrix::header::read(path, header) != 0) return true;
    return ombrix::header::checkPassword(header, password) !=
           ombrix::header::PasswordVerdict::kWrong;
}

}  // namespace

Miniport::Miniport(Config config) : config_(std::move(config)) {
    for (int k = 0; k < config_.units; ++k) {
        Unit unit;
        unit.number = config_.firstDevice + k;
        unit.targetId = static_cast<uint8_t>(k);
        units_.push_back(unit);
    }
}

Miniport::~Miniport() {
    if (notify_ != nullptr) ::munmap(notify_, scsi::kNotifyBufferSize);
}

// The buffer is always a new file put in place by a rename: a reader that still maps the buffer
// of an earlier run keeps its own, and never sees a file cut short.
bool Miniport::mapNotifications(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string temp = path + ".new" + std::to_string(::getpid());
    ombrix::platform::UniqueFd fd(
        ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) return false;
    void* map = MAP_FAILED;
    if (::ftruncate(fd.get(), scsi::kNotifyBufferSize) == 0) {
        map = ::mmap(nullptr, scsi::kNotifyBufferSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(),
                     0);
    }
    if (map == MAP_FAILED || ::rename(temp.c_str(), path.c_str()) != 0) {
        if (map != MAP_FAILED) ::munmap(map, scsi::kNotifyBufferSize);
        ::unlink(temp.c_str());
        return false;
    }
    if (notify_ != nullptr) ::munmap(notify_, scsi::kNotifyBufferSize);
    notify_ = static_cast<unsigned char*>(map);
    nextSlot_ = 0;
    std::memcpy(notify_, "OXTN", 4);
    return true;
}

std::vector<unsigned char> Miniport::handlePort(
    const unsigned char* message, size_t size, pid_t peer,
    std::shared_ptr<const ombrix::platform::FileIdentity> caller) {
    DeviceRequest request;
    if (!parseDeviceRequest(message, size, request)) return failure(win::kInvalidParameter);
    if (request.code != scsi::kIoctlMiniport) return failure(kInvalidFunction);
    return miniportBlock(request, peer, caller);
}

std::vector<unsigned char> Miniport::handleUnit(size_t index, const unsigned char* message,
                                                size_t size, pid_t peer) {
    DeviceRequest request;
    if (index >= units_.size()) return failure(win::kInvalidHandle);
    if (!parseDeviceRequest(message, size, request)) return failure(win::kInvalidParameter);
    Unit& unit = units_[index];
    switch (request.code) {
        case scsi::kIoctlGetAddress: {
            if (request.outCapacity < sizeof(scsi::Address)) return failure(kInsufficientBuffer);
            unsigned char out[8];
            scsi::writeU32(out, 8);
            out[4] = static_cast<unsigned char>(config_.port);
            out[5] = unit.pathId;
            out[6] = unit.targetId;
            out[7] = unit.lun;
            return deviceReply(0, out, sizeof out);
        }
        case scsi::kIoctlCheckVerify:
            recordAccess(peer);
            return failure(unit.imagePath.empty() ? kNotReady : 0);
        case scsi::kIoctlMediaRemoval:
            if (request.input.empty()) return failure(win::kInvalidParameter);
            unit.removalPrevented = request.input[0] != 0;
            return failure(0);
        case scsi::kFsctlLockVolume:
        case scsi::kFsctlDismountVolume: return failure(0);
        case scsi::kIoctlEjectMedia:
            if (unit.imagePath.empty()) return failure(kNotReady);
            if (unit.removalPrevented) return failure(kMediaLocked);
            unit.imagePath.clear();
            unit.owner.reset();
            unit.readers.clear();
            if (mediaChanged_) mediaChanged_(unit);
            return failure(0);
        default: return failure(kInvalidFunction);
    }
}

std::vector<unsigned char> Miniport::miniportBlock(
    const DeviceRequest& request, pid_t peer,
    const std::shared_ptr<const ombrix::platform::FileIdentity>& caller) {
    const auto& in = request.input;
    if (in.size() < scsi::kHeaderSize) return failure(win::kInvalidParameter);
    const uint32_t length = scsi::readU32(in.data() + scsi::kOffLength);
    if (scsi::readU32(in.data() + scsi::kOffHeaderLength) != scsi::kHeaderSize ||
        length > in.size() - scsi::kHeaderSize ||
        request.outCapacity < scsi::kHeaderSize + static_cast<size_t>(length)) {
        return failure(win::kInvalidParameter);
    }
    std::vector<unsigned char> block(in.begin(), in.begin() + scsi::kHeaderSize + length);
    unsigned char* data = block.data() + scsi::kHeaderSize;
    uint32_t result = 0;
    if (std::memcmp(block.data() + scsi::kOffSignature, scsi::kSignature, 8) != 0) {
        result = kReturnBadSignature;
    } else {
        const uint32_t callerPid = scsi::readU32(block.data() + scsi::kOffReturnCode);
        switch (scsi::readU32(block.data() + scsi::kOffControlCode)) {
            case scsi::kInsert:
                result = length < scsi::kInsertLength ? kReturnBadData : insert(data, caller);
                break;
            case scsi::kMapNotifications:
                if (length < 4 || notify_ == nullptr) {
                    result = kReturnBadData;
                } else {
                    scsi::writeU32(data, kTokenOfBuffer);
                }
                break;
            case scsi::kQueryImage:
                result = length < scsi::kQueryLength ? kReturnBadData : queryImage(data);
                break;
            case scsi::kAttach:
                attached_ = callerPid != 0 ? static_cast<pid_t>(callerPid) : peer;
                break;
            case scsi::kDetach: attached_ = 0; break;
            case scsi::kSetReaders: result = setReaders(data, length); break;
            default: result = kReturnUnknownCode;
        }
    }
    scsi::writeU32(block.data() + scsi::kOffReturnCode, result);
    return deviceReply(0, block.data(), block.size());
}

Unit* Miniport::unitAt(const unsigned char* address) {
    for (Unit& unit : units_) {
        if (unit.pathId == address[0] && unit.targetId == address[1] && unit.lun == address[2]) {
            return &unit;
        }
    }
    return nullptr;
}

// Puts an image into a unit, or empties it for an empty path. A unit whose medium is locked in
// place keeps it; an image the caller cannot read is not taken (the status is why: 5 when the
// caller may not read it, 2 when it is not there).
uint32_t Miniport::insert(unsigned char* data,
                          const std::shared_ptr<const ombrix::platform::FileIdentity>& caller) {
    Unit* unit = unitAt(data);
    if (unit == nullptr) return kReturnNoUnit;
    std::string path;
    if (!terminatedText(data + scsi::kInsertPath, scsi::kInsertPathSize, path)) {
        return kReturnBadData;
    }
    uint32_t status = 0;
    if (unit->removalPrevented && !unit->imagePath.empty()) {
        status = kStatusBusy;
    } else if (!path.empty()) {
        status = readableBy(path, caller.get());
        // A protected image is taken only with its password.
        if (status == 0 && !passwordOpens(path, passwordOf(data), caller.get())) {
            status = kStatusWrongPassword;
        }
    }
    if (status == 0 && unit->imagePath != path) {
        unit->imagePath = path;
        unit->owner = path.empty() ? nullptr : caller;
        unit->readers.clear();
        if (!path.empty() && caller) unit->readers.push_back(caller->uid);
        if (mediaChanged_) status = mediaChanged_(*unit);
        if (status != 0) {
            unit->imagePath.clear();
            unit->owner.reset();
            unit->readers.clear();
        }
    }
    scsi::writeU32(data + scsi::kInsertStatus, status);
    return 0;
}

uint32_t Miniport::setReaders(const unsigned char* data, uint32_t length) {
    if (length < scsi::kReadersHead) return kReturnBadData;
    Unit* unit = unitAt(data);
    if (unit == nullptr) return kReturnNoUnit;
    const uint32_t count = scsi::readU32(data + 4);
    if (count > scsi::kMaxReaders || length < scsi::kReadersHead + 4 * size_t{count}) {
        return kReturnBadData;
    }
    unit->readers.clear();
    for (uint32_t i = 0; i < count; ++i)
        unit->readers.push_back(static_cast<uid_t>(scsi::readU32(data + 8 + 4 * i)));
    if (readersChanged_) readersChanged_(*unit);
    return 0;
}

uint32_t Miniport::queryImage(unsigned char* data) {
    Unit* unit = unitAt(data);
    if (unit == nullptr) return kReturnNoUnit;
    std::memset(data + 3, 0, scsi::kQueryLength - 3);
    ombrix::ascii::copyToBuffer(unit->imagePath, reinterpret_cast<char*>(data + 3),
                                static_cast<long>(scsi::kQueryLength - 3));
    return 0;
}

// Writes the next slot: the process id first, the type word last, and the slot after it is
// cleared beforehand, so a reader walking the slots stops there until it is written.
void Miniport::recordAccess(pid_t pid) {
    if (notify_ == nullptr || pid <= 0) return;
    std::lock_guard<std::mutex> guard(notifyLock_);
    unsigned char* slot = notify_ + scsi::kNotifyHead + nextSlot_ * scsi::kNotifySlotSize;
    size_t following = (nextSlot_ + 1) % scsi::kNotifySlots;
    unsigned char* next = notify_ + scsi::kNotifyHead + following * scsi::kNotifySlotSize;
    std::memset(next, 0, scsi::kNotifySlotSize);
    std::memset(slot + 4, 0, scsi::kNotifySlotSize - 4);
    scsi::writeU32(slot + scsi::kSlotPid, static_cast<uint32_t>(pid));
    std::atomic_thread_fence(std::memory_order_release);
    scsi::writeU32(slot, scsi::kSlotAccess);
    nextSlot_ = following;
}

}  // namespace oxtmpdrv
