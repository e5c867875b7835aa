#include "admin/ui/admin_window.h"
#include "platform/ui/front_requests.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>
#include <mutex>
#include <utility>

#include "admin/ui/admin_texts.h"
#include "admin/ui/interval_dialog.h"
#include "platform/ascii.h"
#include "platform/ui/user_interface.h"

namespace ombrix::admin {
namespace {

enum ItemRole {
    kKindRole = Qt::UserRole,
    kSessionRole,
    kLetterRole,
    kImageRole,
    kSilentRole,
    kOpenedRole,
    kDecoratedRole,   // the node has its picture and data
    kGenerationRole,  // a server node: the generation of the answer it shows
    kKeyRole          // what finds a node again: a server's or session's text, a drive's letter
};

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QIcon standardIcon(QStyle::StandardPixmap which) {
    return QApplication::style()->standardIcon(which);
}

// A picture faded as for a disabled item: an empty drive, a server that does not answer.
QIcon fadedIcon(QStyle::StandardPixmap which) {
    const QIcon normal = standardIcon(which);
    QIcon icon;
    for (int size : {16, 24, 32})
        icon.addPixmap(normal.pixmap(size, QIcon::Disabled));
    return icon;
}

}  // namespace

// The tree's pictures, made once per window: a refresh may decorate hundreds of nodes.
struct AdminWindow::TreeIcons {
    QIcon server = standardIcon(QStyle::SP_ComputerIcon);
    QIcon silentServer = fadedIcon(QStyle::SP_ComputerIcon);
    QIcon session = standardIcon(QStyle::SP_DesktopIcon);
    QIcon drive = standardIcon(QStyle::SP_DriveCDIcon);
    QIcon emptyDrive = fadedIcon(QStyle::SP_DriveCDIcon);
};

struct AdminWindow::AnswerCache {
    std::mutex lock;
    bool answered = false;
    std::optional<std::vector<SessionNode>> last;
    ShownAnswer shown;
};

namespace {

int kindOf(const QTreeWidgetItem* item) {
    return item != nullptr ? item->data(0, kKindRole).toInt() : 0;
}

// A node opens by itself the first time it has children; after that it stays as the user
// leaves it.
void openOnce(QTreeWidgetItem* item) {
    if (item->childCount() == 0 || item->data(0, kOpenedRole).toBool()) return;
    item->setData(0, kOpenedRole, true);
    item->setExpanded(true);
}

QString keyOf(const QTreeWidgetItem* item) {
    return item->data(0, kKeyRole).toString();
}

// Makes `parent`'s children of `kind` the ones with `keys`: a child whose key is listed stays
// as it is (with its children, expansion and selection), one whose key is not is removed, and
// a missing one is made at its place in the list, with its key as its text. Returns the child
// of each key.
std::vector<QTreeWidgetItem*> keepChildren(QTreeWidgetItem* parent, int kind,
                                           const std::vector<QString>& keys) {
    std::vector<QTreeWidgetItem*> items;
    items.reserve(keys.size());
    // A refresh mostly finds the children as they were: one pass in order, no lookups.
    bool same = true;
    for (int i = 0; i < parent->childCount() && same; ++i) {
        QTreeWidgetItem* child = parent->child(i);
        if (kindOf(child) != kind) continue;
        same = items.size() < keys.size() && keyOf(child) == keys[items.size()];
        if (same) items.push_back(child);
    }
    if (same && items.size() == keys.size()) return items;

    QHash<QString, QTreeWidgetItem*> kept;
    for (int i = parent->childCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* child = parent->child(i);
        if (kindOf(child) != kind) continue;
        const QString key = keyOf(child);
        if (std::find(keys.begin(), keys.end(), key) == keys.end() || kept.contains(key))
            delete parent->takeChild(i);
        else
            kept.insert(key, child);
    }
    items.clear();
    for (size_t n = 0; n < keys.size(); ++n) {
        QTreeWidgetItem* found = kept.value(keys[n]);
        if (found == nullptr) {
            found = new QTreeWidgetItem({keys[n]});
            found->setData(0, kKindRole, kind);
            found->setData(0, kKeyRole, keys[n]);
            parent->insertChild(std::min(static_cast<int>(n), parent->childCount()), found);
            kept.insert(keys[n], found);
        }
        items.push_back(found);
    }
    return items;
}

// What the failure text calls a drive: its server, its session and its letter.
std::string targetName(const DriveTarget& drive) {
    return drive.session.server.name + " / " + drive.sessionText + " / " + drive.letter + ":";
}

struct Outcome {
    int code = 0;
    std::string reason;
};

}  // namespace

template <class Result>
bool AdminWindow::request(ServerWorker& worker, std::function<Result()> work,
                          std::function<void(Result)> done) {
    // Counted here on the window thread, not by the worker: a request counts until its answer
    // has been taken in, so whatever the answer starts sees the server free again.
    const std::string key = worker.name();
    ++outstanding_;
    ++pendingOf_[key];
    auto settled = [this, key] {
        --outstanding_;
        if (--pendingOf_[key] <= 0) pendingOf_.erase(key);
    };
    const bool posted =
        worker.post([this, work = std::move(work), done = std::move(done), settled] {
            Result result = work();
            // Queued to the window: the worker never touches a widget.
            QMetaObject::invokeMethod(
                this,
                [done, settled, result = std::move(result)]() mutable {
                    settled();
                    done(std::move(result));
                },
                Qt::QueuedConnection);
        });
    if (!posted) settled();
    return posted;
}

AdminWindow::AdminWindow(AdminBackend backend, AdminDialogs dialogs, QWidget* parent)
    : QMainWindow(parent),
      icons_(std::make_unique<TreeIcons>()),
      backend_(std::move(backend)),
      dialogs_(std::move(dialogs)),
      own_(std::make_unique<ServerWorker>("(this session)")) {
    setObjectName("adminWindow");
    setWindowTitle(kAdminTitle);
    setWindowIcon(standardIcon(QStyle::SP_DriveNetIcon));

    tree_ = new QTreeWidget(this);
    tree_->setObjectName("tree");
    tree_->setAccessibleName("Servers, sessions and drives");
    tree_->setHeaderHidden(true);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setUniformRowHeights(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* root = new QTreeWidgetItem(tree_, {poolTitle()});
    root->setData(0, kKindRole, kPoolNode);
    root->setIcon(0, standardIcon(QStyle::SP_DriveNetIcon));
    tree_->setCurrentItem(root);
    setCentralWidget(tree_);

    buildMenus();
    sessionLabel_ = new QLabel(this);
    sessionLabel_->setObjectName("sessionCount");
    statusBar()->addPermanentWidget(sessionLabel_);
    showSessionCount();

    connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { updateCommands(); });
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { updateCommands(); });
    connect(tree_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QTreeWidgetItem* item = tree_->itemAt(at); item != nullptr && !item->isSelected()) {
            tree_->setCurrentItem(item);
        }
        editMenu_->exec(tree_->viewport()->mapToGlobal(at));
    });
    connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        // Enter on a session opens its drives.
        if (kindOf(item) == kSessionNode) editDrives();
    });

    interval_ = backend_.updateInterval ? backend_.updateInterval() : 30;
    if (interval_ < 1) interval_ = IntervalDialog::kDefaultSeconds;
    timer_ = new QTimer(this);
    timer_->setObjectName("updateTimer");
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, [this] { tick(); });
    timer_->start();

    updateCommands();
    resize(640, 480);
    rebuildServers();
}

