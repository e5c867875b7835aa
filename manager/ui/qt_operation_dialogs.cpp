#include "manager/ui/qt_operation_dialogs.h"
#include "platform/ui/dialog_buttons.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTextCursor>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <exception>
#include <tuple>

namespace ombrix::mng {
namespace {

constexpr const char* kCaption = "Ombrix TS v5 - CD Management";
constexpr const char* kKeepSources = "&Copy the image files before converting them";
constexpr int kPollMs = 50;
constexpr int kCommentLimit = 127;

// Result codes of the dialogs with more than one way to say yes (0 and 1 are Qt's own).
constexpr int kYesToAllCode = 2;
constexpr int kNoCode = 3;
constexpr int kAddSelectedCode = 2;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* questionIcon(QWidget* parent) {
    auto* icon = new QLabel(parent);
    icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32));
    icon->setAlignment(Qt::AlignTop);
    return icon;
}

QPushButton* addButton(QDialogButtonBox* box, const QString& text,
                       QDialogButtonBox::ButtonRole role, const char* name) {
    QPushButton* button = box->addButton(text, role);
    button->setObjectName(name);
    return button;
}

QDialogButtonBox* okCancel(QDialog* dialog) {
    return ui::okCancelButtons(dialog);
}

// A line edit with a "Browse..." button that fills it with a folder the user picks.
QHBoxLayout* folderField(QWidget* owner, QLineEdit* field, const QString& browseTitle) {
    auto* row = new QHBoxLayout;
    auto* browse = new QPushButton("Browse...", owner);
    browse->setObjectName("browse");
    QObject::connect(browse, &QPushButton::clicked, owner, [owner, field, browseTitle] {
        const QString folder = QFileDialog::getExistingDirectory(owner, browseTitle, field->text());
        if (!folder.isEmpty()) field->setText(folder);
    });
    row->addWidget(field, 1);
    row->addWidget(browse);
    return row;
}

template <typename Widget>
Widget* child(const QDialog& dialog, const char* name) {
    return dialog.findChild<Widget*>(name);
}

// The progress dialog: closing it or pressing Escape is the same as pressing Cancel.
class ProgressDialog : public QDialog {
  public:
    using QDialog::QDialog;
    std::function<void()> onReject;
    void reject() override {
        if (onReject) {
            onReject();
        } else {
            QDialog::reject();
        }
    }
};

// "Find Existing Ombrixs": searches on its own thread and lists what it finds.
class FindDialog : public QDialog {
  public:
    FindDialog(QWidget* parent, const FindSetup& setup) : QDialog(parent), search_(setup.search) {
        setObjectName("findDialog");
        setWindowTitle("Find Existing Ombrixs");
        auto* layout = new QVBoxLayout(this);
        auto* form = new QFormLayout;
        folder_ = new QLineEdit(qs(setup.folder), this);
        folder_->setObjectName("folder");
        folder_->setMinimumWidth(360);
        form->addRow("Search in &folder:",
                     folderField(this, folder_, "Select the folder to be searched for ombrixs"));
        type_ = new QComboBox(this);
        type_->setObjectName("type");
        type_->addItems({".om4 images", ".zrm images", ".iso images"});
        type_->setCurrentIndex(static_cast<int>(setup.type));
        form->addRow("Files of &type:", type_);
        layout->addLayout(form);
        keepSources_ = new QCheckBox(kKeepSources, this);
        keepSources_->setObjectName("keepSources");
        keepSources_->setChecked(true);
        layout->addWidget(keepSources_);

        auto* searchRow = new QHBoxLayout;
        count_ = new QLabel(this);
        count_->setObjectName("count");
        searchButton_ = new QPushButton("&Search", this);
        searchButton_->setObjectName("search");
        searchRow->addWidget(count_, 1);
        searchRow->addWidget(searchButton_);
        layout->addLayout(searchRow);
        files_ = new QListWidget(this);
        files_->setObjectName("files");
        files_->setSelectionMode(QAbstractItemView::ExtendedSelection);
        layout->addWidget(files_, 1);

        auto* buttons = new QDialogButtonBox(this);
        addAll_ =
            addButton(buttons, "&Add all image files", QDialogButtonBox::AcceptRole, "addAll");
        addSelected_ = addButton(buttons, "A&dd selected image files", QDialogButtonBox::AcceptRole,
                                 "addSelected");
        addButton(buttons, "Cancel", QDialogButtonBox::RejectRole, "cancel");
        layout->addWidget(buttons);

        poll_ = new QTimer(this);
        poll_->setInterval(kPollMs);
        connect(poll_, &QTimer::timeout, this, [this] { poll(); });
        connect(searchButton_, &QPushButton::clicked, this, [this] {
            if (worker_.joinable()) {
                stop_ = true;  // the files found so far are listed when the search returns
            } else {
                startSearch();
            }
        });
        connect(folder_, &QLineEdit::textChanged, this, [this] { updateButtons(); });
        connect(files_, &QListWidget::itemSelectionChanged, this, [this] { updateButtons(); });
        connect(addAll_, &QPushButton::clicked, this, [this] { finish(false); });
        connect(addSelected_, &QPushButton::clicked, this, [this] { finish(true); });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        updateButtons();
        resize(520, 440);
    }

