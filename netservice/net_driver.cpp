#include "netservice/net_driver.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "log/oxtlog.h"
#include "platform/scsi_miniport.h"
#include "service/miniport_client.h"

namespace scsi = ombrix::scsi;

namespace {

constexpr int kTimeoutNumber = 5;

void pauseBetweenSeries() {
    std::this_thread::sleep_for(std::chrono::milliseconds(CNetDriver::kSeriesPauseMs));
}

}  // namespace

bool CNetDriver::OpenPort() {
    if (m_port.valid()) return true;
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\Scsi%d:", CMiniport::FindPort());
    // Tried again and again while there is no driver: said once per port and error.
    const bool quiet = m_lastTried == name;
    if (!quiet) OXTLog(0, "Trying to open %s", name);
    int error = 0;
    m_port = ombrix::platform::DeviceHandle::open(name, 0, error);
    if (!m_port.valid()) {
        if (!quiet) OXTLog(3, "Failed to open %s, ErrCode = %d", name, error);
        m_lastTried = name;
        return false;
    }
    m_lastTried.clear();
    return true;
}

bool CNetDriver::Control(uint32_t code, uint32_t returnIn) {
    if (!OpenPort()) return false;
    std::vector<unsigned char> block(scsi::kHeaderSize, 0);
    scsi::writeU32(block.data() + scsi::kOffHeaderLength, scsi::kHeaderSize);
    std::copy(std::begin(scsi::kSignature), std::end(scsi::kSignature),
              block.begin() + scsi::kOffSignature);
    scsi::writeU32(block.data() + scsi::kOffTimeout, 1000u * kTimeoutNumber);
    scsi::writeU32(block.data() + scsi::kOffControlCode, code);
    scsi::writeU32(block.data() + scsi::kOffReturnCode, returnIn);
    scsi::writeU32(block.data() + scsi::kOffLength, 0);
    size_t returned = 0;
    int rc = m_port.ioControl(scsi::kIoctlMiniport, block.data(), block.size(), block.data(),
                              block.size(), returned, 1000 * kTimeoutNumber);
    if (rc != 0 || returned < scsi::kHeaderSize) {
        OXTLog(3, "DeviceIO returned false, LastError = %d", rc != 0 ? rc : 13);
        // The driver may have been restarted: the port is looked up afresh next time.
        m_port.close();
        return false;
    }
    if (scsi::readU32(block.data() + scsi::kOffReturnCode) != 0) {
        OXTLog(3, "pSrb->ReturnCode != 0");
        return false;
    }
    OXTLog(0, "pSrb->ReturnCode == 0");
    return true;
}

bool CNetDriver::Detach() {
    for (int series = 0; series < kSeries; ++series) {
        if (series > 0) pauseBetweenSeries();
        for (int attempt = 0; attempt < kTries; ++attempt) {
            if (Control(kDetach, 0)) return true;
        }
    }
    return false;
}

bool CNetDriver::AttachSeries() {
    OXTLog(0, "Entering AttachToDriver");
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (Control(kAttach, static_cast<uint32_t>(::getpid()))) {
            OXTLog(0, "Returning true from AttachToDriver");
            return true;
        }
    }
    return false;
}

bool CNetDriver::Attach() {
    for (int series = 0; series < kSeries; ++series) {
        if (series > 0) pauseBetweenSeries();
        if (AttachSeries()) return true;
    }
    return false;
}
