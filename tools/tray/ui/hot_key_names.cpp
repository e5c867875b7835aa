#include <QtCore/qnamespace.h>

#include <array>

#include "tools/tray/ui/hot_key_parts.h"

namespace ombrix::tray::hotkey {
namespace {

// A key with its X keysym and its name in a shortcut text.
struct KeyName {
    int qtKey;
    uint32_t keysym;
    const char* name;
};

constexpr std::array<KeyName, 30> kNamedKeys{{
    {Qt::Key_Space, 0x20, "space"},
    {Qt::Key_Return, 0xff0d, "Return"},
    {Qt::Key_Tab, 0xff09, "Tab"},
    {Qt::Key_Escape, 0xff1b, "Escape"},
    {Qt::Key_Backspace, 0xff08, "BackSpace"},
    {Qt::Key_Insert, 0xff63, "Insert"},
    {Qt::Key_Delete, 0xffff, "Delete"},
    {Qt::Key_Home, 0xff50, "Home"},
    {Qt::Key_End, 0xff57, "End"},
    {Qt::Key_PageUp, 0xff55, "Page_Up"},
    {Qt::Key_PageDown, 0xff56, "Page_Down"},
    {Qt::Key_Left, 0xff51, "Left"},
    {Qt::Key_Up, 0xff52, "Up"},
    {Qt::Key_Right, 0xff53, "Right"},
    {Qt::Key_Down, 0xff54, "Down"},
    {Qt::Key_Pause, 0xff13, "Pause"},
    {Qt::Key_Print, 0xff61, "Print"},
    {Qt::Key_NumLock, 0xff7f, "Num_Lock"},
    {Qt::Key_ScrollLock, 0xff14, "Scroll_Lock"},
    {Qt::Key_Minus, 0x2d, "minus"},
    {Qt::Key_Equal, 0x3d, "equal"},
    {Qt::Key_Comma, 0x2c, "comma"},
    {Qt::Key_Period, 0x2e, "period"},
    {Qt::Key_Slash, 0x2f, "slash"},
    {Qt::Key_Semicolon, 0x3b, "semicolon"},
    {Qt::Key_Apostrophe, 0x27, "apostrophe"},
    {Qt::Key_BracketLeft, 0x5b, "bracketleft"},
    {Qt::Key_Backslash, 0x5c, "backslash"},
    {Qt::Key_BracketRight, 0x5d, "bracketright"},
    {Qt::Key_QuoteLeft, 0x60, "grave"},
}};
// The keypad's operators (with Qt's keypad modifier).
constexpr std::array<KeyName, 5> kKeypadOperators{{
    {Qt::Key_Asterisk, 0xffaa, "KP_Multiply"},
    {Qt::Key_Plus, 0xffab, "KP_Add"},
    {Qt::Key_Minus, 0xffad, "KP_Subtract"},
    {Qt::Key_Period, 0xffae, "KP_Decimal"},
    {Qt::Key_Slash, 0xffaf, "KP_Divide"},
}};

}  // namespace

KeySym keySym(const tools::QtHotKey& key) {
    const int k = key.key;
    const bool keypad = (key.modifiers & Qt::KeypadModifier) != 0;
    if (k >= Qt::Key_A && k <= Qt::Key_Z) {
        // The keysym of the key's own level: the lower-case letter.
        return {uint32_t(0x61 + (k - Qt::Key_A)), QString(QChar(k))};
    }
    if (k >= Qt::Key_0 && k <= Qt::Key_9) {
        const int digit = k - Qt::Key_0;
        if (keypad) return {uint32_t(0xffb0 + digit), QStringLiteral("KP_%1").arg(digit)};
        return {uint32_t(0x30 + digit), QString::number(digit)};
    }
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) {
        const int n = k - Qt::Key_F1;
        return {uint32_t(0xffbe + n), QStringLiteral("F%1").arg(n + 1)};
    }
    if (keypad) {
        for (const KeyName& named : kKeypadOperators) {
            if (named.qtKey == k) return {named.keysym, named.name};
        }
    }
    for (const KeyName& named : kNamedKeys) {
        if (named.qtKey == k) return {named.keysym, named.name};
    }
    return {};
}

}  // namespace ombrix::tray::hotkey
