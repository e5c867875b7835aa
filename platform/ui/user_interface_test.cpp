#include "platform/ui/user_interface.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <filesystem>

#include "support/temp_root.h"

namespace ombrix::ui {
std::unique_ptr<QDialog> makePasswordDialogForTest(const PasswordPrompt& prompt);
std::unique_ptr<QDialog> makeTextDialogForTest(const TextPrompt& prompt);
}  // namespace ombrix::ui

using namespace ombrix::ui;

namespace {

// Windows come from a module loaded only when one is shown. Without a screen nothing is loaded
// and a box's text goes to the error output; the module itself makes working windows.
TEST(WindowModule, IsLoadedOnlyToShowAWindow) {
    std::vector<std::pair<const char*, std::string>> saved;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
        ::unsetenv(name);
    }
    const std::string module = std::string(std::getenv("OMBRIX_SYSTEM_DIR")) + "/" + kWindowModule;
    EXPECT_EQ(::dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    auto windows = makeWindows();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(windows->messageBox("Caption", "No screen here", Icon::Error, Buttons::Ok, {}),
              Answer::Cancel);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Caption: No screen here\n");
    EXPECT_FALSE(windows->askPassword(PasswordPrompt{"T", "i"}).has_value());
    EXPECT_EQ(::dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    for (const auto& [name, value] : saved)
        ::setenv(name, value.c_str(), 1);

    void* loaded = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(loaded, nullptr) << ::dlerror();
    using Make = UserInterface* (*)();
    auto make = reinterpret_cast<Make>(::dlsym(loaded, kWindowModuleEntry));
    ASSERT_NE(make, nullptr);
    std::unique_ptr<UserInterface> made(make());
    EXPECT_NE(made, nullptr);
}

TEST(Recorder, RecordsEveryBoxAndAnswersFromTheScriptInOrder) {
    ombrix::test::TempRoot root;
    auto record = root / "record.txt";
    auto answers = root / "answers.txt";
    ombrix::test::writeFile(answers, "yes\r\npassword:0123456789abcdefXYZ\nok\n");
    auto ui = makeRecorder(record.string(), answers.string());
    EXPECT_EQ(ui->messageBox("Ombrix TS", "Line one\nline two", Icon::Warning, Buttons::YesNo, {}),
              Answer::Yes);
    auto typed = ui->askPassword(PasswordPrompt{"Ombrix TS", "disc.om4"});
    ASSERT_TRUE(typed.has_value());
    EXPECT_EQ(*typed, "0123456789abcde");  // the field holds 15 characters
    // Another recorder (another program of the same run) continues the script.
    auto second = makeRecorder(record.string(), answers.string());
    EXPECT_EQ(second->messageBox("C", "T", Icon::Information, Buttons::Ok, {}), Answer::Ok);
    EXPECT_EQ(second->messageBox("C", "T", Icon::Error, Buttons::OkCancel, {}), Answer::Cancel);
    EXPECT_FALSE(second->askPassword(PasswordPrompt{"T", "i"}).has_value());
    EXPECT_EQ(ombrix::test::readFile(record),
              "Ombrix TS\twarning\tLine one\\nline two\n"
              "Ombrix TS\tpassword\tdisc.om4\n"
              "C\tinformation\tT\n"
              "C\terror\tT\n"
              "T\tpassword\ti\n");
}

TEST(Recorder, TextPromptRecordsThePrefilledTextAndAnswersTypedOkOrCancel) {
    ombrix::test::TempRoot root;
    auto record = root / "record.txt";
    auto answers = root / "answers.txt";
    ombrix::test::writeFile(answers, "text:/I disc.om4 E:\nok\ncancel\n");
    auto ui = makeRecorder(record.string(), answers.string());
    TextPrompt prompt{"Prompt", "&Enter", "help", ""};
    EXPECT_EQ(ui->askText(prompt), "/I disc.om4 E:");
    prompt.text = "/E E:";
    EXPECT_EQ(ui->askText(prompt), "/E E:");  // "ok" takes the field as it is
    EXPECT_FALSE(ui->askText(prompt).has_value());
    EXPECT_FALSE(ui->askText(prompt).has_value());  // nothing left: cancelled
    EXPECT_EQ(ombrix::test::readFile(record),
              "Prompt\ttext\t\nPrompt\ttext\t/E E:\nPrompt\ttext\t/E E:\nPrompt\ttext\t/E E:\n");
}

TEST(Recorder, TheEnvironmentChoosesIt) {
    ombrix::test::TempRoot root;
    auto record = root / "r.txt";
    ::setenv("OMBRIX_UI_RECORD", record.c_str(), 1);
    EXPECT_EQ(userInterface().messageBox("A", "B", Icon::None, Buttons::Ok, {}), Answer::Cancel);
    ::unsetenv("OMBRIX_UI_RECORD");
    EXPECT_EQ(ombrix::test::readFile(record), "A\tnone\tB\n");
}

// Renders the two windows offscreen and saves them for a person to look at.
TEST(QtWindows, PasswordDialogAndMessageBoxRenderOffscreen) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    auto dialog = makePasswordDialogForTest(PasswordPrompt{"Ombrix TS", "office2000.om4"});
    ASSERT_NE(dialog, nullptr);
    auto* field = dialog->findChild<QLineEdit*>("password");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->maxLength(), 15);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog->findChild<QLabel*>("item")->text(), "office2000.om4");
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    field->setText("secret");

    QMessageBox box(QMessageBox::Warning, "Ombrix TS",
                    "Error inserting / ejecting the ombrix.\n\nReason: Drive is locked",
                    QMessageBox::Ok);
    std::filesystem::path shots = ombrix::test::systemDir().parent_path() / "screenshots";
    std::filesystem::create_directories(shots);
    dialog->show();
    box.show();
    EXPECT_TRUE(dialog->grab().save(QString::fromStdString((shots / "password.png").string())));
    EXPECT_TRUE(box.grab().save(QString::fromStdString((shots / "messagebox.png").string())));

    auto text = makeTextDialogForTest(
        TextPrompt{"Command", "&Enter argument(s)", "/I image\n/E drive", "/E E:", "&Run"});
    auto* line = text->findChild<QLineEdit*>("text");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), "/E E:");
    EXPECT_EQ(text->findChild<QLabel*>("help")->text(), "/I image\n/E drive");
    text->show();
    EXPECT_TRUE(text->grab().save(QString::fromStdString((shots / "textprompt.png").string())));
}

}  // namespace
