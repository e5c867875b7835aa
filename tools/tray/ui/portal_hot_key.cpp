#include <QByteArray>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <optional>

#include "tools/tray/ui/hot_key_parts.h"

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

namespace ombrix::tray::hotkey {
namespace {

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

std::unique_ptr<GlobalHotKey> makePortalHotKey(std::function<void()> pressed, Log log) {
    return std::make_unique<PortalHotKey>(std::move(pressed), std::move(log));
}

}  // namespace ombrix::tray::hotkey

#include "portal_hot_key.moc"
