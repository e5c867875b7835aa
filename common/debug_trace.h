#pragma once

namespace ombrix {

// Appends "<program> - <message>" to the file the session value "DebugOut" names, when it
// names one. Failures are ignored: tracing never disturbs the caller.
void debugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ombrix
