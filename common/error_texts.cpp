// Result codes as texts, and the library's message boxes.
#include <string>

#include "common/string_table.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/ui/user_interface.h"

namespace strings = ombrix::strings;
namespace ui = ombrix::ui;

namespace {

// The text of a result code of insert, eject and catalogue calls.
std::string mappedText(int code) {
    switch (code) {
        case 0: return "";
        case 1: return strings::textOr(9);
        case 2: return strings::textOr(10);
        case 3: return strings::textOr(11);
        case 4: return strings::textOr(12);
        case 5: return strings::textOr(13);
        case 6: return strings::textOr(14);
        case 7: return strings::textOr(15);
        case 8: return strings::textOr(16);
        case 9: return strings::textOr(26);
        case 10: return strings::textOr(17);
        case 13: return strings::textOr(19);
        case 14: return strings::textOr(27);
        case 15: return strings::textOr(20);
        case 16: return strings::textOr(21);
        case 17: return strings::textOr(22);
        case 18: return strings::textOr(23);
        case 19: return strings::textOr(24);
        case 20: return strings::textOr(28);
        case 21: return strings::textOr(30);
        case 504: return strings::textOr(39);
        case 514: return strings::textOr(13);
        case 515:
        case -1: return strings::textOr(8);
        case 523: return strings::textOr(16);
        case 600: return strings::textOr(42);
        default: break;
    }
    bool internal =
        code == 501 || code == 502 || (code >= 505 && code <= 513) || (code >= 516 && code <= 520);
    if (internal) return strings::formatText(strings::textOr(38), std::to_string(code));
    return strings::textOr(strings::kUnknownError);
}

}  // namespace

OMX_EXPORT int OMXMapErrorCode(int code, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    ombrix::ascii::copyToBuffer(mappedText(code), buffer, size);
    return 1;
}

OMX_EXPORT void OMXReportError(int textId) {
    std::string body = strings::text(textId).value_or(strings::textOr(strings::kInternalError));
    ui::userInterface().messageBox(strings::textOr(strings::kErrorCaption), body, ui::Icon::Warning,
                                   ui::Buttons::Ok, {});
}

OMX_EXPORT void OMXReportInsertError(int code) {
    if (code == 0) return;
    std::string body =
        strings::formatText(strings::textOr(strings::kInsertError), mappedText(code));
    ui::userInterface().messageBox(strings::textOr(strings::kErrorCaption), body, ui::Icon::Warning,
                                   ui::Buttons::Ok, ui::BoxOptions{true});
}
