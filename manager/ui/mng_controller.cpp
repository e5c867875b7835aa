#include "manager/ui/mng_controller.h"

#include "manager/ui/operation_commands.h"

#include <unistd.h>

#include <QApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

#include "manager/command_ids.h"

namespace ombrix::mng {
namespace {

// Dialogs for a window without its own: messages go to the message box port, every question is
// answered with a cancel and long work runs without progress.
class MessageBoxDialogs : public OperationDialogs {
  public:
    void tell(const std::string& text, ui::Icon icon) override {
        ui::userInterface().messageBox("Ombrix TS v5 - CD Management", text, icon, ui::Buttons::Ok,
                                       {});
    }
    bool ask(const std::string& text) override {
        return ui::userInterface().messageBox("Ombrix TS v5 - CD Management", text,
                                              ui::Icon::Question, ui::Buttons::YesNo,
                                              {}) == ui::Answer::Yes;
    }
    std::vector<std::string> chooseImageFiles() override { return {}; }
    std::optional<bool> askConversion() override { return std::nullopt; }
    int runConversion(int, int, const std::string&, const ProgressWork& work) override {
        return work([](int) { return true; });
    }
    std::optional<FindResult> findImages(const FindSetup&) override { return std::nullopt; }
    DeleteAnswer askDeleteImage(const std::string&, bool&) override { return DeleteAnswer::Cancel; }
    FolderDeletion askDeleteFolder(const std::string&) override { return FolderDeletion::Cancel; }
    std::optional<CopyChoice> askCopy(const CopyRequest&) override { return std::nullopt; }
    int runCopy(const std::string&, const ProgressWork& work) override {
        return work([](int) { return true; });
    }
    bool editProperties(ImageProperties&, const PropertyEditing&, const std::function<void()>&,
                        const std::function<void()>&) override {
        return false;
    }
    std::optional<std::pair<std::string, std::string>> askNewPassword() override {
        return std::nullopt;
    }
    std::optional<std::string> chooseFolder(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void showFileInformation(const FileInformation&) override {}
};

}  // namespace

MngController::MngController(Setup setup) : setup_(std::move(setup)) {
    evaluate();
    document_.load(setup_.sources, setup_.view);
    MngMainWindow::Handlers handlers;
    handlers.refresh = [this] { fullRefresh(true); };
    handlers.command = [this](int command) {
        if (command == command::kSeparatedView) {
            setup_.view.separated = !setup_.view.separated;
            refresh();
            window_->setSeparatedChecked(setup_.view.separated);
        } else if (!runOperation(command, window_->selection(), *operations_, *window_,
                                 document_) &&
                   setup_.command) {
            setup_.command(command);
        }
    };
    handlers.drop = [this](const Selection& target, const std::vector<TreeItem>& items,
                           const std::vector<std::string>& files,
                           bool copy) { dropOnto(target, items, files, copy, *operations_); };
    handlers.rename = [this](const std::string& folder, const std::string& name) {
        if (!operations_->renameFolder(folder, name)) window_->showDocument();
    };
    handlers.activate = [this](int index) {
        if (setup_.view.doubleClickInserts) {
            operations_->insert(0, index);
        } else {
            operations_->properties(index);
        }
    };
    handlers.log = [this](int level, const std::string& line) { log(level, line); };
    handlers.rowsShown = [this](std::vector<int> indexes) {
        if (availability_) availability_->showing(std::move(indexes));
    };
    window_ = std::make_unique<MngMainWindow>(document_, disabled_, setup_.columns, handlers);
    window_->setSeparatedChecked(setup_.view.separated);
    makeOperations();
    if (access_.htmlHomePage && !setup_.homePageFolder.empty()) {
        window_->showHomePage(QString::fromStdString(setup_.homePageFolder));
    }
}

void MngController::makeOperations() {
    dialogs_ = setup_.dialogs ? setup_.dialogs(window_.get()) : nullptr;
    if (!dialogs_) dialogs_ = std::make_unique<MessageBoxDialogs>();
    ImageOperations::Host host;
    host.document = &document_;
    host.access = [this] { return access_; };
    host.busy = &busy_;
    host.ended = [this](int flag) { operationEnded(flag); };
    host.saveTrees = [this] { saveTrees(); };
    host.show = [this] {
        publishPaths();
        window_->showDocument();
    };
    host.select = [this](int index) {
        // The image's first folder is shown, with its row selected.
        const auto folders = document_.tree().foldersOf(index);
        if (!folders.empty()) window_->selectFolder(QString::fromStdString(folders.front()));
        window_->selectImage(index);
    };
    host.log = [this](int level, const std::string& line) { log(level, line); };
    host.setting = setup_.setting;
    host.setSetting = setup_.setSetting;
    host.desktopFolder = setup_.desktopFolder;
    host.temporaryFolder = setup_.temporaryFolder;
    operations_ = std::make_unique<ImageOperations>(host, setup_.ports, *dialogs_);
}

MngController::~MngController() {
    if (availability_) availability_->stop();
}

void MngController::publishPaths() {
    std::vector<int> all;
    {
        std::lock_guard lock(pathsLock_);
        paths_.clear();
        for (const auto& image : document_.images()) {
            paths_[image.index] = image.path;
            all.push_back(image.index);
        }
    }
    if (availability_) availability_->setAll(std::move(all));
}

void MngController::flushReports() {
    constexpr size_t kSlice = 100;
    std::vector<std::pair<int, bool>> slice;
    bool more = false;
    {
        std::lock_guard lock(reportsLock_);
        const size_t n = std::min(kSlice, reports_.size());
        slice.assign(reports_.begin(), reports_.begin() + static_cast<long>(n));
        reports_.erase(reports_.begin(), reports_.begin() + static_cast<long>(n));
        more = !reports_.empty();
        flushPosted_ = more;
    }
    for (auto [index, available] : slice)
        window_->setAvailable(index, available);
    if (more) {
        QMetaObject::invokeMethod(
            window_.get(), [this] { flushReports(); }, Qt::QueuedConnection);
    }
}

void MngController::startAvailability() {
    if (!setup_.reachable || availability_) return;
    AvailabilityWorker::Hooks hooks;
    hooks.imagePath = [this](int index) {
        std::lock_guard lock(pathsLock_);
        auto it = paths_.find(index);
        return it == paths_.end() ? std::string() : it->second;
    };
    hooks.reachable = setup_.reachable;
    hooks.changed = [this](int index, bool available) {
        bool post = false;
        {
            std::lock_guard lock(reportsLock_);
            reports_.emplace_back(index, available);
            post = !flushPosted_;
            flushPosted_ = true;
        }
        // To the window thread, which takes the reports in slices between its other work.
        if (post) {
            QMetaObject::invokeMethod(
                window_.get(), [this] { flushReports(); }, Qt::QueuedConnection);
        }
    };
    hooks.log = [this](int level, const std::string& line) { log(level, line); };
    hooks.pause = setup_.availabilityPause;
    availability_ = std::make_unique<AvailabilityWorker>(std::move(hooks));
    publishPaths();
    availability_->start();
}

void MngController::log(int level, const std::string& line) const {
    if (setup_.log != nullptr) setup_.log->write(level, line);
}

void MngController::evaluate() {
    access_ = evaluateAccess(setup_.probes);
    disabled_ = disabledCommands(access_, setup_.probes);
}

// The files whose change makes a refresh worth its while: the pool's catalogue and tree and
// the user's own tree.
bool MngController::filesChanged() {
    const auto now = std::chrono::steady_clock::now();
    if (!access_.canAccessConfigPath) {
        // Nothing to look at: at most one refresh a second.
        const bool due = now - lastCheck_ >= std::chrono::milliseconds(1000);
        lastCheck_ = now;
        return due;
    }
    std::vector<int64_t> times;
    for (const std::optional<std::string>& file :
         {setup_.probes.globalImageFile(), setup_.probes.globalTreeFile(),
          std::optional<std::string>(localTreeFile(setup_.probes.userConfigFolder()))}) {
        times.push_back(file && setup_.modified ? setup_.modified(*file) : 0);
    }
    lastCheck_ = now;
    if (times == fileTimes_) return false;
    fileTimes_ = std::move(times);
    return true;
}

void MngController::fullRefresh(bool forced) {
    if (!forced && !filesChanged()) return;
    if (forced) filesChanged();  // note the files' times as they are now
    // The other programs of the session hear that the files are read again, and get a moment
    // to finish what they write before this one reads.
    platform::postToSession({std::string(kImageFileUpdate), static_cast<uint64_t>(::getpid()), 0});
    QTimer::singleShot(setup_.refreshDelay, window_.get(), [this] {
        if (busy_.any()) {
            busy_.holdRefresh();
            return;
        }
        QApplication::setOverrideCursor(Qt::WaitCursor);
        refresh();
        QApplication::restoreOverrideCursor();
    });
}

void MngController::operationEnded(int flag) {
    if (busy_.clear(flag)) fullRefresh(true);
}

void MngController::saveTrees() {
    auto fileOf = [this](int index) {
        const CatalogueImage* image = document_.image(index);
        return image != nullptr ? image->path : std::string();
    };
    bool written = false;
    auto save = [&](TreeFile file, const std::string& path, const char* which) {
        log(1, std::string("!!!!Write the ") + which + " TREEDat (" + path + ") !!!! ");
        const std::string text = document_.tree().fileText(file, document_.prefixOf(file), fileOf);
        if (int err = saveTreeFile(path, text)) {
            log(1, "cannot open the TreeStructur\n(" + path + " -- " + std::to_string(err) + ")");
            return;
        }
        log(1, "...written\n");
        written = true;
    };
    if (access_.canChangeLocalTree) {
        save(TreeFile::Local, localTreeFile(setup_.probes.userConfigFolder()), "local");
    }
    if (access_.canChangeGlobalTree) {
        if (auto global = setup_.probes.globalTreeFile()) save(TreeFile::Global, *global, "global");
    }
    if (written && setup_.treeWritten) setup_.treeWritten();
}

void MngController::refresh() {
    evaluate();
    document_.load(setup_.sources, setup_.view);
    publishPaths();
    window_->setDisabledCommands(disabled_);
    window_->showDocument();
}

bool MngController::listenOnBus() {
    bus_ = std::make_unique<platform::BusListener>();
    if (!bus_->ok()) {
        bus_.reset();
        return false;
    }
    busNotifier_ = new QSocketNotifier(bus_->fd(), QSocketNotifier::Read, window_.get());
    QObject::connect(busNotifier_, &QSocketNotifier::activated, window_.get(), [this] {
        while (auto message = bus_->receive(0))
            handle(*message);
    });
    return true;
}

void MngController::handle(const platform::BusMessage& message) {
    if (message.name == kBringToFront) {
        log(0, "---->MSG: to the front (" + std::to_string(message.wParam) + ")");
        window_->showNormal();
        window_->raise();
        window_->activateWindow();
        return;
    }
    const std::optional<Notice> notice = noticeNamed(message.name);
    if (!notice) return;
    const pid_t self = ::getpid();
    log(0, arrivalLine(*notice, message.wParam, self, message.lParam));
    const Reaction reaction = reactionTo(*notice, static_cast<pid_t>(message.wParam), self, busy_);
    // While an operation runs (its dialogs let messages in) the document must stay as the
    // operation found it: every reload waits until the operation has ended.
    const bool reloads = reaction != Reaction::Ignore && reaction != Reaction::LogOnly &&
                         reaction != Reaction::ReloadMenus;
    if (reloads && busy_.any()) {
        busy_.holdRefresh();
        return;
    }
    switch (reaction) {
        case Reaction::Ignore:
        case Reaction::LogOnly: return;
        case Reaction::RefreshLater: busy_.holdRefresh(); return;
        case Reaction::ReloadMenus:
            evaluate();
            window_->setDisabledCommands(disabled_);
            return;
        case Reaction::RemoveImage:
            // Its places in the tree go, and the tree files say so.
            document_.tree().dropImage(static_cast<int>(message.lParam));
            saveTrees();
            refresh();
            return;
        case Reaction::UpdateDrive:
        case Reaction::RebuildDrives:
        case Reaction::UpdateImageRow:
        case Reaction::AddImage:
            // The document is read again whole: the tree, the rows and the drive items then
            // show the change, whichever it was.
            refresh();
            return;
        case Reaction::ReevaluateSettings:
            if (setup_.readSettings) {
                // Whether the catalogues are shown apart is the window's own choice.
                const bool separated = setup_.view.separated;
                setup_.readSettings(setup_.view, setup_.columns);
                setup_.view.separated = separated;
                window_->setColumns(setup_.columns);
            }
            fullRefresh(true);
            return;
        case Reaction::FullRefresh: fullRefresh(false); return;
    }
}

}  // namespace ombrix::mng
