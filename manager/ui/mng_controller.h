#pragma once

#include <QObject>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "manager/access_state.h"
#include "manager/availability_worker.h"
#include "manager/image_operations.h"
#include "manager/mng_document.h"
#include "manager/notifications.h"
#include "manager/start_options.h"
#include "manager/ui/mng_main_window.h"
#include "platform/message_bus.h"

class QSocketNotifier;

// Keeps the management program's window in step with the system: evaluates what the user may
// do, reads the document, and answers the messages of the session bus.
namespace ombrix::mng {

// Asks a running window of the session to come to the front (wParam: the asking process).
constexpr const char* kBringToFront = "WM_OXT_MNG_TO_FRONT";

class MngController {
  public:
    struct Setup {
        DocumentSources sources;
        AccessProbes probes;
        ViewOptions view;
        std::vector<int> columns;
        // Reads the view options and shown columns again when the settings changed.
        std::function<void(ViewOptions& view, std::vector<int>& columns)> readSettings;
        // Commands whose work lies outside the window (image operations, outside programs).
        std::function<void(int command)> command;
        ProgramLog* log = nullptr;
        // Whether an image file can be reached now (asked off the window thread).
        std::function<bool(const std::string& path)> reachable;
        std::chrono::milliseconds availabilityPause{1000};
        // A file's last change (seconds), 0 when it cannot be read.
        std::function<int64_t(const std::string& path)> modified;
        // How long a full refresh waits after telling the session it reads the files again.
        std::chrono::milliseconds refreshDelay{300};
        // The language's "HTML" folder with the home page; empty for none.
        std::string homePageFolder;
        // Called after a tree file was written, so the other sessions read it again.
        std::function<void()> treeWritten;
        // The image operations: the client library, the dialogs (made for the window), the
        // user's settings and folders.
        ClientPorts ports;
        std::function<std::unique_ptr<OperationDialogs>(QWidget* parent)> dialogs;
        std::function<std::string(std::string_view key)> setting;
        std::function<void(std::string_view key, const std::string& value)> setSetting;
        std::string desktopFolder;
        std::string temporaryFolder;
    };

    explicit MngController(Setup setup);
    ~MngController();

    MngMainWindow& window() { return *window_; }
    const MngDocument& document() const { return document_; }
    const AccessState& access() const { return access_; }
    BusyFlags& busy() { return busy_; }
    // An operation holding busy flag `flag` has ended: a refresh held back meanwhile runs now.
    void operationEnded(int flag);
    // Writes the tree files the user may change from the document's tree.
    void saveTrees();

    // Answers the messages of the caller's session from now on.
    bool listenOnBus();
    // What a message asks, done on the window thread.
    void handle(const platform::BusMessage& message);
    // Reads access, catalogue, tree files and drives again.
    void refresh();
    // The refresh of the Refresh command and of the files' messages: when forced or when the
    // files changed since the last look, the session is told, and the files are read again
    // after a short wait.
    void fullRefresh(bool forced);
    // Starts watching whether the image files can be reached (with Setup::reachable).
    void startAvailability();

    AvailabilityWorker& availability() { return *availability_; }
    ImageOperations& operations() { return *operations_; }

  private:
    void publishPaths();
    bool filesChanged();
    void flushReports();
    void log(int level, const std::string& line) const;
    void evaluate();
    void makeOperations();

    Setup setup_;
    AccessState access_;
    std::vector<int> disabled_;
    MngDocument document_;
    BusyFlags busy_;
    std::vector<int64_t> fileTimes_;
    std::chrono::steady_clock::time_point lastCheck_{};
    std::unique_ptr<MngMainWindow> window_;
    std::unique_ptr<OperationDialogs> dialogs_;
    std::unique_ptr<ImageOperations> operations_;
    std::unique_ptr<platform::BusListener> bus_;
    QSocketNotifier* busNotifier_ = nullptr;
    // The image files as the worker checks them, shared with its thread.
    std::mutex pathsLock_;
    std::unordered_map<int, std::string> paths_;
    std::unique_ptr<AvailabilityWorker> availability_;
    // The worker's reports waiting for the window thread, taken a slice at a time.
    std::mutex reportsLock_;
    std::deque<std::pair<int, bool>> reports_;
    bool flushPosted_ = false;
};

}  // namespace ombrix::mng
