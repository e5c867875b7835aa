// omxcvt: converts an ISO 9660 image into an image container with track part files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "omxcvt.h"

namespace {

const char* kUsage =
    "usage: omxcvt [options] IMAGE.iso\n"
    "  --storage plain|lz|deflate   how the track stores its sectors (default plain)\n"
    "  --sector-size 2048|2352      user data only, or mode 1 raw sectors (default 2048)\n"
    "  --sectors-per-part N         sectors per track part file (default: one part)\n"
    "  --output PATH                the container (default: IMAGE with the extension .om4)\n"
    "  --description TEXT           (default: the volume label)\n"
    "  --password TEXT\n"
    "  --comment TEXT\n"
    "  --force                      replace an existing container\n"
    "  --quiet                      no progress on stderr\n";

bool g_quiet = false;

int showProgress(int percent) {
    if (!g_quiet) std::fprintf(stderr, "\r%3d %%", percent);
    return 1;
}

int usageError(const char* what) {
    std::fprintf(stderr, "omxcvt: %s\n%s", what, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    OmxCvtOptions o{};
    o.sectorSize = 2048;
    o.progress = showProgress;
    const char* source = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--storage") {
            const char* v = value();
            if (v == nullptr) return usageError("--storage needs a value");
            if (std::strcmp(v, "plain") == 0)
                o.storage = OMXCVT_PLAIN;
            else if (std::strcmp(v, "lz") == 0)
                o.storage = OMXCVT_LZ;
            else if (std::strcmp(v, "deflate") == 0)
                o.storage = OMXCVT_DEFLATE;
            else
                return usageError("unknown storage");
        } else if (arg == "--sector-size") {
            const char* v = value();
            if (v == nullptr) return usageError("--sector-size needs a value");
            o.sectorSize = std::atoi(v);
        } else if (arg == "--sectors-per-part") {
            const char* v = value();
            if (v == nullptr) return usageError("--sectors-per-part needs a value");
            o.sectorsPerPart = static_cast<unsigned>(std::strtoul(v, nullptr, 10));
        } else if (arg == "--output") {
            if ((o.target = value()) == nullptr) return usageError("--output needs a value");
        } else if (arg == "--description") {
            if ((o.description = value()) == nullptr)
                return usageError("--description needs a value");
        } else if (arg == "--password") {
            if ((o.password = value()) == nullptr) return usageError("--password needs a value");
        } else if (arg == "--comment") {
            if ((o.comment = value()) == nullptr) return usageError("--comment needs a value");
        } else if (arg == "--force") {
            o.overwrite = 1;
        } else if (arg == "--quiet") {
            g_quiet = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError(("unknown option " + arg).c_str());
        } else if (source == nullptr) {
            source = argv[i];
        } else {
            return usageError("one image at a time");
        }
    }
    if (source == nullptr) return usageError("no image given");
    int rc = OMXConvertISO2OM4Ex(source, &o);
    if (!g_quiet) std::fputc('\n', stderr);
    if (rc != 0) {
        char text[1024];
        OMXGetLastCVTError(text, sizeof text);
        std::fprintf(stderr, "omxcvt: cannot convert %s: %s (result %d)\n", source, text, rc);
        return 1;
    }
    return 0;
}