    ~FindDialog() override { stopSearch(); }

    void reject() override {
        stopSearch();
        QDialog::reject();
    }

    const std::optional<FindResult>& answer() const { return answer_; }

  private:
    void startSearch() {
        files_->clear();
        searched_ = folder_->text().toStdString();
        found_ = 0;
        stop_ = false;
        finished_ = false;
        results_.clear();
        worker_ = std::thread(
            [this, folder = searched_, type = static_cast<ImageFileType>(type_->currentIndex())] {
                try {
                    results_ = search_(folder, type, [this](size_t found) {
                        found_.store(found, std::memory_order_relaxed);
                        return !stop_.load(std::memory_order_relaxed);
                    });
                } catch (...) {
                    results_.clear();  // a failed search finds nothing
                }
                finished_.store(true, std::memory_order_release);
            });
        searchButton_->setText("&Stop");
        poll_->start();
        updateButtons();
        poll();
    }

    void poll() {
        if (!worker_.joinable()) return;
        if (!finished_.load(std::memory_order_acquire)) {
            showCount(found_.load(std::memory_order_relaxed));
            return;
        }
        poll_->stop();
        worker_.join();
        for (const std::string& file : results_)
            files_->addItem(qs(file));
        showCount(results_.size());
        searchButton_->setText("&Search");
        updateButtons();
    }

    void showCount(size_t found) {
        count_->setText(QString::asprintf("%d image files found.", static_cast<int>(found)));
    }

    void stopSearch() {
        if (!worker_.joinable()) return;
        stop_ = true;
        worker_.join();
        poll_->stop();
    }

    void updateButtons() {
        const bool searching = worker_.joinable();
        searchButton_->setEnabled(searching || (search_ && !folder_->text().isEmpty()));
        addAll_->setEnabled(!searching && files_->count() > 0);
        addSelected_->setEnabled(!searching && !files_->selectedItems().isEmpty());
    }

    void finish(bool selectedOnly) {
        FindResult result;
        result.folder = searched_;
        result.keepSources = keepSources_->isChecked();
        for (int row = 0; row < files_->count(); ++row) {
            const QListWidgetItem* item = files_->item(row);
            if (!selectedOnly || item->isSelected())
                result.files.push_back(item->text().toStdString());
        }
        answer_ = std::move(result);
        done(selectedOnly ? kAddSelectedCode : int{QDialog::Accepted});
    }

    decltype(FindSetup::search) search_;
    QLineEdit* folder_ = nullptr;
    QComboBox* type_ = nullptr;
    QCheckBox* keepSources_ = nullptr;
    QLabel* count_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QListWidget* files_ = nullptr;
    QPushButton* addAll_ = nullptr;
    QPushButton* addSelected_ = nullptr;
    QTimer* poll_ = nullptr;
    std::thread worker_;
    std::atomic<size_t> found_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::vector<std::string> results_;  // the worker's, read once it has finished
    std::string searched_;
    std::optional<FindResult> answer_;
};

// The property sheet's fields remember what they showed, so that OK writes back only what the
// user changed: a value that was shown but not touched keeps its stored form exactly.
constexpr const char* kShown = "shown";

QLineEdit* lineField(QWidget* page, const char* name, const std::string& value, bool editable,
                     int maxLength) {
    auto* field = new QLineEdit(page);
    field->setObjectName(name);
    if (maxLength > 0) field->setMaxLength(maxLength);
    field->setText(qs(value));
    field->setProperty(kShown, field->text());
    field->setEnabled(editable);
    return field;
}

