#pragma once

#include <cstdint>
#include <string>

// How the contents pane writes sizes, dates and audio tracks' playing times.
namespace ombrix::mng {

// "%d Byte" below 1 KiB, else whole KiB or MiB with the locale's decimal separator and
// hundredths ("1,50 KB" where the separator is a comma).
std::string sizeText(uint64_t bytes, char decimalSeparator = '.');
// The full local date and time ("%A, %x %X"); empty for 0.
std::string dateText(int64_t seconds);
// Minutes and seconds of an audio track of `sectors` sectors (75 to the second): "%02ld:%02ld".
std::string playingTime(uint64_t sectors);

}  // namespace ombrix::mng
