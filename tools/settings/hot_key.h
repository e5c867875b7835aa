#pragma once

#include <cstdint>

// A hot key as the settings store it: the modifier bits of a hot-key control (1 Shift, 2 Ctrl,
// 4 Alt) and a Windows virtual-key code. Converted to and from Qt's key and modifiers for the
// settings page and for the tray's key grab.
namespace ombrix::tools {

inline constexpr int kHotKeyShift = 1;
inline constexpr int kHotKeyControl = 2;
inline constexpr int kHotKeyAlt = 4;

struct StoredHotKey {
    int modifier = 0;
    int virtualKey = 0;  // 0: no hot key
    friend bool operator==(const StoredHotKey&, const StoredHotKey&) = default;
};

// Qt's key and keyboard modifiers (Qt::Key and Qt::KeyboardModifiers values) of a stored hot key;
// the key is 0 for none or for a virtual key without a Qt counterpart.
struct QtHotKey {
    int key = 0;
    uint32_t modifiers = 0;
    friend bool operator==(const QtHotKey&, const QtHotKey&) = default;
};

QtHotKey toQt(StoredHotKey stored);
// The stored form of a Qt key with modifiers; virtual key 0 for a key that has no virtual-key
// code or one held with a modifier the stored form cannot keep (the logo key).

StoredHotKey fromQt(QtHotKey key);
// A key the whole desktop may lose to the tray: one with Ctrl or Alt, or a function key. A bare
// letter or digit would never reach the programs it is typed into again.
bool usableHotKey(StoredHotKey key);

}  // namespace ombrix::tools
