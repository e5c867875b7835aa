#pragma once

#include "platform/ui/front_requests.h"

#include <QMainWindow>
#include <QString>
#include <QStyle>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_channels.h"
#include "admin/admin_model.h"
#include "admin/server_worker.h"
#include "admin/ui/drives_dialog.h"
#include "admin/ui/image_select_dialog.h"
#include "admin/ui/pool_dialogs.h"

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

// "Ombrix TS Administration": the tree of the pool's servers, their sessions and the sessions'
// drives, with the commands that insert and eject images in those drives and change a session's
// drive letters. The window never waits on the network: every server has a worker thread that
// asks it and hands the answer back to the window thread, and a silent server holds up nothing
// but its own node.
namespace ombrix::admin {

// The bus message with which a second start brings the running window forward.
inline constexpr const char* kBringToFront = "WM_OXT_ADM_TO_FRONT";

namespace command {
inline constexpr int kRefresh = 32771;
inline constexpr int kEject = 32772;
inline constexpr int kInsert = 32773;
inline constexpr int kToolbar = 32776;
inline constexpr int kToolTexts = 32777;
inline constexpr int kDrives = 32778;
inline constexpr int kProfiles = 32779;
inline constexpr int kEjectCd = 32781;
inline constexpr int kPools = 32790;
inline constexpr int kSettings = 32792;
inline constexpr int kViewSettings = 174;
inline constexpr int kStatusBar = 59393;
}  // namespace command

// What a tree node stands for (kept in its data): the pool at the root, then servers, their
// sessions and the sessions' drives.
enum NodeKind : int {
    kPoolNode = 0x08000,
    kServerNode = 0x10000,
    kSessionNode = 0x20000,
    kDriveNode = 0x40000,
};

// What the window needs from the program. The first group runs on the window thread and must
// be quick; the second runs on worker threads (a server's, or the window's own for the server
// list and its own session) and may wait on the network as long as it likes.
struct AdminBackend {
    // A global value, and setting one ("Pool_Name", "ServerChange").
    std::function<std::string(const std::string& key)> global;
    std::function<void(const std::string& key, const std::string& value)> setGlobal;
    // This server's name, shown at the root when the pool has none.
    std::function<std::string()> ownServerName;
    // The images of the catalogue for the chooser.
    std::function<std::vector<ImageChoice>()> images;
    // The password of an image, asked where it has one ("" when it has none); nothing when the
    // user cancelled.
    std::function<std::optional<std::string>(const std::string& image)> password;
    // The update interval in seconds, and keeping a new one.
    std::function<int()> updateInterval;
    std::function<void(int seconds)> setUpdateInterval;
    // Profiles... and Settings...
    std::function<void()> editRights;
    std::function<void()> startSettings;
    // The server pools' dialogs; its server list is the window's when it has none.
    PoolBackend pools;

    // Off the window thread:
    // The servers of the pool as the global store lists them now.
    std::function<std::vector<ServerEntry>()> servers;
    // A server's sessions with their drives; nothing when it did not answer.
    std::function<std::optional<std::vector<SessionNode>>(const ServerEntry& server)> sessions;
    // 0, or a failure with `reason` set.
    std::function<int(const SessionTarget& target, char letter, const std::string& image,
                      const std::string& password, std::string& reason)>
        insert;
    std::function<int(const SessionTarget& target, char letter, std::string& reason)> eject;
    std::function<std::optional<std::vector<DriveLetterRow>>(const SessionTarget& target)>
        driveLetters;
    std::function<int(const SessionTarget& target, const std::string& letters, bool allSessions)>
        setDriveLetters;
    // The window's own session: the drive holding an image (0: none), and ejecting it.
    std::function<char(const std::string& image)> ownDriveOf;
    std::function<int(char letter, std::string& reason)> ejectOwn;
};

// The window's dialogs; an empty one runs the dialog itself modally. Tests answer here.
struct AdminDialogs {
    std::function<std::optional<std::string>(QWidget* parent,
                                             const std::vector<ImageChoice>& images)>
        chooseImage;
    std::function<std::optional<DrivesChoice>(QWidget* parent, const QString& session,
                                              std::vector<DriveLetterRow> rows,
                                              DrivesDialog::Reader reader)>
        editDrives;
    std::function<std::optional<int>(QWidget* parent, int seconds)> editInterval;
    std::function<void(QWidget* parent, PoolBackend pools)> managePools;
};

// Where the window keeps its place and its bars between runs.
struct StateStore {
    std::function<std::optional<int>(std::string_view name)> get;
    std::function<void(std::string_view name, int value)> set;
};

// A selected drive node: the session it belongs to and its letter, with what it shows.
struct DriveTarget {
    SessionTarget session;
    char letter = 0;
    std::string image;        // what the drive holds, "" when nothing
    std::string sessionText;  // the session node's text
};

class AdminWindow : public QMainWindow {
  public:
    explicit AdminWindow(AdminBackend backend, AdminDialogs dialogs = {},
                         QWidget* parent = nullptr);
    // Stops the workers; a request running on one is waited for.
    ~AdminWindow() override;