QLabel* valueLabel(QWidget* page, const char* name, const QString& value) {
    auto* label = new QLabel(value, page);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A browse button for a field: a program file or a folder.
QPushButton* browseButton(QWidget* page, const char* name, QLineEdit* field, bool forFolder,
                          bool editable) {
    auto* button = new QPushButton("...", page);
    button->setObjectName(name);
    button->setEnabled(editable);
    button->setMaximumWidth(32);
    QObject::connect(button, &QPushButton::clicked, page, [page, field, forFolder] {
        const QString chosen =
            forFolder ? QFileDialog::getExistingDirectory(page, "Working directory", field->text())
                      : QFileDialog::getOpenFileName(page, "Start program", field->text());
        if (!chosen.isEmpty()) field->setText(chosen);
    });
    return button;
}

QWidget* generalPage(QWidget* parent, const ImageProperties& properties,
                     const PropertyEditing& editing, std::function<void()> changePassword,
                     std::function<void()> createShortcut) {
    auto* page = new QWidget(parent);
    auto* form = new QFormLayout(page);
    // The catalogue record's fields hold 259 characters, the description 128, an ISO label 32.
    form->addRow("&Description:",
                 lineField(page, "description", properties.description, editing.description, 128));
    for (auto [label, name, value, folder] :
         {std::tuple{"Start &program:", "program", &properties.program, false},
          std::tuple{"&Working directory:", "workingDirectory", &properties.workingDirectory,
                     true}}) {
        auto* field = lineField(page, name, *value, editing.catalogueFields, 259);
        auto* row = new QHBoxLayout;
        row->addWidget(field, 1);
        row->addWidget(browseButton(page, folder ? "browseWorkingDirectory" : "browseProgram",
                                    field, folder, editing.catalogueFields));
        form->addRow(label, row);
    }
    form->addRow("CD &label:", lineField(page, "label", properties.label, editing.label, 32));

    auto* drive = new QComboBox(page);
    drive->setObjectName("defaultDrive");
    drive->addItem("(none)", 0);
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        drive->addItem(QString("%1:").arg(QChar::fromLatin1(letter)), static_cast<int>(letter));
    const int stored = std::toupper(static_cast<unsigned char>(properties.defaultDrive));
    drive->setCurrentIndex(stored >= 'A' && stored <= 'Z' ? stored - 'A' + 1 : 0);
    drive->setProperty(kShown, drive->currentIndex());
    drive->setEnabled(editing.catalogueFields);
    form->addRow("Default d&rive:", drive);

    auto* eject = new QCheckBox("Eject on exit.", page);
    eject->setObjectName("ejectOnExit");
    eject->setChecked(properties.ejectOnExit);
    eject->setProperty(kShown, eject->isChecked());
    eject->setEnabled(editing.catalogueFields);
    form->addRow(QString(), eject);

    auto* hotkey = new QLineEdit(QtOperationDialogs::hotkeyText(properties.hotkey), page);
    hotkey->setObjectName("hotkey");
    hotkey->setReadOnly(true);
    form->addRow("Hotkey:", hotkey);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (auto [text, name, enabled, callback] :
         {std::tuple{"Change &password...", "changePassword", editing.changePassword,
                     std::move(changePassword)},
          std::tuple{"&Create shortcut", "createShortcut", editing.createShortcut,
                     std::move(createShortcut)}}) {
        auto* button = new QPushButton(text, page);
        button->setObjectName(name);
        button->setEnabled(enabled && callback != nullptr);
        QObject::connect(button, &QPushButton::clicked, page, [callback] { callback(); });
        buttons->addWidget(button);
    }
    form->addRow(buttons);
    return page;
}

QWidget* statisticsPage(QWidget* parent, const ImageProperties& properties) {
    auto* page = new QWidget(parent);
    auto* form = new QFormLayout(page);
    const QString size =
        properties.sizeMegabytes.empty() ? QString() : qs(properties.sizeMegabytes) + " MB";
    form->addRow("File name:", valueLabel(page, "fileName", qs(properties.fileName)));
    form->addRow("Size:", valueLabel(page, "size", size));
    form->addRow("Date created:", valueLabel(page, "created", qs(properties.created)));
    form->addRow("Currently in use:", valueLabel(page, "inUse", qs(properties.inUse)));
    form->addRow("CD type:", valueLabel(page, "cdType", qs(properties.cdType)));
    return page;
}

// Keeps a comment within its limit by dropping what was just typed or pasted beyond it (the
// end of the text when the edit has no cursor yet, as while its text is being set).
void limitLength(QPlainTextEdit* edit, int limit) {
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit, limit] {
        const int size = static_cast<int>(edit->toPlainText().size());
        const int excess = size - limit;
        if (excess <= 0) return;
        const QTextCursor typing = edit->textCursor();
        const int end = !typing.isNull() && typing.position() >= excess ? typing.position() : size;
        QTextCursor cut(edit->document());
        cut.setPosition(end - excess);
        cut.setPosition(end, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    });
}

QWidget* commentPage(QWidget* parent, const ImageProperties& properties, bool editable) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    auto* comment = new QPlainTextEdit(page);
    comment->setObjectName("comment");
    // Shown with plain line ends; `applyProperties` restores stored "\r\n" ends on writing.
    comment->setPlainText(qs(properties.comment).replace("\r\n", "\n").left(kCommentLimit));
    comment->setProperty(kShown, comment->toPlainText());
    limitLength(comment, kCommentLimit);
    comment->setEnabled(editable);
    layout->addWidget(comment);
    layout->addWidget(new QLabel(QString("At most %1 characters.").arg(kCommentLimit), page));
    return page;
}

