#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/settings/hot_key.h"
#include "tools/tray/ui/tray_app.h"

namespace {

// One shortcut as the global-shortcuts portal takes it: its id and its properties, a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace ombrix::tray {
namespace {

using Log = std::function<void(const std::string&)>;

constexpr const char* kTaken = "The tray hot key is taken by another program.";
constexpr const char* kNoHotKey =
    "No global hot key on this desktop: the tray menu opens with the mouse only.";
constexpr const char* kNoSuchKey = "The tray hot key is not on this keyboard.";
constexpr const char* kRefused = "The desktop did not register the tray hot key.";

// Says each message once: the hot key is set again whenever the settings change, and a desktop
// that refused it once refuses it again.
class OnceLog {
  public:
    explicit OnceLog(Log log) : log_(std::move(log)) {}
    void operator()(const std::string& message) {
        if (log_ && said_.insert(message).second) log_(message);
    }

  private:
    Log log_;
    std::set<std::string> said_;
};

// ---- The key's names ----------------------------------------------------------------------------

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

// The keysym and name of a Qt key; keysym 0 for a key this table does not know.
struct KeySym {
    uint32_t keysym = 0;
    QString name;
};

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

// ---- The desktop's global-shortcuts portal ------------------------------------------------------

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";
constexpr const char* kShortcutId = "open-menu";
constexpr int kCheckTimeoutMs = 5000;

// The shortcut text the portal takes as the preferred trigger: "CTRL+ALT+O".
QString portalTrigger(const tools::QtHotKey& key) {
    const QString name = keySym(key).name;
    if (name.isEmpty()) return {};
    QStringList parts;
    if (key.modifiers & Qt::ControlModifier) parts << "CTRL";
    if (key.modifiers & Qt::AltModifier) parts << "ALT";
    if (key.modifiers & Qt::ShiftModifier) parts << "SHIFT";
    parts << name;
    return parts.join('+');
}

// The portal answers through Request objects whose paths it derives from the caller's bus name
// and a token of the caller's choice; listening there before the call leaves no gap for an
// early answer.
class PortalHotKey : public QObject, public GlobalHotKey {
    Q_OBJECT

  public:
    PortalHotKey(std::function<void()> pressed, Log log)
        : bus_(QDBusConnection::sessionBus()), pressed_(std::move(pressed)), log_(std::move(log)) {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
    }

    ~PortalHotKey() override {
        closeSession();
        if (listeningToActivated_) {
            bus_.disconnect(kPortalService, kPortalPath, kShortcutsInterface, "Activated", this,
                            SLOT(activated(QDBusMessage)));
        }
    }

    bool set(int modifier, int virtualKey) override {
        closeSession();
        if (virtualKey == 0) return true;
        if (!offered()) {
            log_(kNoHotKey);
            return false;
        }
        trigger_ = portalTrigger(tools::toQt({modifier, virtualKey}));
        if (trigger_.isEmpty()) {
            log_(kNoSuchKey);
            return false;
        }
        if (!listeningToActivated_) {
            listeningToActivated_ = bus_.connect(kPortalService, kPortalPath, kShortcutsInterface,
                                                 "Activated", this, SLOT(activated(QDBusMessage)));
        }
        const QString token = nextToken();
        sessionRequest_ = requestPath(token);
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                           kShortcutsInterface, "CreateSession");
        call << QVariantMap{{"handle_token", token}, {"session_handle_token", nextToken()}};
        ask(call, &sessionRequest_);
        return true;
    }

  public Q_SLOTS:
    // A Request's Response (u response, a{sv} results): 0 is success.
    void response(const QDBusMessage& message) {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() < 2) return;
        const bool success = arguments[0].toUInt() == 0;
        const QVariantMap results = qdbus_cast<QVariantMap>(arguments[1]);
        if (message.path() == sessionRequest_) {
            stopListening(sessionRequest_);
            const QVariant handle = results.value("session_handle");
            // Some portals give the session as an object path, others as a string.
            session_ = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                           ? handle.value<QDBusObjectPath>().path()
                           : handle.toString();
            if (!success || session_.isEmpty()) {
                session_.clear();
                log_(kRefused);
                return;
            }
            bindShortcut();
        } else if (message.path() == bindRequest_) {
            stopListening(bindRequest_);
            if (!success) log_(kRefused);
        }
    }

