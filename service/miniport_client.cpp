#include "service/miniport_client.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "outside/env/oxtenv.h"
#include "platform/ascii.h"
#include "platform/object_manager.h"
#include "platform/registry.h"
#include "platform/scsi_miniport.h"
#include "platform/unique_fd.h"

namespace scsi = ombrix::scsi;

namespace {

// Past the last slot's start (15850) the walk begins again at the first slot.
constexpr size_t kWrapPosition = 16111;

}  // namespace

CMiniport::~CMiniport() {
    Close();
}

int CMiniport::FindPort() {
    std::vector<std::string> subkeys;
    if (ombrix::registry::listSubkeys(kDeviceMapKey, subkeys) != 0) return -1;
    for (const auto& name : subkeys) {
        std::string driver;
        if (ombrix::registry::getString(std::string(kDeviceMapKey) + "\\" + name, "Driver",
                                        driver) != 0 ||
            !ombrix::ascii::equalsIgnoreCase(driver, kDriverName) ||
            !ombrix::ascii::startsWithIgnoreCase(name, "scsi port ")) {
            continue;
        }
        int port = -1;
        std::string lower(name);
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (std::sscanf(lower.c_str(), "scsi port %d", &port) == 1) return port;
    }
    return -1;
}

bool CMiniport::Open(int port) {
    Close();
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\Scsi%d:", port);
    int error = 0;
    m_port = ombrix::platform::DeviceHandle::open(name, 0, error);
    if (!m_port.valid()) return false;
    m_portFile = ombrix::objmgr::resolveDevice(name, 0, error);
    return true;
}

void CMiniport::Close() {
    if (m_notify != nullptr) {
        ::munmap(const_cast<unsigned char*>(m_notify), scsi::kNotifyBufferSize);
        m_notify = nullptr;
    }
    m_port.close();
}

bool CMiniport::Send(uint32_t code, void* data, uint32_t length, int timeoutNumber,
                     uint32_t returnIn, const ombrix::platform::SentFor* caller) const {
    if (!m_port.valid()) return false;
    std::vector<unsigned char> block(scsi::kHeaderSize + length, 0);
    scsi::writeU32(block.data() + scsi::kOffHeaderLength, scsi::kHeaderSize);
    std::memcpy(block.data() + scsi::kOffSignature, scsi::kSignature, sizeof scsi::kSignature);
    scsi::writeU32(block.data() + scsi::kOffTimeout, 1000u * static_cast<uint32_t>(timeoutNumber));
    scsi::writeU32(block.data() + scsi::kOffControlCode, code);
    scsi::writeU32(block.data() + scsi::kOffReturnCode, returnIn);
    scsi::writeU32(block.data() + scsi::kOffLength, length);
    if (length > 0) std::memcpy(block.data() + scsi::kHeaderSize, data, length);
    size_t returned = 0;
    if (m_port.ioControl(scsi::kIoctlMiniport, block.data(), block.size(), block.data(),
                         block.size(), returned, 30000, caller) != 0 ||
        returned < scsi::kHeaderSize || scsi::readU32(block.data() + scsi::kOffReturnCode) != 0) {
        return false;
    }
    // Only what the driver sent back is copied, never more than the caller's buffer.
    size_t back = returned - scsi::kHeaderSize;
    if (back > length) back = length;
    if (back > 0) std::memcpy(data, block.data() + scsi::kHeaderSize, back);
    return true;
}

uint32_t CMiniport::Insert(const CDriveInfo& unit, std::string_view path, std::string_view password,
                           const ombrix::platform::SentFor* caller) const {
    unsigned char data[scsi::kInsertLength] = {};
    data[0] = static_cast<unsigned char>(unit.pathId);
    data[1] = static_cast<unsigned char>(unit.targetId);
    data[2] = static_cast<unsigned char>(unit.lun);
    ombrix::ascii::copyToBuffer(path, reinterpret_cast<char*>(data + scsi::kInsertPath),
                                scsi::kInsertPathSize);
    std::memcpy(data + scsi::kInsertPassword, password.data(),
                std::min(password.size(), scsi::kInsertPasswordSize));
    scsi::writeU32(data + scsi::kInsertStatus, 1);
    if (!Send(scsi::kInsert, data, sizeof data, 15, 0, caller)) return kRequestFailed;
    uint32_t status = scsi::readU32(data + scsi::kInsertStatus);
    if (status == 0) {
        char key[32];
        std::snprintf(key, sizeof key, "Device_%d", unit.number);
        EnvSetGlobalValue(key, std::string(path).c_str());
    }
    return status;
}

bool CMiniport::SetReaders(const CDriveInfo& unit, const std::vector<uid_t>& readers) const {
    const size_t count = std::min(readers.size(), scsi::kMaxReaders);
    std::vector<unsigned char> data(scsi::kReadersHead + 4 * count, 0);
    data[0] = static_cast<unsigned char>(unit.pathId);
    data[1] = static_cast<unsigned char>(unit.targetId);
    data[2] = static_cast<unsigned char>(unit.lun);
    scsi::writeU32(data.data() + 4, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i)
        scsi::writeU32(data.data() + 8 + 4 * i, static_cast<uint32_t>(readers[i]));
    return Send(scsi::kSetReaders, data.data(), static_cast<uint32_t>(data.size()), 5);
}

bool CMiniport::QueryImage(const CDriveInfo& unit, std::string& path) const {
    unsigned char data[scsi::kQueryLength] = {};
    data[0] = static_cast<unsigned char>(unit.pathId);
    data[1] = static_cast<unsigned char>(unit.targetId);
    data[2] = static_cast<unsigned char>(unit.lun);
    if (!Send(scsi::kQueryImage, data, sizeof data, 5)) return false;
    const char* text = reinterpret_cast<const char*>(data + 3);
    path.assign(text, strnlen(text, sizeof data - 3));
    return true;
}

// The driver hands out a word that stands for its buffer; on this system the buffer is the
// shared file beside the port, which the service maps for reading.
const unsigned char* CMiniport::MapNotifications() {
    if (m_notify != nullptr) return m_notify;
    bool granted = false;
    for (int attempt = 0; attempt < kMapAttempts && !granted; ++attempt) {
        unsigned char word[4] = {};
        granted = Send(scsi::kMapNotifications, word, sizeof word, 3,
                       static_cast<uint32_t>(::getpid())) &&
                  scsi::readU32(word) != 0;
    }
    if (!granted) return nullptr;
    std::filesystem::path file = m_portFile;
    file += ".notify";
    ombrix::platform::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    // A shorter file would fault on reading its last slots.
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 ||
        static_cast<size_t>(info.st_size) < scsi::kNotifyBufferSize) {
        return nullptr;
    }
    void* map = ::mmap(nullptr, scsi::kNotifyBufferSize, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (map == MAP_FAILED) return nullptr;
    m_notify = static_cast<const unsigned char*>(map);
    return m_notify;
}

size_t WalkNotificationSlot(const unsigned char* buffer, size_t position,
                            const std::function<void(uint32_t pid)>& onAccess) {
    const uint32_t type = scsi::readU32(buffer + position);
    if (type == 0) return position;
    std::atomic_thread_fence(std::memory_order_acquire);
    if (type == scsi::kSlotAccess && onAccess)
        onAccess(scsi::readU32(buffer + position + scsi::kSlotPid));
    position += scsi::kNotifySlotSize;
    if (position >= scsi::kNotifyHead + scsi::kNotifySlots * scsi::kNotifySlotSize - 12) {
        position = scsi::kNotifyHead;
    }
    return position;
}
