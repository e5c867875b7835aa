#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/names.h"
#include "service/miniport_client.h"
#include "support/pipe_records.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace ombrix::test {

// Starts the driver stand-in with `driverArgs` and, once its port is there, the management
// service (`-d`, with the extra `environment`), their output in driver.txt and service.txt of
// the root; the service is up when it counts its units. Call it inside ASSERT_NO_FATAL_FAILURE.
inline void startDriverAndService(
    const TempRoot& root, std::unique_ptr<Program>& driver, std::unique_ptr<Program>& service,
    std::vector<std::string> driverArgs = {"--units", "4", "--no-fuse"},
    std::vector<std::pair<std::string, std::string>> environment = {}) {
    driver = std::make_unique<Program>("oxtmpdrv", std::move(driverArgs), root / "driver.txt");
    ASSERT_TRUE(waitFor([] { return CMiniport::FindPort() >= 0; }));
    service = std::make_unique<Program>("Oxtserv", std::vector<std::string>{"-d"},
                                        root / "service.txt", nullptr, std::move(environment));
    ASSERT_TRUE(waitFor([] {
        CMountRequest units = callPipe(ombrix::names::kServicePipe, record(7));
        return units.m_request == 7 && units.m_dwData > 0;
    }));
}

}  // namespace ombrix::test