AdminWindow::~AdminWindow() {
    timer_->stop();
    // The workers go first: no request may run on into a window that is gone.
    for (auto& [name, worker] : workers_)
        worker->stop();
    for (auto& worker : retired_)
        worker->stop();
    own_->stop();
    workers_.clear();
    retired_.clear();
    own_.reset();
}

QAction* AdminWindow::addCommand(QMenu* menu, int id, const QString& label,
                                 QStyle::StandardPixmap icon) {
    auto* action = new QAction(label, this);
    // The status prompt is the text before "\n", the tool tip the one after it.
    const QString help = adminQText(id);
    const qsizetype newline = help.indexOf('\n');
    action->setStatusTip(newline < 0 ? help : help.left(newline));
    if (newline >= 0) {
        // Tool buttons show the short name, not the menu's label with its dots.
        action->setToolTip(help.mid(newline + 1));
        action->setIconText(help.mid(newline + 1));
    }
    if (icon != QStyle::SP_CustomBase) action->setIcon(standardIcon(icon));
    menu->addAction(action);
    actions_[id] = action;
    return action;
}

void AdminWindow::buildMenus() {
    using namespace command;
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("fileMenu");
    QAction* quit = file->addAction("E&xit");
    quit->setObjectName("actionExit");
    quit->setStatusTip("Close the administration window");
    connect(quit, &QAction::triggered, this, &QWidget::close);

    editMenu_ = menuBar()->addMenu("&Edit");
    editMenu_->setObjectName("editMenu");
    const auto none = QStyle::SP_CustomBase;
    struct Command {
        int id;
        const char* label;
        const char* name;
        QStyle::StandardPixmap icon;
        void (AdminWindow::*run)();
    };
    const Command edit[] = {
        {kEject, "&Eject", "actionEject", QStyle::SP_MediaStop, &AdminWindow::eject},
        {kInsert, "&Insert...", "actionInsert", QStyle::SP_MediaPlay, &AdminWindow::insert},
        {kEjectCd, "Eject &CD...", "actionEjectCd", QStyle::SP_DriveCDIcon, &AdminWindow::ejectCd},
        {kDrives, "&Virtual drives...", "actionDrives", QStyle::SP_DriveHDIcon,
         &AdminWindow::editDrives},
        {kProfiles, "&Profiles...", "actionProfiles", QStyle::SP_FileDialogDetailedView,
         &AdminWindow::editRights},
        {kPools, "Server p&ools...", "actionPools", QStyle::SP_DirLinkIcon,
         &AdminWindow::managePools},
        {kSettings, "&Settings...", "actionSettings", QStyle::SP_FileDialogInfoView,
         &AdminWindow::startSettings},
    };
    for (const Command& c : edit) {
        if (c.id == kDrives || c.id == kProfiles) editMenu_->addSeparator();
        QAction* action = addCommand(editMenu_, c.id, c.label, c.icon);
        action->setObjectName(c.name);
        connect(action, &QAction::triggered, this, c.run);
    }

    QMenu* view = menuBar()->addMenu("&View");
    view->setObjectName("viewMenu");
    QAction* toolbar = addCommand(view, kToolbar, "&Toolbar", none);
    toolbar->setObjectName("actionToolbar");
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    QAction* texts = addCommand(view, kToolTexts, "Tool button te&xts", none);
    texts->setObjectName("actionToolTexts");
    texts->setCheckable(true);
    texts->setChecked(true);
    QAction* status = addCommand(view, kStatusBar, "&Status bar", none);
    status->setObjectName("actionStatusBar");
    status->setCheckable(true);
    status->setChecked(true);
    view->addSeparator();
    QAction* settings = addCommand(view, kViewSettings, "S&ettings...", none);
    settings->setObjectName("actionViewSettings");
    connect(settings, &QAction::triggered, this, &AdminWindow::editInterval);
    QAction* refresh = addCommand(view, kRefresh, "&Refresh", QStyle::SP_BrowserReload);
    refresh->setObjectName("actionRefresh");
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    refresh->setShortcutContext(Qt::WindowShortcut);
    connect(refresh, &QAction::triggered, this, &AdminWindow::refresh);

    toolbar_ = addToolBar("Toolbar");
    toolbar_->setObjectName("toolbar");
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (int id : {kRefresh, kInsert, kEject, kEjectCd, kDrives, kProfiles, kPools, kSettings}) {
        if (id == kInsert || id == kDrives) toolbar_->addSeparator();
        toolbar_->addAction(actions_[id]);
    }
    for (int id : {kRefresh, kInsert, kEject, kEjectCd, kDrives, kProfiles, kPools, kSettings}) {
        if (QWidget* button = toolbar_->widgetForAction(actions_[id]))
            button->setObjectName("tool" + actions_[id]->objectName().mid(6));
    }

    connect(toolbar, &QAction::toggled, toolbar_, &QWidget::setVisible);
    connect(texts, &QAction::toggled, this, [this](bool on) {
        toolbar_->setToolButtonStyle(on ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    });
    connect(status, &QAction::toggled, statusBar(), &QWidget::setVisible);
}

QMenu* AdminWindow::createPopupMenu() {
    // The bars are shown and hidden through the View menu only, so it always tells the truth.
    return nullptr;
}

QAction* AdminWindow::action(int command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

void AdminWindow::updateCommands() {
    const bool drives = !selectedDrives().empty();
    actions_[command::kInsert]->setEnabled(drives);
    actions_[command::kEject]->setEnabled(drives);
    const QTreeWidgetItem* current = tree_->currentItem();
    const int kind = kindOf(current);
    actions_[command::kDrives]->setEnabled(kind == kSessionNode || kind == kDriveNode);
}

QTreeWidgetItem* AdminWindow::rootNode() const {
    return tree_->topLevelItem(0);
}

QTreeWidgetItem* AdminWindow::serverNode(const std::string& name) const {
    QTreeWidgetItem* root = rootNode();
    for (int i = 0; i < root->childCount(); ++i) {
        if (kindOf(root->child(i)) == kServerNode && root->child(i)->text(0) == qs(name))
            return root->child(i);
    }
    return nullptr;
}

QString AdminWindow::poolTitle() const {
    std::string name = backend_.global ? backend_.global("Pool_Name") : std::string();
    if (name.empty() && backend_.ownServerName) name = backend_.ownServerName();
    return name.empty() ? QString("Server pool") : qs(name);
}

ServerWorker* AdminWindow::workerOf(const std::string& server) const {
    auto it = workers_.find(server);
    return it == workers_.end() ? nullptr : it->second.get();
}

const ServerEntry* AdminWindow::serverEntry(const std::string& name) const {
    for (const ServerEntry& server : servers_) {
        if (server.name == name) return &server;
    }
    return nullptr;
}

bool AdminWindow::serverBusy(const std::string& server) const {
    return pendingOf_.contains(server);
}

void AdminWindow::tell(const std::string& text) const {
    ui::userInterface().messageBox(kAdminTitle, text, ui::Icon::Warning, ui::Buttons::Ok, {});
}

// ---- Servers and the tree ---------------------------------------------------------------------

void AdminWindow::rebuildServers() {
    if (listPending_) return;
    if (backend_.setGlobal) backend_.setGlobal("ServerChange", "");
    listPending_ = true;
    const bool posted = request<std::vector<ServerEntry>>(
        *own_,
        [this] { return backend_.servers ? backend_.servers() : std::vector<ServerEntry>{}; },
        [this](std::vector<ServerEntry> servers) {
            listPending_ = false;
            useServers(std::move(servers));
            refresh();
        });
    if (!posted) listPending_ = false;
}

void AdminWindow::useServers(std::vector<ServerEntry> servers) {
    std::map<std::string, std::unique_ptr<ServerWorker>> workers;
    for (const ServerEntry& server : servers) {
        if (workers.contains(server.name)) continue;
        auto kept = workers_.find(server.name);
        if (kept != workers_.end()) {
            workers[server.name] = std::move(kept->second);
            workers_.erase(kept);
        } else {
            workers[server.name] = std::make_unique<ServerWorker>(server.name);
        }
    }
    // A server that left the list: its worker ends now when idle, else once its request is done
    // (stopping it would drop what is queued and wait on the network).
    for (auto& [name, worker] : workers_) {
        if (worker->busy()) retired_.push_back(std::move(worker));
    }
    workers_ = std::move(workers);
    servers_ = std::move(servers);
    std::erase_if(answers_,
                  [this](const auto& entry) { return serverEntry(entry.first) == nullptr; });

    QTreeWidgetItem* root = rootNode();
    std::vector<QString> names;
    for (const ServerEntry& server : servers_)
        names.push_back(qs(server.name));
    for (QTreeWidgetItem* node : keepChildren(root, kServerNode, names)) {
        if (!node->data(0, kDecoratedRole).toBool()) {
            node->setData(0, kDecoratedRole, true);
            node->setIcon(0, icons_->server);
        }
        const ServerEntry* entry = serverEntry(node->text(0).toStdString());
        if (entry != nullptr && entry->local) node->setToolTip(0, "This server");
    }
    openOnce(root);
    showSessionCount();
    updateCommands();
}

void AdminWindow::refresh() {
    rootNode()->setText(0, poolTitle());
    for (const ServerEntry& server : servers_) {
        ServerWorker* worker = workerOf(server.name);
        // A server still busy with a request is asked again by a later refresh.
        if (worker == nullptr || serverBusy(server.name)) continue;
        std::shared_ptr<AnswerCache>& cache = answers_[server.name];
        if (!cache) cache = std::make_shared<AnswerCache>();
        // The node texts are made on the worker, and only when the answer changed: the window
        // thread compares nothing for a server that stays as it was.
        request<ShownAnswer>(
            *worker,
            [this, server, cache, generations = generations_]() -> ShownAnswer {
                auto sessions = backend_.sessions ? backend_.sessions(server) : std::nullopt;
                std::lock_guard guard(cache->lock);
                if (cache->answered && cache->last == sessions) return cache->shown;
                cache->answered = true;
                cache->last = std::move(sessions);
                // Numbers from one counter of the window: a server that leaves the list and
                // comes back never meets a number it showed before.
                ShownAnswer answer{++*generations, nullptr};
                if (cache->last) {
                    std::vector<ShownSession> shown;
                    shown.reserve(cache->last->size());
                    for (const SessionNode& session : *cache->last) {
                        ShownSession node{qs(sessionText(session)), session.id, {}, session.drives};
                        for (const DriveNode& drive : session.drives)
                            node.driveTexts.push_back(qs(driveText(drive)));
                        shown.push_back(std::move(node));
                    }
                    answer.sessions =
                        std::make_shared<const std::vector<ShownSession>>(std::move(shown));
                }
                cache->shown = answer;
                return answer;
            },
            [this, name = server.name](ShownAnswer answer) { showSessions(name, answer); });
    }
    showSessionCount();
}

void AdminWindow::showSessions(const std::string& server, const ShownAnswer& answer) {
    // An answer for a server that has left the list since it was asked is dropped.
    if (serverEntry(server) == nullptr) return;
    QTreeWidgetItem* node = serverNode(server);
    if (node == nullptr) return;
    if (node->data(0, kGenerationRole).toULongLong() == answer.generation) return;
    node->setData(0, kGenerationRole, QVariant::fromValue<qulonglong>(answer.generation));
    const TreeIcons& icons = *icons_;
    const auto& sessions = answer.sessions;
    const bool wasSilent = node->data(0, kSilentRole).toBool();
    if (!sessions) {
        // What a silent server had is no longer known.
        keepChildren(node, kSessionNode, {});
        node->setData(0, kSilentRole, true);
        node->setIcon(0, icons.silentServer);
        node->setToolTip(0, "The server does not answer.");
    } else {
        if (wasSilent || !node->data(0, kDecoratedRole).toBool()) {
            node->setData(0, kSilentRole, false);
            node->setData(0, kDecoratedRole, true);
            node->setIcon(0, icons.server);
            const ServerEntry* entry = serverEntry(server);
            node->setToolTip(0, entry != nullptr && entry->local ? "This server" : "");
        }
        std::vector<QString> texts;
        texts.reserve(sessions->size());
        for (const ShownSession& session : *sessions)
            texts.push_back(session.text);
        const std::vector<QTreeWidgetItem*> items = keepChildren(node, kSessionNode, texts);
        for (size_t i = 0; i < items.size(); ++i) {
            QTreeWidgetItem* item = items[i];
            const ShownSession& session = (*sessions)[i];
            if (!item->data(0, kDecoratedRole).toBool()) {
                item->setData(0, kDecoratedRole, true);
                item->setIcon(0, icons.session);
                item->setData(0, kSessionRole, session.id);
            }
            // A drive is found again by its letter: one that changed its image keeps its
            // node (its place and selection) and only takes the new text.
            std::vector<QString> letters;
            letters.reserve(session.drives.size());
            for (const DriveNode& drive : session.drives)
                letters.push_back(QString(QChar(drive.letter)));
            const std::vector<QTreeWidgetItem*> driveItems =
                keepChildren(item, kDriveNode, letters);
            for (size_t d = 0; d < driveItems.size(); ++d) {
                QTreeWidgetItem* driveItem = driveItems[d];
                if (driveItem->text(0) == session.driveTexts[d]) continue;
                // Each change is a signal to the view: only what differs is set.
                const DriveNode& drive = session.drives[d];
                const bool fresh = !driveItem->data(0, kDecoratedRole).toBool();
                const bool wasEmpty = driveItem->data(0, kImageRole).toString().isEmpty();
                driveItem->setText(0, session.driveTexts[d]);
                driveItem->setData(0, kImageRole, qs(drive.image));
                if (fresh) {
                    driveItem->setData(0, kDecoratedRole, true);
                    driveItem->setData(0, kLetterRole, QChar(drive.letter));
                }
                if (fresh || wasEmpty != drive.image.empty())
                    driveItem->setIcon(0, drive.image.empty() ? icons.emptyDrive : icons.drive);
            }
            openOnce(item);
        }
        openOnce(node);
    }
    showSessionCount();
    updateCommands();
}

int AdminWindow::sessionCount() const {
    int count = 0;
    const QTreeWidgetItem* root = rootNode();
    for (int i = 0; i < root->childCount(); ++i) {
        const QTreeWidgetItem* server = root->child(i);
        for (int j = 0; j < server->childCount(); ++j) {
            if (kindOf(server->child(j)) == kSessionNode) ++count;
        }
    }
    return count;
}

void AdminWindow::showSessionCount() {
    const int count = sessionCount();
    sessionLabel_->setText(count == 1 ? QString("1 session") : QString("%1 sessions").arg(count));
}

std::vector<DriveTarget> AdminWindow::selectedDrives() const {
    std::vector<DriveTarget> drives;
    for (const QTreeWidgetItem* item : tree_->selectedItems()) {
        if (kindOf(item) != kDriveNode) continue;
        const QTreeWidgetItem* session = item->parent();
        const QTreeWidgetItem* server = session != nullptr ? session->parent() : nullptr;
        if (kindOf(session) != kSessionNode || kindOf(server) != kServerNode) continue;
        const ServerEntry* entry = serverEntry(server->text(0).toStdString());
        if (entry == nullptr) continue;
        DriveTarget drive;
        drive.session = {*entry, session->data(0, kSessionRole).toUInt()};
        drive.letter = static_cast<char>(item->data(0, kLetterRole).toChar().toLatin1());
        drive.image = item->data(0, kImageRole).toString().toStdString();
        drive.sessionText = session->text(0).toStdString();
        drives.push_back(std::move(drive));
    }
    return drives;
}

void AdminWindow::tick() {
    for (auto it = retired_.begin(); it != retired_.end();) {
        it = (*it)->busy() ? std::next(it) : retired_.erase(it);
    }
    if (!busy() && backend_.global && backend_.global("ServerChange") == "1") {
        seconds_ = 0;
        rebuildServers();
        return;
    }
    if (++seconds_ > interval_) {
        seconds_ = 0;
        if (!busy()) refresh();
    }
}

// ---- Commands ---------------------------------------------------------------------------------

void AdminWindow::onDrives(const std::vector<DriveTarget>& drives, const std::string& image,
                           std::function<int(const DriveTarget&, std::string&)> work) {
    auto left = std::make_shared<int>(0);
    for (const DriveTarget& drive : drives) {
        ServerWorker* worker = workerOf(drive.session.server.name);
        if (worker == nullptr) continue;
        ++*left;
        const bool posted = request<Outcome>(
            *worker,
            [work, drive] {
                Outcome outcome;
                outcome.code = work(drive, outcome.reason);
                return outcome;
            },
            [this, left, drive, image](Outcome outcome) {
                if (outcome.code != 0) {
                    tell(fillText(
                        adminText(text::kInsertEjectFailed),
                        {image.empty() ? drive.image : image, targetName(drive), outcome.reason}));
                }
                // The tree shows the drives' new contents once every drive has answered.
                if (--*left == 0) refresh();
            });
        if (!posted) --*left;
    }
}

std::optional<std::string> AdminWindow::chooseImage() {
    const std::vector<ImageChoice> images =
        backend_.images ? backend_.images() : std::vector<ImageChoice>{};
    std::optional<std::string> image = dialogs_.chooseImage
                                           ? dialogs_.chooseImage(this, images)
                                           : ImageSelectDialog::choose(this, images);
    if (image && image->empty()) return std::nullopt;
    return image;
}

void AdminWindow::insert() {
    const std::vector<DriveTarget> drives = selectedDrives();
    if (drives.empty()) return;
    const std::optional<std::string> image = chooseImage();
    if (!image) return;
    std::string password;
    if (backend_.password) {
        const std::optional<std::string> typed = backend_.password(*image);
        if (!typed) return;
        password = *typed;
    }
    onDrives(drives, *image,
             [this, image = *image, password](const DriveTarget& drive, std::string& reason) {
                 if (!backend_.insert) return -1;
                 return backend_.insert(drive.session, drive.letter, image, password, reason);
             });
}

void AdminWindow::eject() {
    const std::vector<DriveTarget> drives = selectedDrives();
    if (drives.empty()) return;
    onDrives(drives, {}, [this](const DriveTarget& drive, std::string& reason) {
        if (!backend_.eject) return -1;
        return backend_.eject(drive.session, drive.letter, reason);
    });
}

void AdminWindow::ejectCd() {
    const std::optional<std::string> image = chooseImage();
    if (!image) return;
    struct Ejected {
        char letter = 0;
        Outcome outcome;
    };
    request<Ejected>(
        *own_,
        [this, image = *image] {
            Ejected done;
            done.letter = backend_.ownDriveOf ? backend_.ownDriveOf(image) : 0;
            if (done.letter != 0) {
                done.outcome.code =
                    backend_.ejectOwn ? backend_.ejectOwn(done.letter, done.outcome.reason) : -1;
            }
            return done;
        },
        [this, image = *image](Ejected done) {
            if (done.letter == 0) {
                tell("The image '" + image + "' is in no drive of this session.");
                return;
            }
            if (done.outcome.code != 0) {
                tell(fillText(adminText(text::kInsertEjectFailed),
                              {image, std::string("this session / ") + done.letter + ":",
                               done.outcome.reason}));
            }
            refresh();
        });
}

void AdminWindow::editDrives() {
    if (drivesPending_) return;
    QTreeWidgetItem* session = tree_->currentItem();
    if (kindOf(session) == kDriveNode) session = session->parent();
    if (kindOf(session) != kSessionNode || kindOf(session->parent()) != kServerNode) return;
    const std::string server = session->parent()->text(0).toStdString();
    const ServerEntry* entry = serverEntry(server);
    ServerWorker* worker = workerOf(server);
    if (entry == nullptr || worker == nullptr) return;
    const SessionTarget target{*entry, session->data(0, kSessionRole).toUInt()};
    const QString text = session->text(0);
    drivesPending_ = true;
    const bool posted = request<std::optional<std::vector<DriveLetterRow>>>(
        *worker,
        [this, target]() -> std::optional<std::vector<DriveLetterRow>> {
            if (!backend_.driveLetters) return std::nullopt;
            return backend_.driveLetters(target);
        },
        [this, target, text](std::optional<std::vector<DriveLetterRow>> rows) {
            drivesPending_ = false;
            if (!rows) {
                tell(adminText(text::kNoSessionDrives));
                return;
            }
            openDrives(target, text, std::move(*rows));
        });
    if (!posted) drivesPending_ = false;
}

void AdminWindow::openDrives(const SessionTarget& target, const QString& session,
                             std::vector<DriveLetterRow> rows) {
    using Rows = std::vector<DriveLetterRow>;
    DrivesDialog::Reader reader = [this, target](std::function<void(std::optional<Rows>)> done) {
        ServerWorker* worker = workerOf(target.server.name);
        const bool posted =
            worker != nullptr && request<std::optional<Rows>>(
                                     *worker,
                                     [this, target]() -> std::optional<Rows> {
                                         if (!backend_.driveLetters) return std::nullopt;
                                         return backend_.driveLetters(target);
                                     },
                                     [done](std::optional<Rows> rows) { done(std::move(rows)); });
        if (!posted) done(std::nullopt);
    };
    drivesPending_ = true;
    const std::optional<DrivesChoice> choice =
        dialogs_.editDrives ? dialogs_.editDrives(this, session, std::move(rows), reader)
                            : DrivesDialog::edit(this, session, std::move(rows), reader);
    drivesPending_ = false;
    if (!choice) return;
    ServerWorker* worker = workerOf(target.server.name);
    const bool posted =
        worker != nullptr &&
        request<int>(
            *worker,
            [this, target, choice = *choice] {
                if (!backend_.setDriveLetters) return -1;
                return backend_.setDriveLetters(target, choice.letters, choice.allSessions);
            },
            [this](int code) {
                if (code != 0) {
                    tell(adminText(text::kSetLettersFailed));
                    return;
                }
                refresh();
            });
    if (!posted) tell(adminText(text::kSetLettersFailed));
}

void AdminWindow::editRights() {
    if (backend_.editRights) backend_.editRights();
}

void AdminWindow::startSettings() {
    if (backend_.startSettings) backend_.startSettings();
}

void AdminWindow::managePools() {
    PoolBackend pools = backend_.pools;
    if (!pools.servers) pools.servers = [list = servers_] { return list; };
    if (dialogs_.managePools) {
        dialogs_.managePools(this, std::move(pools));
    } else {
        PoolManagementDialog::run(this, std::move(pools));
    }
}

void AdminWindow::editInterval() {
    const std::optional<int> seconds = dialogs_.editInterval
                                           ? dialogs_.editInterval(this, interval_)
                                           : IntervalDialog::edit(this, interval_);
    if (!seconds || *seconds < 1) return;
    interval_ = *seconds;
    seconds_ = 0;
    if (backend_.setUpdateInterval) backend_.setUpdateInterval(interval_);
}

// ---- The bus and the window's place -----------------------------------------------------------

bool AdminWindow::listenOnBus() {
    front_ = ui::FrontRequests::listen(this, kBringToFront);
    return front_ != nullptr;
}

void AdminWindow::bringToFront() {
    ui::bringForward(this);
}

void AdminWindow::showPlaced(const StateStore& store) {
    auto value = [&store](std::string_view name) -> std::optional<int> {
        return store.get ? store.get(name) : std::nullopt;
    };
    const auto top = value("WindowPosTop"), left = value("WindowPosLeft");
    const auto right = value("WindowPosRight"), bottom = value("WindowPosBottom");
    if (top && left && right && bottom && *right - *left >= 200 && *bottom - *top >= 150) {
        setGeometry(*left, *top, *right - *left, *bottom - *top);
    }
    if (auto shown = value("WindowToolbar")) action(command::kToolbar)->setChecked(*shown != 0);
    if (auto texts = value("ToolBarText")) action(command::kToolTexts)->setChecked(*texts != 0);
    if (auto shown = value("WindowStatusbar")) action(command::kStatusBar)->setChecked(*shown != 0);
    if (value("WindowIsIcon").value_or(0) != 0) {
        showMinimized();
    } else if (value("WindowIsMaximized").value_or(0) != 0) {
        showMaximized();
    } else {
        show();
    }
}

void AdminWindow::savePlacement(const StateStore& store) const {
    if (!store.set) return;
    const QRect place = normalGeometry();
    store.set("WindowPosTop", place.top());
    store.set("WindowPosLeft", place.left());
    store.set("WindowPosRight", place.left() + place.width());
    store.set("WindowPosBottom", place.top() + place.height());
    store.set("WindowIsIcon", isMinimized() ? 1 : 0);
    store.set("WindowIsMaximized", isMaximized() ? 1 : 0);
    store.set("WindowToolbar", action(command::kToolbar)->isChecked() ? 1 : 0);
    store.set("ToolBarText", action(command::kToolTexts)->isChecked() ? 1 : 0);
    store.set("WindowStatusbar", action(command::kStatusBar)->isChecked() ? 1 : 0);
}

}  // namespace ombrix::admin
