#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ombrix {

// MD5 of `bytes` as 32 lower-case hexadecimal digits.
std::optional<std::string> md5Hex(std::string_view bytes);

}  // namespace ombrix
