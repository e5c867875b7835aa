#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QMetaObject>
#include <array>
#include <cstdlib>
#include <vector>

#include "tools/tray/ui/hot_key_parts.h"

namespace ombrix::tray::hotkey {
namespace {

// ---- X11: a key grab on the root window ---------------------------------------------------------

constexpr uint16_t kModifierMask = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
// Caps Lock and Num Lock change the state the server compares with the grab: the key is grabbed
// with each of their combinations, so it works whichever of them is on.
constexpr std::array<uint16_t, 4> kLockCombinations{0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

class X11HotKey : public GlobalHotKey, public QAbstractNativeEventFilter {
  public:
    X11HotKey(xcb_connection_t* connection, std::function<void()> pressed, Log log)
        : connection_(connection), pressed_(std::move(pressed)), log_(std::move(log)) {
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        root_ = xcb_setup_roots_iterator(setup).data->root;
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~X11HotKey() override {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            app->removeNativeEventFilter(this);
        }
        ungrab();
        xcb_flush(connection_);
    }

    bool set(int modifier, int virtualKey) override {
        ungrab();
        xcb_flush(connection_);
        if (virtualKey == 0) return true;
        const tools::QtHotKey key = tools::toQt({modifier, virtualKey});
        const xcb_keycode_t keycode = keycodeOf(keySym(key).keysym);
        if (keycode == 0) {
            log_(kNoSuchKey);
            return false;
        }
        uint16_t modifiers = 0;
        if (key.modifiers & Qt::ShiftModifier) modifiers |= XCB_MOD_MASK_SHIFT;
        if (key.modifiers & Qt::ControlModifier) modifiers |= XCB_MOD_MASK_CONTROL;
        if (key.modifiers & Qt::AltModifier) modifiers |= XCB_MOD_MASK_1;

        std::vector<xcb_void_cookie_t> grabs;
        for (const uint16_t locks : kLockCombinations) {
            grabs.push_back(xcb_grab_key_checked(connection_, 1, root_, modifiers | locks, keycode,
                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
        bool taken = false;
        for (const xcb_void_cookie_t grab : grabs) {
            if (xcb_generic_error_t* error = xcb_request_check(connection_, grab)) {
                taken = true;
                std::free(error);
            }
        }
        keycode_ = keycode;
        modifiers_ = modifiers;
        if (taken) {
            // The combinations that were granted go too: half a hot key would be a puzzle.
            ungrab();
            xcb_flush(connection_);
            log_(kTaken);
            return false;
        }
        xcb_flush(connection_);
        return true;
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (keycode_ == 0 || eventType != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & ~0x80) != XCB_KEY_PRESS) return false;
        const auto* press = static_cast<const xcb_key_press_event_t*>(message);
        if (press->detail != keycode_ || (press->state & kModifierMask) != modifiers_) return false;
        // The menu opens after the event is done with, not within Qt's event dispatch.
        if (pressed_) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [pressed = pressed_] { pressed(); },
                Qt::QueuedConnection);
        }
        return true;
    }

  private:
    // The keycode that gives `keysym` at any level; 0 when no key of the keyboard gives it.
    xcb_keycode_t keycodeOf(uint32_t keysym) const {
        if (keysym == 0) return 0;
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        const xcb_keycode_t first = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
            connection_, xcb_get_keyboard_mapping(connection_, first, count), nullptr);
        if (!mapping) return 0;
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int perKeycode = mapping->keysyms_per_keycode;
        const int length = xcb_get_keyboard_mapping_keysyms_length(mapping);
        xcb_keycode_t found = 0;
        for (int i = 0; i < length && perKeycode > 0; ++i) {
            if (keysyms[i] == keysym) {
                found = xcb_keycode_t(first + i / perKeycode);
                break;
            }
        }
        std::free(mapping);
        return found;
    }

    void ungrab() {
        if (keycode_ == 0) return;
        for (const uint16_t locks : kLockCombinations) {
            xcb_ungrab_key(connection_, keycode_, root_, modifiers_ | locks);
        }
        keycode_ = 0;
        modifiers_ = 0;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    std::function<void()> pressed_;
    OnceLog log_;
    xcb_keycode_t keycode_ = 0;  // 0: no key grabbed
    uint16_t modifiers_ = 0;
};

}  // namespace

std::unique_ptr<GlobalHotKey> makeX11HotKey(void* connection, std::function<void()> pressed,
                                            Log log) {
    return std::make_unique<X11HotKey>(static_cast<xcb_connection_t*>(connection),
                                       std::move(pressed), std::move(log));
}

}  // namespace ombrix::tray::hotkey