QWidget* tracksPage(QWidget* parent, const ImageProperties& properties) {
    auto* tracks = new QTreeWidget(parent);
    tracks->setObjectName("tracks");
    tracks->setRootIsDecorated(false);
    tracks->setHeaderLabels({"Track", "Compression", "Type"});
    tracks->setColumnWidth(0, 140);
    tracks->setColumnWidth(1, 90);
    for (const ImageProperties::Track& track : properties.tracks) {
        tracks->addTopLevelItem(
            new QTreeWidgetItem({qs(track.name), qs(track.compression), qs(track.type)}));
    }
    return tracks;
}

QWidget* categoryPage(QWidget* parent, const ImageProperties& properties) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel("The image is filed in these folders:", page));
    auto* folders = new QListWidget(page);
    folders->setObjectName("folders");
    for (const std::string& folder : properties.folders)
        folders->addItem(qs(folder));
    layout->addWidget(folders);
    return page;
}

// A text field's new value when the user could change it and did.
std::optional<std::string> editedText(const QDialog& dialog, const char* name) {
    const auto* field = child<QLineEdit>(dialog, name);
    if (field == nullptr || !field->isEnabled()) return std::nullopt;
    if (field->text() == field->property(kShown).toString()) return std::nullopt;
    return field->text().toStdString();
}

const char* keyName(int key) {
    switch (key) {
        case 0x08: return "Backspace";
        case 0x09: return "Tab";
        case 0x0D: return "Enter";
        case 0x13: return "Pause";
        case 0x1B: return "Esc";
        case 0x20: return "Space";
        case 0x21: return "PgUp";
        case 0x22: return "PgDown";
        case 0x23: return "End";
        case 0x24: return "Home";
        case 0x25: return "Left";
        case 0x26: return "Up";
        case 0x27: return "Right";
        case 0x28: return "Down";
        case 0x2D: return "Ins";
        case 0x2E: return "Del";
        case 0x6A: return "Num *";
        case 0x6B: return "Num +";
        case 0x6D: return "Num -";
        case 0x6E: return "Num .";
        case 0x6F: return "Num /";
        case 0x90: return "Num Lock";
        case 0x91: return "Scroll Lock";
        default: return nullptr;
    }
}

}  // namespace

// ---- ProgressRun ----

ProgressRun::ProgressRun(QWidget* parent, const QString& title, const QStringList& lines,
                         std::function<QString(int percent)> percentText,
                         ConfirmCancel confirmCancel)
    : percentText_(std::move(percentText)), confirmCancel_(std::move(confirmCancel)) {
    auto dialog = std::make_unique<ProgressDialog>(parent);
    dialog->onReject = [this] { cancel(); };
    dialog->setObjectName("progressDialog");
    dialog->setWindowTitle(title);
    dialog->setModal(true);
    auto* layout = new QVBoxLayout(dialog.get());
    for (const QString& line : lines)
        layout->addWidget(new QLabel(line, dialog.get()));
    if (percentText_) {
        percentLabel_ = new QLabel(percentText_(0), dialog.get());
        percentLabel_->setObjectName("percent");
        layout->addWidget(percentLabel_);
    }
    bar_ = new QProgressBar(dialog.get());
    bar_->setObjectName("progress");
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setMinimumWidth(360);
    layout->addWidget(bar_);
    auto* buttons = new QDialogButtonBox(dialog.get());
    cancelButton_ = addButton(buttons, "Cancel", QDialogButtonBox::RejectRole, "cancel");
    QObject::connect(cancelButton_, &QPushButton::clicked, dialog.get(), [this] { cancel(); });
    layout->addWidget(buttons);
    timer_ = new QTimer(dialog.get());
    timer_->setInterval(kPollMs);
    QObject::connect(timer_, &QTimer::timeout, dialog.get(), [this] { poll(); });
    dialog->adjustSize();
    dialog_ = std::move(dialog);
}

ProgressRun::~ProgressRun() {
    if (worker_.joinable()) {
        cancelled_ = true;
        worker_.join();
    }
}

int ProgressRun::run(const ProgressWork& work) {
    percent_ = 0;
    cancelled_ = false;
    finished_ = false;
    shownPercent_ = -1;
    cancelButton_->setEnabled(true);
    int result = 0;
    std::exception_ptr failure;
    // Called for every step of the work: two atomics and nothing that waits.
    const ProgressReport report = [this](int percent) {
        percent_.store(percent, std::memory_order_relaxed);
        return !cancelled_.load(std::memory_order_relaxed);
    };
    QDialog* dialog = dialog_.get();
    worker_ = std::thread([this, &work, &report, &result, &failure, dialog] {
        try {
            result = work(report);
        } catch (...) {
            failure = std::current_exception();
        }
        finished_.store(true, std::memory_order_release);
        // The dialog closes now rather than at its next look; posted events of a dialog that
        // is gone are dropped with it.
        QMetaObject::invokeMethod(
            dialog, [this] { poll(); }, Qt::QueuedConnection);
    });
    poll();
    timer_->start();
    dialog_->exec();
    timer_->stop();
    // Closed from outside before the work ended: the work must not outlive its dialog.
    if (!finished_.load()) cancelled_ = true;
    worker_.join();
    if (failure) std::rethrow_exception(failure);
    return result;
}

