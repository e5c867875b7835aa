// OXTNet: the network access service.
#include <cstdio>
#include <cstring>

#include "netservice/oxtnet_service.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: OXTNet [-i [-l ACCOUNT [-p PASSWORD]] | -u | -s | -e | -d | -f]\n"
                "The network access service: publishes the shared files of the server pool\n"
                "and serves the pipe OMX_TS_Net_Pipe.\n"
                "  -i  install (started on demand; with -l the given account, started\n"
                "      with the system)\n"
                "  -u  remove    -s  start    -e  stop\n"
                "  -d  run in this console (Ctrl-C stops)   -f  run without console\n"
                "Without a switch the program runs under the service controller.\n");
            return 0;
        }
    }
    COMXTSNet service;
    return service.ProcessCommandLine(argc, argv);
}
