#pragma once

#include <string>
#include <string_view>

#include "driverinstall/install_log.h"

namespace ombrix::drvinst {

inline constexpr int kResultDone = 0;
inline constexpr int kResultRunning = 1;
inline constexpr int kResultFailed = 2;
inline constexpr int kResultRestartNeeded = 3;

// The setup reads the outcome here: the default values of the subkeys "Result" (the code in
// decimal) and "Error" (the error text).
inline constexpr std::string_view kResultKey =
    "HKLM\\System\\Currentcontrolset\\services\\oxtmpdrv\\DrvInstaller";

// The result code and error text of one call, mirrored into the result key.
class InstallResult {
  public:
    explicit InstallResult(const InstallLog& log) : log_(log) {}

    // Clears the error text, creates the key, records "running", then starts at "done".
    void begin();
    // Sets the error text (the last one set wins) and the code 2.
    void fail(std::string errorText);
    void setCode(int code) { code_ = code; }
    // Writes the code and the error text and lets go of the key.
    void finish();

    int code() const { return code_; }
    const std::string& error() const { return error_; }

  private:
    void write();

    const InstallLog& log_;
    int code_ = kResultDone;
    std::string error_;
    bool keyOpen_ = false;
};

}  // namespace ombrix::drvinst