    // Reads the server list anew (off the window thread), then refreshes.
    void rebuildServers();
    // Asks every server that is not busy for its sessions; returns at once, the tree follows
    // as the answers come in.
    void refresh();
    // The timer's second: a changed server list, and the refresh when the interval is over.
    void tick();

    // The commands.
    void insert();
    void eject();
    void ejectCd();
    void editDrives();
    void editRights();
    void managePools();
    void startSettings();
    void editInterval();

    // A request is out (queued, running, or its answer not yet taken in by the window).
    bool busy() const { return outstanding_ > 0; }
    bool serverBusy(const std::string& server) const;
    const std::vector<ServerEntry>& servers() const { return servers_; }
    int sessionCount() const;
    int updateInterval() const { return interval_; }
    std::vector<DriveTarget> selectedDrives() const;

    QTreeWidget* tree() const { return tree_; }
    QTreeWidgetItem* rootNode() const;
    QTreeWidgetItem* serverNode(const std::string& name) const;
    QAction* action(int command) const;
    QToolBar* toolBar() const { return toolbar_; }

    // Listens for kBringToFront from later starts; false when the bus cannot be reached.
    bool listenOnBus();
    void bringToFront();

    // Places the window as it was left and shows it (minimized or maximized as it was).
    void showPlaced(const StateStore& store);
    void savePlacement(const StateStore& store) const;

  protected:
    QMenu* createPopupMenu() override;

  private:
    void buildMenus();
    QAction* addCommand(QMenu* menu, int id, const QString& label, QStyle::StandardPixmap icon);
    void updateCommands();
    void useServers(std::vector<ServerEntry> servers);
    ServerWorker* workerOf(const std::string& server) const;
    const ServerEntry* serverEntry(const std::string& name) const;
    // A session as the tree shows it, its texts made off the window thread.
    struct ShownSession {
        QString text;
        uint32_t id = 0;
        std::vector<QString> driveTexts;
        std::vector<DriveNode> drives;
    };
    // A server's answer to a refresh. The same answer twice keeps its generation, so the
    // window passes over a server whose sessions have not changed.
    struct ShownAnswer {
        uint64_t generation = 0;
        std::shared_ptr<const std::vector<ShownSession>> sessions;  // null: no answer
    };
    struct AnswerCache;  // a server's last answer, touched by its worker
    void showSessions(const std::string& server, const ShownAnswer& answer);
    void showSessionCount();
    QString poolTitle() const;
    void onDrives(const std::vector<DriveTarget>& drives, const std::string& image,
                  std::function<int(const DriveTarget& drive, std::string& reason)> work);
    void openDrives(const SessionTarget& target, const QString& session,
                    std::vector<DriveLetterRow> rows);
    void tell(const std::string& text) const;
    // The "Select Ombrix" chooser over the catalogue; nothing when the user chose nothing.
    std::optional<std::string> chooseImage();

    // Runs `work` on `worker`, then `done` with its result on the window thread.
    template <class Result>
    bool request(ServerWorker& worker, std::function<Result()> work,
                 std::function<void(Result)> done);

    struct TreeIcons;
    std::unique_ptr<TreeIcons> icons_;
    std::map<std::string, std::shared_ptr<AnswerCache>> answers_;
    // The answers' generations, counted for the whole window (on the workers).
    std::shared_ptr<std::atomic<uint64_t>> generations_ =
        std::make_shared<std::atomic<uint64_t>>(0);
    AdminBackend backend_;
    AdminDialogs dialogs_;
    std::vector<ServerEntry> servers_;
    std::map<std::string, std::unique_ptr<ServerWorker>> workers_;
    std::unique_ptr<ServerWorker> own_;  // the server list and the own session
    // Workers of servers that left the list while busy, freed once idle.
    std::vector<std::unique_ptr<ServerWorker>> retired_;
    int outstanding_ = 0;
    std::map<std::string, int> pendingOf_;  // requests out per worker
    bool listPending_ = false;
    bool drivesPending_ = false;
    int interval_ = 30;
    int seconds_ = 0;
    QTreeWidget* tree_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QMenu* editMenu_ = nullptr;
    QLabel* sessionLabel_ = nullptr;
    QTimer* timer_ = nullptr;
    std::map<int, QAction*> actions_;
    std::unique_ptr<ui::FrontRequests> front_;
};

}  // namespace ombrix::admin
