#pragma once

#include <optional>
#include <string>

#include "common/text_format.h"

// The client library's texts by number, in English, and the language resource library that may
// replace them.
namespace ombrix::strings {

enum TextId {
    kTitle = 1,
    kInvalidPassword = 2,
    kPasswordCaption = 3,
    kErrorCaption = 5,
    kInsertError = 7,
    kInternalError = 36,
    kInternalErrorCode = 38,
    kUnknownError = 25,
    kAdministrationMode = 31,
    kAdminFileNotFound = 32,
    kAdminFileReadError = 33,
    kAdminFileWriteError = 34,
    kAdminFilePasswordInvalid = 35,
    kPasswordIsInvalid = 37,
};

// The text of `id` in the language in use; nothing when the library has no such text.
std::optional<std::string> text(int id);
// The text, or an empty one.
std::string textOr(int id);

}  // namespace ombrix::strings
