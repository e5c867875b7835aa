// omxidrv-install: installs or removes the virtual drives' adapter device from a shell, for
// administrators and setup scripts.
#include <cstdio>
#include <cstring>
#include <string>

#include "driverinstall/driver_installer.h"
#include "driverinstall/install_result.h"
#include "driverinstall/omxidrv.h"
#include "platform/registry.h"

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: omxidrv-install [--remove] [INF]\n"
                 "Installs the adapter device of the virtual drives with the driver named in INF\n"
                 "(default: %s); --remove removes it and its drives.\n"
                 "Every step is appended to drvinst.log beside this program; the outcome is also\n"
                 "kept in the registry key %s (subkeys Result, Error).\n"
                 "Exit status: 0 done (a needed restart is reported on stdout), 1 failed,\n"
                 "2 bad arguments.\n",
                 ombrix::drvinst::defaultInfPath().c_str(),
                 std::string(ombrix::drvinst::kResultKey).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    bool remove = false;
    const char* infPath = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
            usage(stdout);
            return 0;
        } else if (options && std::strcmp(arg, "--remove") == 0) {
            remove = true;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "omxidrv-install: unknown option %s\n", arg);
            usage(stderr);
            return 2;
        } else if (infPath == nullptr) {
            infPath = arg;
        } else {
            std::fprintf(stderr, "omxidrv-install: more than one INF file given\n");
            return 2;
        }
    }

    int result = InstallDriver(infPath, remove ? 1 : 0);
    switch (result) {
        case ombrix::drvinst::kResultDone:
            std::printf(remove ? "removed\n" : "installed\n");
            return 0;
        case ombrix::drvinst::kResultRestartNeeded:
            std::printf("installed; restart the system to finish\n");
            return 0;
        default: {
            std::string error;
            ombrix::registry::getString(std::string(ombrix::drvinst::kResultKey) + "\\Error", "",
                                        error);
            std::fprintf(stderr, "omxidrv-install: %s\n", error.empty() ? "failed" : error.c_str());
            return 1;
        }
    }
}
