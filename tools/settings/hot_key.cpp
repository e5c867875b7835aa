#include "tools/settings/hot_key.h"

#include <QtCore/qnamespace.h>

#include <array>
#include <utility>

namespace ombrix::tools {
namespace {

// Virtual keys whose Qt key is not the same number.
constexpr std::array<std::pair<int, int>, 33> kNamedKeys{{
    {0x08, Qt::Key_Backspace},    {0x09, Qt::Key_Tab},         {0x0D, Qt::Key_Return},
    {0x13, Qt::Key_Pause},        {0x1B, Qt::Key_Escape},      {0x21, Qt::Key_PageUp},
    {0x22, Qt::Key_PageDown},     {0x23, Qt::Key_End},         {0x24, Qt::Key_Home},
    {0x25, Qt::Key_Left},         {0x26, Qt::Key_Up},          {0x27, Qt::Key_Right},
    {0x28, Qt::Key_Down},         {0x2C, Qt::Key_Print},       {0x2D, Qt::Key_Insert},
    {0x2E, Qt::Key_Delete},       {0x90, Qt::Key_NumLock},     {0x91, Qt::Key_ScrollLock},
    {0xBA, Qt::Key_Semicolon},    {0xBB, Qt::Key_Equal},       {0xBC, Qt::Key_Comma},
    {0xBD, Qt::Key_Minus},        {0xBE, Qt::Key_Period},      {0xBF, Qt::Key_Slash},
    {0xC0, Qt::Key_QuoteLeft},    {0xDB, Qt::Key_BracketLeft}, {0xDC, Qt::Key_Backslash},
    {0xDD, Qt::Key_BracketRight}, {0xDE, Qt::Key_Apostrophe},  {0x6A, Qt::Key_Asterisk},
    {0x6B, Qt::Key_Plus},         {0x6F, Qt::Key_Slash},       {0x6E, Qt::Key_Period},
}};
constexpr int kVkSubtract = 0x6D;
constexpr int kVkNumpad0 = 0x60, kVkNumpad9 = 0x69;
constexpr int kVkF1 = 0x70, kVkF24 = 0x87;
// The keypad's operators: numbers of their own as virtual keys, the same Qt keys as the main
// keyboard's with the keypad modifier.
constexpr bool isKeypadOperator(int vk) {
    return vk == 0x6A || vk == 0x6B || vk == kVkSubtract || vk == 0x6E || vk == 0x6F;
}

}  // namespace

QtHotKey toQt(StoredHotKey stored) {
    QtHotKey key;
    const int vk = stored.virtualKey;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') || vk == ' ') {
        key.key = vk;
    } else if (vk >= kVkNumpad0 && vk <= kVkNumpad9) {
        key.key = Qt::Key_0 + (vk - kVkNumpad0);
        key.modifiers |= Qt::KeypadModifier;
    } else if (vk >= kVkF1 && vk <= kVkF24) {
        key.key = Qt::Key_F1 + (vk - kVkF1);
    } else if (vk == kVkSubtract) {
        key.key = Qt::Key_Minus;
        key.modifiers |= Qt::KeypadModifier;
    } else {
        for (const auto& [virtualKey, qtKey] : kNamedKeys) {
            if (virtualKey == vk) {
                key.key = qtKey;
                if (isKeypadOperator(vk)) key.modifiers |= Qt::KeypadModifier;
                break;
            }
        }
    }
    if (key.key == 0) return {};
    if (stored.modifier & kHotKeyShift) key.modifiers |= Qt::ShiftModifier;
    if (stored.modifier & kHotKeyControl) key.modifiers |= Qt::ControlModifier;
    if (stored.modifier & kHotKeyAlt) key.modifiers |= Qt::AltModifier;
    return key;
}

StoredHotKey fromQt(QtHotKey key) {
    StoredHotKey stored;
    if (key.modifiers & Qt::MetaModifier) return stored;
    const bool keypad = (key.modifiers & Qt::KeypadModifier) != 0;
    const int k = key.key;
    if (keypad && k >= Qt::Key_0 && k <= Qt::Key_9) {
        stored.virtualKey = kVkNumpad0 + (k - Qt::Key_0);
    } else if (keypad && k == Qt::Key_Minus) {
        stored.virtualKey = kVkSubtract;
    } else if ((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z) ||
               k == Qt::Key_Space) {
        stored.virtualKey = k;
    } else if (k >= Qt::Key_F1 && k <= Qt::Key_F24) {
        stored.virtualKey = kVkF1 + (k - Qt::Key_F1);
    } else {
        for (const auto& [virtualKey, qtKey] : kNamedKeys) {
            if (qtKey == k && isKeypadOperator(virtualKey) == keypad) {
                stored.virtualKey = virtualKey;
                break;
            }
        }
        // A keypad operator without a keypad flag of its own is the main keyboard's key.
        if (stored.virtualKey == 0) {
            for (const auto& [virtualKey, qtKey] : kNamedKeys) {
                if (qtKey == k) {
                    stored.virtualKey = virtualKey;
                    break;
                }
            }
        }
    }
    if (stored.virtualKey == 0) return {};
    if (key.modifiers & Qt::ShiftModifier) stored.modifier |= kHotKeyShift;
    if (key.modifiers & Qt::ControlModifier) stored.modifier |= kHotKeyControl;
    if (key.modifiers & Qt::AltModifier) stored.modifier |= kHotKeyAlt;
    return stored;
}

bool usableHotKey(StoredHotKey key) {
    if (key.virtualKey == 0) return false;
    const bool functionKey = key.virtualKey >= kVkF1 && key.virtualKey <= kVkF24;
    return functionKey || (key.modifier & (kHotKeyControl | kHotKeyAlt)) != 0;
}

}  // namespace ombrix::tools
