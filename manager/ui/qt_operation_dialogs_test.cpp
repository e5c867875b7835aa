#include "manager/ui/qt_operation_dialogs.h"
#include "support/screenshots.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

using namespace ombrix::mng;
using Dialogs = QtOperationDialogs;

using ombrix::test::screenshotFolder;

void screenshot(QWidget& widget, const char* name) {
    widget.show();
    QApplication::processEvents();
    EXPECT_TRUE(widget.grab().save(QString::fromStdString(screenshotFolder() + "/" + name)));
}

template <typename Widget>
Widget* get(const QObject& parent, const char* name) {
    auto* widget = parent.findChild<Widget*>(name);
    if (widget == nullptr) ADD_FAILURE() << "no widget named " << name;
    return widget;
}

// Runs the event loop until `done` holds or five seconds have passed.
bool waitFor(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The progress dialog of a run under `host`, once it is on screen.
QDialog* shownProgress(const QWidget& host) {
    auto* dialog = host.findChild<QDialog*>("progressDialog");
    return dialog != nullptr && dialog->isVisible() ? dialog : nullptr;
}

// A work that reports until it is told to stop: 7 when cancelled, 0 after about ten seconds.
int untilCancelled(const ProgressReport& report) {
    for (int i = 0; i < 2000; ++i) {
        if (!report(i % 100)) return 7;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

TEST(DeleteImageDialog, AnswersWithTheButtonAndTheCheckBox) {
    {  // "Yes, delete all" with the box ticked: the same disk choice for all remaining images
        auto dialog = Dialogs::makeDeleteImageDialog(nullptr, "Atlas 2026", false);
        EXPECT_EQ(dialog->windowTitle(), "Delete");
        EXPECT_EQ(get<QLabel>(*dialog, "text")->text(),
                  "Delete the selected ombrix?\n\nAtlas 2026");
        EXPECT_FALSE(get<QCheckBox>(*dialog, "fromDisk")->isChecked());
        get<QCheckBox>(*dialog, "fromDisk")->click();
        screenshot(*dialog, "manager_delete.png");
        get<QPushButton>(*dialog, "yesToAll")->click();
        bool fromDisk = false;
        EXPECT_EQ(Dialogs::deleteImageAnswer(*dialog, fromDisk), DeleteAnswer::YesToAll);
        EXPECT_TRUE(fromDisk);
    }
    {  // the box starts as the caller had it and an unticked box comes back
        auto dialog = Dialogs::makeDeleteImageDialog(nullptr, "Chess", true);
        EXPECT_TRUE(get<QCheckBox>(*dialog, "fromDisk")->isChecked());
        get<QCheckBox>(*dialog, "fromDisk")->click();
        get<QPushButton>(*dialog, "no")->click();
        bool fromDisk = true;
        EXPECT_EQ(Dialogs::deleteImageAnswer(*dialog, fromDisk), DeleteAnswer::No);
        EXPECT_FALSE(fromDisk);
    }
    for (const char* button : {"yes", "cancel"}) {
        auto dialog = Dialogs::makeDeleteImageDialog(nullptr, "Racing", false);
        get<QCheckBox>(*dialog, "fromDisk")->click();
        get<QPushButton>(*dialog, button)->click();
        bool fromDisk = false;
        const DeleteAnswer answer = Dialogs::deleteImageAnswer(*dialog, fromDisk);
        if (std::string(button) == "yes") {
            EXPECT_EQ(answer, DeleteAnswer::Yes);
            EXPECT_TRUE(fromDisk);
        } else {  // a cancelled dialog leaves the caller's choice alone
            EXPECT_EQ(answer, DeleteAnswer::Cancel);
            EXPECT_FALSE(fromDisk);
        }
    }
}

TEST(DeleteFolderDialog, MovesToTheRootUnlessAnotherChoiceIsMade) {
    auto kept = Dialogs::makeDeleteFolderDialog(nullptr, "\\Games\\");
    get<QPushButton>(*kept, "ok")->click();
    EXPECT_EQ(Dialogs::deleteFolderAnswer(*kept), FolderDeletion::MoveToRoot);

    auto changed = Dialogs::makeDeleteFolderDialog(nullptr, "\\Games\\");
    get<QRadioButton>(*changed, "deleteEntirely")->click();
    get<QPushButton>(*changed, "ok")->click();
    EXPECT_EQ(Dialogs::deleteFolderAnswer(*changed), FolderDeletion::DeleteEntirely);

    auto cancelled = Dialogs::makeDeleteFolderDialog(nullptr, "\\Games\\");
    get<QRadioButton>(*cancelled, "exclude")->click();
    get<QPushButton>(*cancelled, "cancel")->click();
    EXPECT_EQ(Dialogs::deleteFolderAnswer(*cancelled), FolderDeletion::Cancel);
}

ImageProperties sampleProperties() {
    ImageProperties p;
    p.description = "Atlas 2026";
    p.program = "?:\\setup.exe";
    p.workingDirectory = "?:\\";
    p.label = "ATLAS_2026";
    p.defaultDrive = 'E';
    p.hotkey = 0x0641;  // Ctrl+Alt+A
    p.fileName = "/srv/images/atlas.om4";
    p.sizeMegabytes = "700";
    p.created = "2026-01-12 09:30";
    p.inUse = "F:";
    p.cdType = "Data CD";
    p.comment = "First line\r\nsecond line";
    p.tracks = {{"Track 1", "low", "Data track"}, {"Track 2", "none", "Digital audio track"}};
    p.folders = {"\\Maps\\", "\\Reference\\"};
    return p;
}

TEST(PropertySheet, OnlyTheFieldsTheUserMayEditAreEnabledAndWrittenBack) {
    const ImageProperties original = sampleProperties();
    PropertyEditing editing;
    editing.description = true;
    editing.comment = true;
    editing.createShortcut = true;
    int shortcuts = 0;
    auto dialog = Dialogs::makePropertiesDialog(
        nullptr, original, editing, [] { FAIL() << "password button is disabled"; },
        [&] { ++shortcuts; });
    EXPECT_EQ(dialog->windowTitle(), "Ombrix - Image File Properties");
    for (const char* name : {"description", "comment", "createShortcut"})
        EXPECT_TRUE(get<QWidget>(*dialog, name)->isEnabled()) << name;
    for (const char* name : {"program", "workingDirectory", "browseProgram", "label",
                             "defaultDrive", "ejectOnExit", "changePassword"})
        EXPECT_FALSE(get<QWidget>(*dialog, name)->isEnabled()) << name;
    EXPECT_EQ(get<QComboBox>(*dialog, "defaultDrive")->currentText(), "E:");
    EXPECT_EQ(get<QLineEdit>(*dialog, "hotkey")->text(), "Ctrl+Alt+A");
    EXPECT_EQ(get<QLabel>(*dialog, "size")->text(), "700 MB");
    EXPECT_EQ(get<QTreeWidget>(*dialog, "tracks")->topLevelItem(1)->text(2), "Digital audio track");
    EXPECT_EQ(get<QListWidget>(*dialog, "folders")->count(), 2);
    screenshot(*dialog, "manager_properties.png");

    get<QPushButton>(*dialog, "createShortcut")->click();
    EXPECT_EQ(shortcuts, 1);
    get<QLineEdit>(*dialog, "description")->setText("Atlas 2027");
    get<QLineEdit>(*dialog, "program")->setText("other.exe");  // not the user's to change
    get<QPlainTextEdit>(*dialog, "comment")->setPlainText("First line\nsecond\nthird");
    get<QPushButton>(*dialog, "ok")->click();

    ImageProperties edited = original;
    ASSERT_TRUE(Dialogs::applyProperties(*dialog, edited));
    ImageProperties expected = original;
    expected.description = "Atlas 2027";
    expected.comment = "First line\r\nsecond\r\nthird";  // the stored line ends kept
    EXPECT_EQ(edited, expected);
}

TEST(PropertySheet, OkWithoutChangesWritesNothingAndCancelKeepsEdits) {
    const PropertyEditing all{true, true, true, true, true, true};
    ImageProperties odd = sampleProperties();
    odd.defaultDrive = 'e';               // not as the combo box shows it
    odd.comment = std::string(140, 'x');  // longer than the sheet lets through
    auto untouched = Dialogs::makePropertiesDialog(
        nullptr, odd, all, [] {}, [] {});
    EXPECT_EQ(get<QPlainTextEdit>(*untouched, "comment")->toPlainText().size(), 127);
    get<QPushButton>(*untouched, "ok")->click();
    ImageProperties after = odd;
    ASSERT_TRUE(Dialogs::applyProperties(*untouched, after));
    EXPECT_EQ(after, odd);

    auto edited = Dialogs::makePropertiesDialog(
        nullptr, odd, all, [] {}, [] {});
    get<QComboBox>(*edited, "defaultDrive")->setCurrentText("G:");
    get<QCheckBox>(*edited, "ejectOnExit")->click();
    get<QLineEdit>(*edited, "label")->setText("NEW_LABEL");
    get<QPlainTextEdit>(*edited, "comment")->setPlainText(QString(200, 'y'));
    get<QPushButton>(*edited, "ok")->click();
    after = odd;
    ASSERT_TRUE(Dialogs::applyProperties(*edited, after));
    EXPECT_EQ(after.defaultDrive, 'G');
    EXPECT_TRUE(after.ejectOnExit);
    EXPECT_EQ(after.label, "NEW_LABEL");
    EXPECT_EQ(after.comment, std::string(127, 'y'));

    auto cancelled = Dialogs::makePropertiesDialog(
        nullptr, odd, all, [] {}, [] {});
    get<QLineEdit>(*cancelled, "description")->setText("Changed");
    get<QComboBox>(*cancelled, "defaultDrive")->setCurrentIndex(0);
    get<QPushButton>(*cancelled, "cancel")->click();
    after = odd;
    EXPECT_FALSE(Dialogs::applyProperties(*cancelled, after));
    EXPECT_EQ(after, odd);
}

TEST(ProgressDialogs, AWorkThatReportsProgressEndsWithItsResult) {
    QWidget host;
    Dialogs dialogs(&host);
    int questions = 0;
    dialogs.setConfirmation([&](QWidget*, const QString&) {
        ++questions;
        return true;
    });
    std::atomic<bool> seen{false};
    QStringList texts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QDialog* dialog = shownProgress(host);
        if (dialog == nullptr || seen || get<QProgressBar>(*dialog, "progress")->value() != 50)
            return;
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            texts << label->text();
        screenshot(*dialog, "manager_conversion.png");
        seen = true;
    });
    watch.start(10);
    const int result =
        dialogs.runConversion(2, 5, "/srv/old/atlas.iso", [&](const ProgressReport& report) {
            for (int percent = 0; percent <= 50; percent += 10)
                EXPECT_TRUE(report(percent));
            // Holds at half way until the dialog has shown it.
            for (int i = 0; i < 1000 && !seen; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            for (int percent = 60; percent <= 100; percent += 10)
                EXPECT_TRUE(report(percent));
            return 42;
        });
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(texts.contains("Converting file 2 of 5 file(s)."))
        << texts.join(QString("|")).toStdString();
    EXPECT_TRUE(texts.contains("atlas.iso"));
    EXPECT_TRUE(texts.contains("Conversion of 50 % done"));
    EXPECT_EQ(questions, 0);
    EXPECT_EQ(host.findChild<QDialog*>("progressDialog"), nullptr);  // gone with its run
}

TEST(ProgressDialogs, CancelAbortsTheConversionOnlyOnceTheUserConfirms) {
    QWidget host;
    Dialogs dialogs(&host);
    std::deque<bool> answers{false, true};
    QStringList questions;
    dialogs.setConfirmation([&](QWidget* over, const QString& question) {
        EXPECT_EQ(over->objectName(), "progressDialog");
        questions << question;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    });
    // Cancel is pressed twice, 100 ms apart: "No" must leave the work running for the second.
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (QDialog* dialog = shownProgress(host); dialog != nullptr && !answers.empty())
            get<QPushButton>(*dialog, "cancel")->click();
    });
    press.start(100);
    EXPECT_EQ(dialogs.runConversion(1, 1, "/srv/old/racing.zrm", untilCancelled), 7);
    EXPECT_EQ(questions, QStringList({"Are you sure you want to abort the conversion?",
                                      "Are you sure you want to abort the conversion?"}));
}

