#include "service/service_strings.h"

namespace service_strings {
namespace {

constexpr ServiceString kTable[] = {
    {2, "Ombrix TS Management"},
    {3, "Supports Ombrix drive management"},
    {4, "Installation of %s failed - %s\n"},
    {5, "%s installed.\n"},
    {6, "CreateService failed - %s\n"},
    {7, "Open SCManager failed - %s\n"},
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
    {20, "SetServiceStatus() failed"},
    {21, "Cannot connect to driver"},
    {22, "Cannot establish communication with the OMX driver"},
    {23, "Cannot establish communicaiton synchronization"},
    {24, "Cannot establish communication"},
    {27, "Cannot create OMX Security Policy."},
    {28, "Unknown exception occured"},
    {29, "Cannot set Security Policy for %c drive (%d)"},
    {32, "No available drive found"},
    {33, "No empty drive found"},
    {35, "Cannot establish communication with the driver"},
    {36, "Cannot get SessionID for the %d process"},
    {37, "Consistency: expected '%s', achieved '%s'"},
    {48, "Cannot start communications thread"},
    {50, "A consistency error has been discovered"},
    {51, "Cannot read settings"},
    {52, "Initializing the Winsock library failed"},
    {53, "Cannot get server name"},
    {55, "Cannot initialize NT-DLL"},
    {56, "Failed to set security for symbolic link '%s': %d"},
};

}  // namespace

std::span<const ServiceString> table() {
    return kTable;
}

}  // namespace service_strings
