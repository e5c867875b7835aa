#pragma once

// The one shared log of the machine. A line is appended to "OXTLog.log" in the installation
// folder when `level` is at least the global threshold "OXTLogLevel" (no threshold: no lines).
// Levels in use: 0 information, 3 errors. Never fails towards the caller.
#ifdef __cplusplus
extern "C" {
#endif

void OXTLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
}
#endif
