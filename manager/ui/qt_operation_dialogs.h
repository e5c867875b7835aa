#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "manager/operation_dialogs.h"

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

// The image operations' dialogs as Qt windows. Each dialog is built by a static make function
// and read back by a static function once it has been closed, so a test can build one, press
// its buttons and read the answer without running a modal loop; the interface's methods run
// the same dialogs modally.
namespace ombrix::mng {

// Long work on a worker thread under a modal progress dialog. The report function the work gets
// only touches two atomics; the dialog looks at them every 50 ms, so reporting costs the work
// next to nothing however often it is called.
class ProgressRun {
  public:
    // Asks, over the progress dialog, whether the work is to be abandoned; true aborts.
    using ConfirmCancel = std::function<bool(QWidget* over)>;

    // `lines` are shown above the percentage line; `percentText` makes that line from the
    // percentage (none when empty). Without `confirmCancel` Cancel aborts at once.
    ProgressRun(QWidget* parent, const QString& title, const QStringList& lines,
                std::function<QString(int percent)> percentText, ConfirmCancel confirmCancel);
    // Tells a work still running to stop and waits for it.
    ~ProgressRun();
    ProgressRun(const ProgressRun&) = delete;
    ProgressRun& operator=(const ProgressRun&) = delete;

    // Runs `work` on its own thread with the dialog shown modally; the dialog closes when the
    // work returns, and its result is returned. A work that throws rethrows here.
    int run(const ProgressWork& work);

    // What Cancel (and closing the dialog) does: asks the question when there is one and, on
    // yes, makes every later report return false. The dialog stays until the work returns.
    void cancel();

    bool cancelled() const { return cancelled_.load(); }
    int percent() const { return percent_.load(); }
    QDialog& dialog() const { return *dialog_; }

  private:
    void poll();

    std::unique_ptr<QDialog> dialog_;
    QProgressBar* bar_ = nullptr;
    QLabel* percentLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QTimer* timer_ = nullptr;
    std::function<QString(int)> percentText_;
    ConfirmCancel confirmCancel_;
    std::atomic<int> percent_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    std::thread worker_;
    int shownPercent_ = -1;
    bool asking_ = false;  // the cancel question is open: the dialog must not close under it
};

class QtOperationDialogs : public OperationDialogs {
  public:
    // Asks a yes/no question over `parent`; true for yes. Replaceable so that tests can answer
    // the questions asked while work runs.
    using Confirm = std::function<bool(QWidget* parent, const QString& question)>;

    explicit QtOperationDialogs(QWidget* parent);

    void setConfirmation(Confirm confirm) { confirm_ = std::move(confirm); }

    void tell(const std::string& text, ui::Icon icon) override;
    bool ask(const std::string& text) override;
    std::vector<std::string> chooseImageFiles() override;
    std::optional<bool> askConversion() override;
    int runConversion(int number, int count, const std::string& file,
                      const ProgressWork& work) override;
    std::optional<FindResult> findImages(const FindSetup& setup) override;
    DeleteAnswer askDeleteImage(const std::string& description, bool& fromDisk) override;
    FolderDeletion askDeleteFolder(const std::string& folder) override;
    std::optional<CopyChoice> askCopy(const CopyRequest& request) override;
    int runCopy(const std::string& title, const ProgressWork& work) override;
    bool editProperties(ImageProperties& properties, const PropertyEditing& editing,
                        const std::function<void()>& changePassword,
                        const std::function<void()>& createShortcut) override;
    std::optional<std::pair<std::string, std::string>> askNewPassword() override;
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& start) override;
    void showFileInformation(const FileInformation& file) override;

    // The dialogs, built but not shown. A dialog made with a parent must be destroyed before it.

    // "Convert Ombrixs"; the answer: whether the sources are kept, nothing when cancelled.
    static std::unique_ptr<QDialog> makeConversionDialog(QWidget* parent);
    static std::optional<bool> conversionAnswer(const QDialog& dialog);

    // "Find Existing Ombrixs". The search runs on the dialog's own thread, which the dialog
    // stops and waits for when it closes or is destroyed.
    static std::unique_ptr<QDialog> makeFindDialog(QWidget* parent, const FindSetup& setup);
    static std::optional<FindResult> findAnswer(const QDialog& dialog);

    // "Delete": the button pressed; `fromDisk` takes the check box unless it was cancelled.
    static std::unique_ptr<QDialog> makeDeleteImageDialog(QWidget* parent,
                                                          const std::string& description,
                                                          bool fromDisk);
    static DeleteAnswer deleteImageAnswer(const QDialog& dialog, bool& fromDisk);

    static std::unique_ptr<QDialog> makeDeleteFolderDialog(QWidget* parent,
                                                           const std::string& folder);
    static FolderDeletion deleteFolderAnswer(const QDialog& dialog);

    static std::unique_ptr<QDialog> makeCopyDialog(QWidget* parent, const CopyRequest& request);
    static std::optional<CopyChoice> copyAnswer(const QDialog& dialog);

    // "Ombrix - Image File Properties". `applyProperties` writes into `properties` the fields
    // the user could edit and did change, and only when the sheet was closed with OK; it
    // returns whether it was.
    static std::unique_ptr<QDialog> makePropertiesDialog(QWidget* parent,
                                                         const ImageProperties& properties,
                                                         const PropertyEditing& editing,
                                                         std::function<void()> changePassword,
                                                         std::function<void()> createShortcut);
    static bool applyProperties(const QDialog& dialog, ImageProperties& properties);

    static std::unique_ptr<QDialog> makePasswordDialog(QWidget* parent);
    static std::optional<std::pair<std::string, std::string>> passwordAnswer(const QDialog& dialog);

    static std::unique_ptr<QDialog> makeFileInformationDialog(QWidget* parent,
                                                              const FileInformation& file);

    // The progress dialogs of `runConversion` and `runCopy`, not yet running.
    std::unique_ptr<ProgressRun> makeConversionRun(int number, int count,
                                                   const std::string& file) const;
    std::unique_ptr<ProgressRun> makeCopyRun(const std::string& title) const;

    // A stored hotkey as the property sheet shows it ("Ctrl+Alt+F5"; "None" for none): the
    // virtual key in the low byte, Shift 1, Ctrl 2 and Alt 4 in the high byte.
    static QString hotkeyText(uint16_t hotkey);

  private:
    QWidget* parent_;
    Confirm confirm_;
};

}  // namespace ombrix::mng
