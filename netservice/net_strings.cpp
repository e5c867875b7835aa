#include "netservice/net_strings.h"

namespace net_strings {
namespace {

constexpr ServiceString kTable[] = {
    {1, "Cannot connect to driver"},
    {2, "Ombrix TS Net Support"},
    {3, "Supports Ombrix file access over a network connection"},
    {4, "Installation of %s failed - %s\n"},
    {5, "%s installed.\n"},
    {6, "CreateService failed - %s\n"},
    {7, "Open SCManager failed - %s\n"},
    {8, "Cannot activate SeServiceLogonRight for '%s'."},
    {9, "Ending %s."},
    {10, "\n%s ended.\n"},
    {11, "Cannot end \n%s.\n"},
    {12, "%s removed.\n"},
    {13, "DeleteService failed - %s\n"},
    {14, "OpenService failed - %s\n"},
    {15, "Starting %s."},
    {16, "\n%s started.\n"},
    {17, "Cannot start \\%s.\n"},
    {18, "Cannot start \\%s: %s\n"},
    {19, "Service has been installed."},
    {20, "Internal profile for administrators"},
    {21, "Internal profile for users"},
    {22, "Cannot open pipe mutex"},
    {23, "Cannot initialize pipe mutex"},
    {24, "Cannot initialize pipe"},
};

constexpr ServiceString kFallbacks[] = {
    {1, "Connecting the driver failed"},
    {4, "Unable to install %s - %s\n"},
    {5, "%s installed.\n"},
    {6, "CreateService failed - %s\n"},
    {7, "OpenSCManager failed - %s\n"},
    {8, "Failed to enable SeServiceLogonRight for '%s'"},
    {9, "Stopping %s."},
    {10, "\n%s stopped.\n"},
    {11, "\n%s failed to stop.\n"},
    {12, "%s removed.\n"},
    {13, "DeleteService failed - %s\n"},
    {14, "OpenService failed - %s\n"},
    {15, "Starting up %s."},
    {16, "\n%s started.\n"},
    {17, "\n%s failed to start.\n"},
    {18, "\n%s failed to start: %s\n"},
    {19, "Service installed"},
    {20, "Internal profile for administrators"},
    {21, "Internal profile for users"},
    {22, "Could not get manager pipe mutex"},
    {23, "Init communication pipe mutex failed"},
    {24, "Init communication pipe failed"},
};

}  // namespace

std::span<const ServiceString> table() {
    return kTable;
}

const char* fallback(int id) {
    for (const ServiceString& entry : kFallbacks) {
        if (entry.id == id) return entry.text;
    }
    return "";
}

}  // namespace net_strings