void ProgressRun::cancel() {
    if (cancelled_.load() || asking_) return;
    if (confirmCancel_) {
        asking_ = true;
        const bool abort = confirmCancel_(dialog_.get());
        asking_ = false;
        if (!abort) {
            poll();  // the work may have ended while the question was open
            return;
        }
    }
    cancelled_ = true;
    cancelButton_->setEnabled(false);
    poll();
}

void ProgressRun::poll() {
    const int percent = std::clamp(percent_.load(std::memory_order_relaxed), 0, 100);
    if (percent != shownPercent_) {
        shownPercent_ = percent;
        bar_->setValue(percent);
        if (percentLabel_ != nullptr) percentLabel_->setText(percentText_(percent));
    }
    if (finished_.load(std::memory_order_acquire) && !asking_ && dialog_->isVisible())
        dialog_->done(QDialog::Accepted);
}

// ---- QtOperationDialogs ----

QtOperationDialogs::QtOperationDialogs(QWidget* parent)
    : parent_(parent), confirm_([](QWidget* over, const QString& question) {
          return QMessageBox::question(over, kCaption, question, QMessageBox::Yes | QMessageBox::No,
                                       QMessageBox::No) == QMessageBox::Yes;
      }) {}

// Messages and questions go through the message box port, so a recorder sees them too.
void QtOperationDialogs::tell(const std::string& text, ui::Icon icon) {
    ui::userInterface().messageBox(kCaption, text, icon, ui::Buttons::Ok, {});
}

bool QtOperationDialogs::ask(const std::string& text) {
    return ui::userInterface().messageBox(kCaption, text, ui::Icon::Question, ui::Buttons::YesNo,
                                          {}) == ui::Answer::Yes;
}

std::vector<std::string> QtOperationDialogs::chooseImageFiles() {
    // Both cases of each extension, for file dialogs that compare names case-sensitively.
    const QString filters =
        "Ombrix files (*.om4 *.OM4);;Ombrix 1/2/3 files (*.zrm *.ZRM);;ISO files (*.iso *.ISO)";
    std::vector<std::string> files;
    for (const QString& file :
         QFileDialog::getOpenFileNames(parent_, "Add image files", QString(), filters))
        files.push_back(file.toStdString());
    return files;
}

std::unique_ptr<QDialog> QtOperationDialogs::makeConversionDialog(QWidget* parent) {
    auto dialog = std::make_unique<QDialog>(parent);
    dialog->setObjectName("conversionDialog");
    dialog->setWindowTitle("Convert Ombrixs");
    auto* layout = new QVBoxLayout(dialog.get());
    auto* text = new QLabel(
        "The selected files are ISO images or ombrixs of an older format. They are converted "
        "into ombrixs (.om4) before they are added.\n\n"
        "Leave the box below ticked to keep the original files; otherwise each original file "
        "is deleted once it has been converted.",
        dialog.get());
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* keep = new QCheckBox(kKeepSources, dialog.get());
    keep->setObjectName("keepSources");
    keep->setChecked(true);
    layout->addWidget(keep);
    layout->addWidget(okCancel(dialog.get()));
    dialog->resize(420, dialog->sizeHint().height());
    return dialog;
}

std::optional<bool> QtOperationDialogs::conversionAnswer(const QDialog& dialog) {
    if (dialog.result() != QDialog::Accepted) return std::nullopt;
    return child<QCheckBox>(dialog, "keepSources")->isChecked();
}

std::optional<bool> QtOperationDialogs::askConversion() {
    auto dialog = makeConversionDialog(parent_);
    dialog->exec();
    return conversionAnswer(*dialog);
}

std::unique_ptr<ProgressRun> QtOperationDialogs::makeConversionRun(int number, int count,
                                                                   const std::string& file) const {
    QStringList lines{QString::asprintf("Converting file %d of %d file(s).", number, count)};
    // The file's name without its folder, whichever separator the path uses.
    const size_t slash = file.find_last_of("/\\");
    if (!file.empty()) lines << qs(slash == std::string::npos ? file : file.substr(slash + 1));
    return std::make_unique<ProgressRun>(
        parent_, "Conversion", lines,
        [](int percent) { return QString::asprintf("Conversion of %d %% done", percent); },
        [confirm = confirm_](QWidget* over) {
            return confirm(over, "Are you sure you want to abort the conversion?");
        });
}

int QtOperationDialogs::runConversion(int number, int count, const std::string& file,
                                      const ProgressWork& work) {
    return makeConversionRun(number, count, file)->run(work);
}

std::unique_ptr<ProgressRun> QtOperationDialogs::makeCopyRun(const std::string& title) const {
    return std::make_unique<ProgressRun>(parent_, qs(title), QStringList{qs(title)}, nullptr,
                                         nullptr);
}