TEST(ProgressDialogs, ACopyIsCancelledWithoutAQuestionAlsoByClosingItsDialog) {
    QWidget host;
    Dialogs dialogs(&host);
    int questions = 0;
    dialogs.setConfirmation([&](QWidget*, const QString&) {
        ++questions;
        return false;
    });
    const std::string title = "Copying CD 'Chess' from local to network";
    QString shownTitle;
    QTimer close;
    QObject::connect(&close, &QTimer::timeout, [&] {
        if (QDialog* dialog = shownProgress(host)) {
            shownTitle = dialog->windowTitle();
            dialog->reject();  // the window's close button and Escape
        }
    });
    close.start(50);
    EXPECT_EQ(dialogs.runCopy(title, untilCancelled), 7);
    EXPECT_EQ(shownTitle.toStdString(), title);
    EXPECT_EQ(questions, 0);

    // A work that fails passes its exception on once its dialog has closed.
    close.stop();
    EXPECT_THROW(
        dialogs.runCopy(
            title, [](const ProgressReport&) -> int { throw std::runtime_error("disk full"); }),
        std::runtime_error);
}

TEST(FindDialog, SearchesOnItsOwnThreadAndAddsAllOrTheSelectedFiles) {
    const std::vector<std::string> files = {"/srv/old/a.zrm", "/srv/old/b.zrm", "/srv/old/c.zrm"};
    FindSetup setup;
    setup.folder = "/srv/old";
    setup.type = ImageFileType::Zrm;
    std::atomic<bool> onWorker{false};
    const auto gui = std::this_thread::get_id();
    setup.search = [&](const std::string& folder, ImageFileType type,
                       const std::function<bool(size_t)>& found) {
        onWorker = std::this_thread::get_id() != gui;
        EXPECT_EQ(folder, "/srv/old");
        EXPECT_EQ(type, ImageFileType::Zrm);
        for (size_t n = 1; n <= files.size(); ++n)
            found(n);
        return files;
    };
    for (const bool selectedOnly : {false, true}) {
        auto dialog = Dialogs::makeFindDialog(nullptr, setup);
        EXPECT_EQ(get<QComboBox>(*dialog, "type")->currentIndex(), 1);
        EXPECT_FALSE(get<QPushButton>(*dialog, "addAll")->isEnabled());
        get<QPushButton>(*dialog, "search")->click();
        auto* list = get<QListWidget>(*dialog, "files");
        ASSERT_TRUE(waitFor([&] { return list->count() == 3; }));
        EXPECT_TRUE(onWorker);
        EXPECT_EQ(get<QLabel>(*dialog, "count")->text(), "3 image files found.");
        get<QCheckBox>(*dialog, "keepSources")->click();
        list->item(1)->setSelected(true);
        get<QPushButton>(*dialog, selectedOnly ? "addSelected" : "addAll")->click();
        const auto answer = Dialogs::findAnswer(*dialog);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->folder, "/srv/old");
        EXPECT_EQ(answer->files, selectedOnly ? std::vector<std::string>{files[1]} : files);
        EXPECT_FALSE(answer->keepSources);
    }
}

