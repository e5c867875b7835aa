// Oxtserv: the management service.
#include "service/omxdriveset.h"

int main(int argc, char** argv) {
    COmxdriveset service;
    return service.ProcessCommandLine(argc, argv);
}
