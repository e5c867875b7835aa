#include "manager/contents_texts.h"

#include <ctime>

#include "platform/text_printf.h"

namespace ombrix::mng {

std::string sizeText(uint64_t bytes, char decimalSeparator) {
    constexpr uint64_t kKiB = 1024;
    constexpr uint64_t kMiB = 1024 * 1024;
    if (bytes < kKiB) return platform::format("%d Byte", static_cast<int>(bytes));
    const uint64_t unit = bytes < kMiB ? kKiB : kMiB;
    const uint64_t whole = bytes / unit;
    const uint64_t hundredths = (bytes % unit) * 100 / unit;
    return platform::format("%llu%c%.2d %s", static_cast<unsigned long long>(whole),
                            decimalSeparator, static_cast<int>(hundredths),
                            unit == kKiB ? "KB" : "MB");
}

std::string dateText(int64_t seconds) {
    if (seconds == 0) return {};
    const std::time_t t = seconds;
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) return {};
    char text[128];
    return std::strftime(text, sizeof text, "%A, %x %X", &local) > 0 ? text : std::string();
}

std::string playingTime(uint64_t sectors) {
    const uint64_t seconds = sectors / 75;
    return platform::format("%02ld:%02ld", static_cast<long>(seconds / 60),
                            static_cast<long>(seconds % 60));
}

}  // namespace ombrix::mng