TEST(FindDialog, CancellingStopsASearchStillRunning) {
    FindSetup setup;
    setup.folder = "/srv";
    std::atomic<bool> started{false};
    setup.search = [&](const std::string&, ImageFileType,
                       const std::function<bool(size_t)>& found) {
        started = true;
        size_t n = 0;
        // Bounded, so that a search that is never stopped fails instead of hanging.
        for (int i = 0; i < 1000 && found(++n); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return std::vector<std::string>(n, "/srv/x.om4");
    };
    auto dialog = Dialogs::makeFindDialog(nullptr, setup);
    get<QPushButton>(*dialog, "search")->click();
    ASSERT_TRUE(waitFor([&] { return started.load(); }));
    const auto before = std::chrono::steady_clock::now();
    get<QPushButton>(*dialog, "cancel")->click();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_FALSE(Dialogs::findAnswer(*dialog).has_value());
}

TEST(CopyDialog, AsksInTheDirectionOfTheCopy) {
    CopyRequest request{3, false, 1234, "/home/user/cds"};
    auto fromNetwork = Dialogs::makeCopyDialog(nullptr, request);
    EXPECT_EQ(get<QLabel>(*fromNetwork, "question")->text(),
              "Your selection includes 3 ombrix(s) stored on the network. Do you wish to copy "
              "the CD(s)?");
    EXPECT_EQ(get<QLabel>(*fromNetwork, "space")->text(),
              "The copy requires 1234 MB hard disk space.");
    get<QPushButton>(*fromNetwork, "ok")->click();
    const auto copied = Dialogs::copyAnswer(*fromNetwork);
    ASSERT_TRUE(copied.has_value());
    EXPECT_TRUE(copied->copyFiles);
    EXPECT_EQ(copied->folder, "/home/user/cds");

    request.toNetwork = true;
    auto toNetwork = Dialogs::makeCopyDialog(nullptr, request);
    EXPECT_TRUE(get<QLabel>(*toNetwork, "question")->text().contains("stored locally"));
    get<QCheckBox>(*toNetwork, "copyFiles")->click();
    EXPECT_FALSE(get<QLineEdit>(*toNetwork, "folder")->isEnabled());
    get<QPushButton>(*toNetwork, "ok")->click();
    ASSERT_TRUE(Dialogs::copyAnswer(*toNetwork).has_value());
    EXPECT_FALSE(Dialogs::copyAnswer(*toNetwork)->copyFiles);
}

TEST(SmallDialogs, ConversionAndPasswordAnswers) {
    auto conversion = Dialogs::makeConversionDialog(nullptr);
    EXPECT_TRUE(get<QCheckBox>(*conversion, "keepSources")->isChecked());
    get<QCheckBox>(*conversion, "keepSources")->click();
    get<QPushButton>(*conversion, "ok")->click();
    const std::optional<bool> keep = Dialogs::conversionAnswer(*conversion);
    ASSERT_TRUE(keep.has_value());
    EXPECT_FALSE(*keep);
    auto cancelled = Dialogs::makeConversionDialog(nullptr);
    get<QPushButton>(*cancelled, "cancel")->click();
    EXPECT_FALSE(Dialogs::conversionAnswer(*cancelled).has_value());

    auto password = Dialogs::makePasswordDialog(nullptr);
    get<QLineEdit>(*password, "password")->setText("secret");
    get<QLineEdit>(*password, "confirmation")->setText("secreT");
    get<QPushButton>(*password, "ok")->click();
    const auto typed = Dialogs::passwordAnswer(*password);
    ASSERT_TRUE(typed.has_value());
    EXPECT_EQ(typed->first, "secret");  // both as typed: the caller compares them
    EXPECT_EQ(typed->second, "secreT");
}

TEST(Hotkeys, ShowModifiersAndKey) {
    EXPECT_EQ(Dialogs::hotkeyText(0), "None");
    EXPECT_EQ(Dialogs::hotkeyText(0x0641), "Ctrl+Alt+A");
    EXPECT_EQ(Dialogs::hotkeyText(0x0174), "Shift+F5");
    EXPECT_EQ(Dialogs::hotkeyText(0x0360), "Ctrl+Shift+Num 0");
    EXPECT_EQ(Dialogs::hotkeyText(0x0024), "Home");
}

}  // namespace
