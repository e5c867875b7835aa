#pragma once

#include <span>
#include <string>

#include "service/ntservice.h"

// The network access service's texts by number: the string table (event-log and console texts,
// the names of the default profiles) and the built-in texts used when the table lacks an id.
namespace net_strings {

enum Id {
    kCannotConnectDriver = 1,
    kDisplayName = 2,
    kDescription = 3,
    kLogonRightFailed = 8,
    kServiceInstalled = 19,
    kAdministratorsProfile = 20,
    kUsersProfile = 21,
    kNoManagerPipeMutex = 22,
    kNoPipeMutex = 23,
    kNoPipe = 24,
};

// Names the service is created with; texts 2 and 3 of the table take their place.
inline constexpr const char* kServiceName = "OXTNet";
inline constexpr const char* kFallbackDisplayName = "Ombrix TS NetAccess Helper";
inline constexpr const char* kFallbackDescription =
    "Provides support for accessing Ombrix images files on a network share";
inline constexpr const char* kDependencies = "OXTServ\0";

std::span<const ServiceString> table();

// The built-in text of `id` for when neither the language module nor the table has it; empty
// when there is none.
const char* fallback(int id);

}  // namespace net_strings