int QtOperationDialogs::runCopy(const std::string& title, const ProgressWork& work) {
    return makeCopyRun(title)->run(work);
}

std::unique_ptr<QDialog> QtOperationDialogs::makeFindDialog(QWidget* parent,
                                                            const FindSetup& setup) {
    return std::make_unique<FindDialog>(parent, setup);
}

std::optional<FindResult> QtOperationDialogs::findAnswer(const QDialog& dialog) {
    const auto* find = dynamic_cast<const FindDialog*>(&dialog);
    if (find == nullptr || dialog.result() == QDialog::Rejected) return std::nullopt;
    return find->answer();
}

std::optional<FindResult> QtOperationDialogs::findImages(const FindSetup& setup) {
    auto dialog = makeFindDialog(parent_, setup);
    dialog->exec();
    return findAnswer(*dialog);
}

std::unique_ptr<QDialog> QtOperationDialogs::makeDeleteImageDialog(QWidget* parent,
                                                                   const std::string& description,
                                                                   bool fromDisk) {
    auto dialog = std::make_unique<QDialog>(parent);
    QDialog* d = dialog.get();
    d->setObjectName("deleteImageDialog");
    d->setWindowTitle("Delete");
    auto* layout = new QVBoxLayout(d);
    auto* question = new QHBoxLayout;
    question->addWidget(questionIcon(d));
    auto* text = new QLabel(QString("Delete the selected ombrix?\n\n%1").arg(qs(description)), d);
    text->setObjectName("text");
    text->setWordWrap(true);
    question->addWidget(text, 1);
    layout->addLayout(question);
    auto* disk = new QCheckBox("&Delete the ombrix from the hard disk", d);
    disk->setObjectName("fromDisk");
    disk->setChecked(fromDisk);
    layout->addWidget(disk);
    // Four answers in this order, each closing the dialog with its own code; Escape cancels.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    const std::tuple<const char*, const char*, int> answers[] = {
        {"&Yes", "yes", QDialog::Accepted},
        {"Yes, delete all", "yesToAll", kYesToAllCode},
        {"&No", "no", kNoCode},
        {"Cancel", "cancel", QDialog::Rejected}};
    for (auto [text, name, code] : answers) {
        auto* button = new QPushButton(text, d);
        button->setObjectName(name);
        button->setAutoDefault(false);
        button->setDefault(code == QDialog::Accepted);
        QObject::connect(button, &QPushButton::clicked, d, [d, code] { d->done(code); });
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    d->adjustSize();
    return dialog;
}

DeleteAnswer QtOperationDialogs::deleteImageAnswer(const QDialog& dialog, bool& fromDisk) {
    DeleteAnswer answer = DeleteAnswer::Cancel;
    switch (dialog.result()) {
        case QDialog::Accepted: answer = DeleteAnswer::Yes; break;
        case kYesToAllCode: answer = DeleteAnswer::YesToAll; break;
        case kNoCode: answer = DeleteAnswer::No; break;
        default: return DeleteAnswer::Cancel;
    }
    fromDisk = child<QCheckBox>(dialog, "fromDisk")->isChecked();
    return answer;
}

DeleteAnswer QtOperationDialogs::askDeleteImage(const std::string& description, bool& fromDisk) {
    auto dialog = makeDeleteImageDialog(parent_, description, fromDisk);
    dialog->exec();
    return deleteImageAnswer(*dialog, fromDisk);
}

std::unique_ptr<QDialog> QtOperationDialogs::makeDeleteFolderDialog(QWidget* parent,
                                                                    const std::string& folder) {
    auto dialog = std::make_unique<QDialog>(parent);
    QDialog* d = dialog.get();
    d->setObjectName("deleteFolderDialog");
    d->setWindowTitle("Delete");
    auto* layout = new QVBoxLayout(d);
    auto* question = new QHBoxLayout;
    question->addWidget(questionIcon(d));
    auto* text =
        new QLabel(QString("Do you really want to delete this folder?\n\n%1").arg(qs(folder)), d);
    text->setWordWrap(true);
    question->addWidget(text, 1);
    layout->addLayout(question);
    auto* group = new QButtonGroup(d);
    group->setObjectName("choice");
    const std::pair<const char*, FolderDeletion> choices[] = {
        {"&Move them to the root directory", FolderDeletion::MoveToRoot},
        {"&Exclude the CDs from the CD Management program (don't delete folder)",
         FolderDeletion::Exclude},
        {"&Delete the ombrixs and the folder from the hard disk entirely",
         FolderDeletion::DeleteEntirely}};
    const char* names[] = {"moveToRoot", "exclude", "deleteEntirely"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(choices[i].first, d);
        radio->setObjectName(names[i]);
        group->addButton(radio, static_cast<int>(choices[i].second));
        layout->addWidget(radio);
    }
    group->button(static_cast<int>(FolderDeletion::MoveToRoot))->setChecked(true);
    layout->addWidget(okCancel(d));
    d->adjustSize();
    return dialog;
}

