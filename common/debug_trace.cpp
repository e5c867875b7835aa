#include "common/debug_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "oxtenv.h"
#include "platform/text_printf.h"
#include "platform/unique_fd.h"

extern char* program_invocation_short_name;

namespace ombrix {

void debugTrace(const char* format, ...) {
    char path[4096];
    if (!EnvGetUserValue("DebugOut", path, sizeof path) || path[0] == '\0') return;

    va_list args;
    va_start(args, format);
    std::string message = platform::formatV(format, args);
    va_end(args);

    std::string line = std::string(program_invocation_short_name) + " - " + message + "\n";
    platform::UniqueFd fd(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (fd.valid()) (void)!::write(fd.get(), line.data(), line.size());
}

}  // namespace ombrix
