#include "netservice/protected_keys.h"

#include "platform/ascii.h"

namespace netsvc {

bool isProtectedKey(std::string_view key) {
    static constexpr std::string_view kPrefixes[] = {
        // Published by the services from the shared files and the units.
        "OMXImage_", "OMXTree_", "Server_", "OMX_Drive_", "Device_", "Sid_", "KS_", "IP_"};
    static constexpr std::string_view kKeys[] = {
        // Published by the services.
        "OMXIndexHiNet", "OMXImageCount", "OmxConfigFileNet", "OMXTreeLines", "OMXTreeFileNet",
        "OXTSecurity", "OMXServer", "OMXServerFileNet", "Pool_Name", "ServerChange", "OmxAdminMode",
        "OmxAdminDrives", "OMXUnits", "OMXAdapter", "OMXDeviceMap", "OXTEmptyDevice", "OMXLogons",
        "KSCount",
        // Who is privileged.
        "OMXAdminGroup", "NetAccount", "NetAccountSystem",
        // Where the services look and what they load.
        "OmxConfigPathNet", "OmxTreePathNet", "OMXSecurityPathNet", "OMXServerPathNet",
        "OmxAdmPathNet", "OmxHomePath", "OXTLogLevel",
        // Whom the services answer.
        "OmxServerName", "OmxServerPort", "OmxListenAddress"};
    for (std::string_view prefix : kPrefixes) {
        if (ombrix::ascii::startsWithIgnoreCase(key, prefix)) return true;
    }
    for (std::string_view name : kKeys) {
        if (ombrix::ascii::equalsIgnoreCase(key, name)) return true;
    }
    return false;
}

}  // namespace netsvc