FolderDeletion QtOperationDialogs::deleteFolderAnswer(const QDialog& dialog) {
    if (dialog.result() != QDialog::Accepted) return FolderDeletion::Cancel;
    const auto* group = child<QButtonGroup>(dialog, "choice");
    return static_cast<FolderDeletion>(group->checkedId());
}

FolderDeletion QtOperationDialogs::askDeleteFolder(const std::string& folder) {
    auto dialog = makeDeleteFolderDialog(parent_, folder);
    dialog->exec();
    return deleteFolderAnswer(*dialog);
}

std::unique_ptr<QDialog> QtOperationDialogs::makeCopyDialog(QWidget* parent,
                                                            const CopyRequest& request) {
    auto dialog = std::make_unique<QDialog>(parent);
    QDialog* d = dialog.get();
    d->setObjectName("copyDialog");
    d->setWindowTitle("Copy ombrixs");
    auto* layout = new QVBoxLayout(d);
    // Local images go to the network and network images come here.
    const char* question =
        request.toNetwork
            ? "Your selection includes %d ombrix(s) stored locally. Do you wish to copy the CD(s)?"
            : "Your selection includes %d ombrix(s) stored on the network. Do you wish to copy "
              "the CD(s)?";
    auto* text = new QLabel(QString::asprintf(question, request.count), d);
    text->setObjectName("question");
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* space =
        new QLabel(QString("The copy requires %1 MB hard disk space.").arg(request.megabytes), d);
    space->setObjectName("space");
    layout->addWidget(space);
    auto* copy = new QCheckBox("Copy ombrixs", d);
    copy->setObjectName("copyFiles");
    copy->setChecked(true);
    layout->addWidget(copy);
    auto* folder = new QLineEdit(qs(request.folder), d);
    folder->setObjectName("folder");
    folder->setMinimumWidth(360);
    auto* form = new QFormLayout;
    form->addRow("&Target folder:", folderField(d, folder, "Copy ombrixs"));
    layout->addLayout(form);
    // The target folder only matters when the files are copied.
    auto* browse = d->findChild<QPushButton*>("browse");
    QObject::connect(copy, &QCheckBox::toggled, d, [folder, browse](bool on) {
        folder->setEnabled(on);
        browse->setEnabled(on);
    });
    layout->addWidget(okCancel(d));
    d->adjustSize();
    return dialog;
}

std::optional<CopyChoice> QtOperationDialogs::copyAnswer(const QDialog& dialog) {
    if (dialog.result() != QDialog::Accepted) return std::nullopt;
    CopyChoice choice;
    choice.copyFiles = child<QCheckBox>(dialog, "copyFiles")->isChecked();
    choice.folder = child<QLineEdit>(dialog, "folder")->text().toStdString();
    return choice;
}

std::optional<CopyChoice> QtOperationDialogs::askCopy(const CopyRequest& request) {
    auto dialog = makeCopyDialog(parent_, request);
    dialog->exec();
    return copyAnswer(*dialog);
}

std::unique_ptr<QDialog> QtOperationDialogs::makePropertiesDialog(
    QWidget* parent, const ImageProperties& properties, const PropertyEditing& editing,
    std::function<void()> changePassword, std::function<void()> createShortcut) {
    auto dialog = std::make_unique<QDialog>(parent);
    QDialog* d = dialog.get();
    d->setObjectName("propertiesDialog");
    d->setWindowTitle("Ombrix - Image File Properties");
    auto* layout = new QVBoxLayout(d);
    auto* tabs = new QTabWidget(d);
    tabs->setObjectName("pages");
    tabs->addTab(generalPage(tabs, properties, editing, std::move(changePassword),
                             std::move(createShortcut)),
                 "General");
    tabs->addTab(statisticsPage(tabs, properties), "Statistics");
    tabs->addTab(commentPage(tabs, properties, editing.comment), "Comment");
    tabs->addTab(tracksPage(tabs, properties), "Tracks");
    tabs->addTab(categoryPage(tabs, properties), "Category");
    layout->addWidget(tabs);
    layout->addWidget(okCancel(d));
    d->resize(460, 440);
    return dialog;
}

