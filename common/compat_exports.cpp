// Calls of the single-user edition kept so that its programs still load; they do nothing here.
// Also the image password prompt and the drive-setting signal to the management service.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "common/names.h"
#include "common/oxtcomm_admin.h"
#include "common/password_prompt.h"
#include "common/string_table.h"
#include "oxthelp.h"
#include "oxtlog.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/named_event.h"
#include "platform/ui/user_interface.h"

namespace {

void notImplemented(const char* text) {
    ombrix::ui::userInterface().messageBox(ombrix::strings::textOr(ombrix::strings::kErrorCaption),
                                           text, ombrix::ui::Icon::Information,
                                           ombrix::ui::Buttons::Ok, {});
}

}  // namespace

OMX_EXPORT int OMXInit(void) {
    notImplemented("OMXInit() - Function not implemented in OMX TS");
    return 1;
}

OMX_EXPORT int OMXGetUnitFromDrive(char) {
    notImplemented("OMXGetUnitFromDrive() - Function not implemented in OMX TS");
    return -1;
}

OMX_EXPORT int OMXSelectSession(int) {
    notImplemented("OMXSelectSession() - Function not implemented in OMX TS");
    return 0;
}

OMX_EXPORT int OMXGetSessionsDrive(char) {
    notImplemented("OMXGetSessionsDrive() - Function not implemented in OMX TS");
    return 0;
}

OMX_EXPORT int OMXNetAttach(void) {
    notImplemented("OMXNetAttach() - Function not implemented in OMX TS");
    return 0;
}

OMX_EXPORT void OMXReInitializeScsi(void) {
    OXTLog(3, "OMXReInitializeScsi() not implemented in TS");
}
OMX_EXPORT int OMXSetDriveNumber(int) {
    return -1;
}
OMX_EXPORT int OMXGetDriverInfo(void*) {
    return -1;
}
OMX_EXPORT int OMXGetToc(char, void*) {
    return 0;
}
OMX_EXPORT int OMXGetInquiryStrings(char, char*, char*, char*) {
    return 87;
}
OMX_EXPORT int OMXSetInquiryStrings(char, const char*, const char*, const char*) {
    return 87;
}
OMX_EXPORT void OMXEjected(char) {}

OMX_EXPORT int OMXVerifyPWD(const char* imagePath, char* password, int size) {
    char digest[100] = "";
    if (imagePath == nullptr || !OMXTSVerifyPWD(imagePath, digest, sizeof digest)) return 0;
    if (digest[0] == '\0') return 1;
    std::string item = std::filesystem::path(imagePath).filename().string();
    auto typed = ombrix::askForPassword(item, digest, true);
    if (!typed) return 0;
    ombrix::ascii::copyToBuffer(*typed, password, size);
    return 1;
}

// Tells the management service that drives were set: the service's event is set and counts as
// consumed once the service has reset it.
OMX_EXPORT int OMXServiceDrivesSet(int seconds) {
    int error = 0;
    auto event = ombrix::platform::NamedEvent::open(
        std::string("Global\\") + ombrix::names::kDrivesSetEvent, error);
    if (!event || !event->set()) return 0;
    auto pause = std::chrono::milliseconds(100 * (seconds > 0 ? seconds : 1));
    for (int poll = 0; poll < 10; ++poll) {
        std::this_thread::sleep_for(pause);
        if (!event->isSet()) return 1;
    }
    return 0;
}
