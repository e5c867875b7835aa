#include "driverinstall/install_result.h"

#include "platform/registry.h"

namespace ombrix::drvinst {

void InstallResult::begin() {
    error_.clear();
    code_ = kResultRunning;
    keyOpen_ = registry::createKey(kResultKey) == 0;
    write();
    code_ = kResultDone;
}

void InstallResult::fail(std::string errorText) {
    error_ = std::move(errorText);
    code_ = kResultFailed;
}

void InstallResult::finish() {
    write();
    keyOpen_ = false;
}

void InstallResult::write() {
    if (!keyOpen_) {
        log_.write("Setting Result: No Key");
        return;
    }
    log_.printf("Setting Result to %d", code_);
    std::string key(kResultKey);
    registry::setString(key + "\\Result", "", std::to_string(code_));
    registry::setString(key + "\\Error", "", error_);
}

}  // namespace ombrix::drvinst