bool QtOperationDialogs::applyProperties(const QDialog& dialog, ImageProperties& properties) {
    if (dialog.result() != QDialog::Accepted) return false;
    for (auto [name, field] : {std::pair{"description", &properties.description},
                               std::pair{"program", &properties.program},
                               std::pair{"workingDirectory", &properties.workingDirectory},
                               std::pair{"label", &properties.label}}) {
        if (auto text = editedText(dialog, name)) *field = std::move(*text);
    }
    const auto* drive = child<QComboBox>(dialog, "defaultDrive");
    if (drive->isEnabled() && drive->currentIndex() != drive->property(kShown).toInt())
        properties.defaultDrive = static_cast<char>(drive->currentData().toInt());
    const auto* eject = child<QCheckBox>(dialog, "ejectOnExit");
    if (eject->isEnabled() && eject->isChecked() != eject->property(kShown).toBool())
        properties.ejectOnExit = eject->isChecked();
    const auto* comment = child<QPlainTextEdit>(dialog, "comment");
    const QString text = comment->toPlainText();
    if (comment->isEnabled() && text != comment->property(kShown).toString()) {
        // Lines end as they did in the stored comment.
        const bool crlf = properties.comment.find("\r\n") != std::string::npos;
        properties.comment =
            crlf ? QString(text).replace("\n", "\r\n").toStdString() : text.toStdString();
    }
    return true;
}

bool QtOperationDialogs::editProperties(ImageProperties& properties, const PropertyEditing& editing,
                                        const std::function<void()>& changePassword,
                                        const std::function<void()>& createShortcut) {
    auto dialog =
        makePropertiesDialog(parent_, properties, editing, changePassword, createShortcut);
    dialog->exec();
    return applyProperties(*dialog, properties);
}

std::unique_ptr<QDialog> QtOperationDialogs::makePasswordDialog(QWidget* parent) {
    auto dialog = std::make_unique<QDialog>(parent);
    QDialog* d = dialog.get();
    d->setObjectName("passwordDialog");
    d->setWindowTitle("Change password");
    auto* layout = new QVBoxLayout(d);
    auto* form = new QFormLayout;
    for (auto [label, name] : {std::pair{"&New password:", "password"},
                               std::pair{"&Confirm new password:", "confirmation"}}) {
        auto* field = new QLineEdit(d);
        field->setObjectName(name);
        field->setEchoMode(QLineEdit::Password);
        form->addRow(label, field);
    }
    layout->addLayout(form);
    layout->addWidget(okCancel(d));
    d->adjustSize();
    return dialog;
}

std::optional<std::pair<std::string, std::string>> QtOperationDialogs::passwordAnswer(
    const QDialog& dialog) {
    if (dialog.result() != QDialog::Accepted) return std::nullopt;
    return std::pair{child<QLineEdit>(dialog, "password")->text().toStdString(),
                     child<QLineEdit>(dialog, "confirmation")->text().toStdString()};
}

std::optional<std::pair<std::string, std::string>> QtOperationDialogs::askNewPassword() {
    auto dialog = makePasswordDialog(parent_);
    dialog->exec();
    return passwordAnswer(*dialog);
}

std::optional<std::string> QtOperationDialogs::chooseFolder(const std::string& title,
                                                            const std::string& start) {
    const QString folder = QFileDialog::getExistingDirectory(parent_, qs(title), qs(start));
    if (folder.isEmpty()) return std::nullopt;
    return folder.toStdString();
}

std::unique_ptr<QDialog> QtOperationDialogs::makeFileInformationDialog(
    QWidget* parent, const FileInformation& file) {
    auto dialog = std::make_unique<QDialog>(parent);
    QDialog* d = dialog.get();
    d->setObjectName("fileInformationDialog");
    d->setWindowTitle("File Information");
    auto* layout = new QVBoxLayout(d);
    auto* name = new QLabel(QString("<b>%1</b>").arg(qs(file.name).toHtmlEscaped()), d);
    name->setObjectName("name");
    layout->addWidget(name);
    auto* form = new QFormLayout;
    form->addRow("Type:", valueLabel(d, "type", qs(file.type)));
    form->addRow("Path:", valueLabel(d, "path", qs(file.path)));
    form->addRow("Size:", valueLabel(d, "size", qs(file.size)));
    form->addRow("Date:", valueLabel(d, "date", qs(file.date)));
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, d);
    QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
    layout->addWidget(buttons);
    d->adjustSize();
    return dialog;
}

void QtOperationDialogs::showFileInformation(const FileInformation& file) {
    makeFileInformationDialog(parent_, file)->exec();
}

QString QtOperationDialogs::hotkeyText(uint16_t hotkey) {
    const int key = hotkey & 0xFF;
    const int modifiers = hotkey >> 8;
    if (key == 0) return "None";
    QString text;
    if (modifiers & 0x02) text += "Ctrl+";
    if (modifiers & 0x04) text += "Alt+";
    if (modifiers & 0x01) text += "Shift+";
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
        text += QChar(key);
    } else if (key >= 0x60 && key <= 0x69) {
        text += QString("Num %1").arg(key - 0x60);
    } else if (key >= 0x70 && key <= 0x87) {
        text += QString("F%1").arg(key - 0x70 + 1);
    } else if (const char* name = keyName(key)) {
        text += name;
    } else {
        text += QString::asprintf("0x%02X", key);
    }
    return text;
}

}  // namespace ombrix::mng
