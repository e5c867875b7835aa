// Calls of the single-user edition kept so that its programs still load; they do nothing here.
#include <cstring>

#include "common/oxtcomm_admin.h"
#include "common/string_table.h"
#include "oxtlog.h"
#include "platform/export.h"
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
