#pragma once

#include <span>

#include "service/ntservice.h"

// The management service's built-in texts by number.
namespace service_strings {

enum Id {
    kDisplayName = 2,
    kDescription = 3,
    kInstallFailed = 4,
    kInstalled = 5,
    kCreateServiceFailed = 6,
    kOpenManagerFailed = 7,
    kEnding = 9,
    kEnded = 10,
    kCannotEnd = 11,
    kRemoved = 12,
    kDeleteServiceFailed = 13,
    kOpenServiceFailed = 14,
    kStarting = 15,
    kStarted = 16,
    kCannotStart = 17,
    kCannotStartError = 18,
    kServiceInstalled = 19,
    kSetStatusFailed = 20,
    kCannotConnectDriver = 21,
    kNoDriverCommunication = 22,
    kNoSynchronization = 23,
    kNoCommunication = 24,
    kNoSecurityPolicy = 27,
    kUnknownException = 28,
    kDriveSecurityFailed = 29,
    kNoAvailableDrive = 32,
    kNoEmptyDrive = 33,
    kNoDriverConnection = 35,
    kNoSessionId = 36,
    kConsistency = 37,
    kNoCommunicationsThread = 48,
    kConsistencyError = 50,
    kCannotReadSettings = 51,
    kWinsockFailed = 52,
    kNoServerName = 53,
    kNtDllMissing = 55,
    kLinkSecurityFailed = 56,
};

std::span<const ServiceString> table();

}  // namespace service_strings