    // Activated (o session_handle, s shortcut_id, t timestamp, a{sv} options).
    void activated(const QDBusMessage& message) {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() < 2 || session_.isEmpty()) return;
        if (arguments[0].value<QDBusObjectPath>().path() != session_) return;
        if (arguments[1].toString() != kShortcutId) return;
        if (pressed_) pressed_();
    }

  private:
    // Whether the desktop offers global shortcuts: the portal is there and has the interface.
    bool offered() {
        if (!offered_) {
            offered_ = false;
            if (bus_.isConnected()) {
                QDBusMessage get = QDBusMessage::createMethodCall(
                    kPortalService, kPortalPath, "org.freedesktop.DBus.Properties", "Get");
                get << QString(kShortcutsInterface) << QString("version");
                const QDBusMessage reply = bus_.call(get, QDBus::Block, kCheckTimeoutMs);
                offered_ = reply.type() == QDBusMessage::ReplyMessage;
            }
        }
        return *offered_;
    }

    void bindShortcut() {
        const QString token = nextToken();
        bindRequest_ = requestPath(token);
        const QList<PortalShortcut> shortcuts{
            {kShortcutId,
             {{"description", QString("Open the tray menu")}, {"preferred_trigger", trigger_}}}};
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                           kShortcutsInterface, "BindShortcuts");
        call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts)
             << QString() << QVariantMap{{"handle_token", token}};
        ask(call, &bindRequest_);
    }

    // Sends a call that answers with a Request, listening at `*request` for its Response. An older
    // portal may choose another path than the one derived from the token: listening moves there.
    void ask(const QDBusMessage& call, QString* request) {
        listen(*request);
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        const QString expected = *request;
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, request, expected](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    // Set again meanwhile: this request is no longer awaited.
                    if (*request != expected) return;
                    const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                    if (reply.isError()) {
                        stopListening(*request);
                        log_(kRefused);
                        return;
                    }
                    const QString path = reply.value().path();
                    if (path != expected) {
                        stopListening(*request);
                        *request = path;
                        listen(path);
                    }
                });
    }

    void listen(const QString& request) {
        bus_.connect(kPortalService, request, kRequestInterface, "Response", this,
                     SLOT(response(QDBusMessage)));
    }

    void stopListening(QString& request) {
        if (request.isEmpty()) return;
        bus_.disconnect(kPortalService, request, kRequestInterface, "Response", this,
                        SLOT(response(QDBusMessage)));
        request.clear();
    }

    // Drops the key registered before: requests still open are no longer awaited, and the
    // session goes, which takes its shortcut with it.
    void closeSession() {
        stopListening(sessionRequest_);
        stopListening(bindRequest_);
        if (session_.isEmpty()) return;
        bus_.asyncCall(
            QDBusMessage::createMethodCall(kPortalService, session_, kSessionInterface, "Close"));
        session_.clear();
    }

    QString nextToken() { return QStringLiteral("ombrix_tray%1").arg(++tokens_); }

    // /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER the unique bus name without
    // its colon and with underscores for its dots.
    QString requestPath(const QString& token) const {
        QString sender = bus_.baseService();
        if (sender.startsWith(':')) sender.remove(0, 1);
        sender.replace('.', '_');
        return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    }

    QDBusConnection bus_;
    std::function<void()> pressed_;
    OnceLog log_;
    std::optional<bool> offered_;
    bool listeningToActivated_ = false;
    QString trigger_;
    QString sessionRequest_;  // the Request of CreateSession while it is open
    QString bindRequest_;     // the Request of BindShortcuts while it is open
    QString session_;
    int tokens_ = 0;
};

}  // namespace

std::unique_ptr<GlobalHotKey> GlobalHotKey::create(std::function<void()> pressed, Log log) {
    if (QGuiApplication::platformName() == "xcb") {
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (xcb_connection_t* connection = x11 ? x11->connection() : nullptr) {
            return std::make_unique<X11HotKey>(connection, std::move(pressed), std::move(log));
        }
    }
    // Wayland and anything else: the portal, which tells when the desktop offers none.
    return std::make_unique<PortalHotKey>(std::move(pressed), std::move(log));
}

}  // namespace ombrix::tray

#include "global_hot_key.moc"
