// Boxes and dialogs as Qt windows. A program without its own Qt application gets one here.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/ui/user_interface.h"

namespace ombrix::ui {
namespace {

bool ensureApplication() {
    if (QApplication::instance() != nullptr) return true;
    if (!haveDisplay()) return false;
    static int argc = 1;
    static char name[] = "ombrix";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> app(new QApplication(argc, argv));
    return app != nullptr;
}

QMessageBox::Icon toQt(Icon icon) {
    switch (icon) {
        case Icon::Information: return QMessageBox::Information;
        case Icon::Warning: return QMessageBox::Warning;
        case Icon::Error: return QMessageBox::Critical;
        case Icon::Question: return QMessageBox::Question;
        case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQt(Buttons buttons) {
    switch (buttons) {
        case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case Buttons::Ok: break;
    }
    return QMessageBox::Ok;
}

class QtInterface : public UserInterface {
  public:
    Answer messageBox(const std::string& caption, const std::string& text, Icon icon,
                      Buttons buttons, const BoxOptions& options) override {
        if (!ensureApplication()) {
            // No screen to show it on: the text goes to the error output instead.
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
            return Answer::Cancel;
        }
        QMessageBox box(toQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                        toQt(buttons));
        if (options.topMost) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        switch (box.exec()) {
            case QMessageBox::Ok: return Answer::Ok;
            case QMessageBox::Yes: return Answer::Yes;
            case QMessageBox::No: return Answer::No;
            default: return Answer::Cancel;
        }
    }

    std::optional<std::string> askPassword(const PasswordPrompt& prompt) override {
        if (!ensureApplication()) return std::nullopt;
        auto dialog = makePasswordDialog(prompt);
        if (dialog->exec() != QDialog::Accepted) return std::nullopt;
        auto* field = dialog->findChild<QLineEdit*>("password");
        return field->text().toStdString();
    }

    std::optional<std::string> askText(const TextPrompt& prompt) override {
        if (!ensureApplication()) return std::nullopt;
        auto dialog = makeTextDialog(prompt);
        if (dialog->exec() != QDialog::Accepted) return std::nullopt;
        return dialog->findChild<QLineEdit*>("text")->text().toStdString();
    }

    static std::unique_ptr<QDialog> makeTextDialog(const TextPrompt& prompt) {
        auto dialog = std::make_unique<QDialog>();
        dialog->setWindowTitle(QString::fromStdString(prompt.title));
        auto* layout = new QVBoxLayout(dialog.get());
        auto* label = new QLabel(QString::fromStdString(prompt.label), dialog.get());
        auto* field = new QLineEdit(QString::fromStdString(prompt.text), dialog.get());
        field->setObjectName("text");
        field->setMinimumWidth(420);
        label->setBuddy(field);
        auto* help = new QLabel(QString::fromStdString(prompt.help), dialog.get());
        help->setObjectName("help");
        auto* buttons = new QDialogButtonBox(dialog.get());
        auto* accept = buttons->addButton(QString::fromStdString(prompt.acceptButton),
                                          QDialogButtonBox::AcceptRole);
        accept->setDefault(true);
        buttons->addButton(QString::fromStdString(prompt.rejectButton),
                           QDialogButtonBox::RejectRole);
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
        layout->addWidget(label);
        layout->addWidget(field);
        layout->addWidget(help);
        layout->addWidget(buttons);
        dialog->adjustSize();
        return dialog;
    }

    static std::unique_ptr<QDialog> makePasswordDialog(const PasswordPrompt& prompt) {
        auto dialog = std::make_unique<QDialog>();
        dialog->setWindowTitle(QString::fromStdString(prompt.title));
        if (prompt.topMost) dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        auto* layout = new QVBoxLayout(dialog.get());
        auto* item = new QLabel(QString::fromStdString(prompt.item), dialog.get());
        item->setObjectName("item");
        auto* field = new QLineEdit(dialog.get());
        field->setObjectName("password");
        field->setEchoMode(QLineEdit::Password);
        field->setMaxLength(prompt.maxLength);
        auto* buttons =
            new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog.get());
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
        layout->addWidget(item);
        layout->addWidget(field);
        layout->addWidget(buttons);
        dialog->adjustSize();
        if (prompt.centred && QGuiApplication::primaryScreen() != nullptr) {
            QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            dialog->move(screen.center() - dialog->rect().center());
        }
        return dialog;
    }
};

}  // namespace

std::unique_ptr<UserInterface> makeQtWindows() {
    return std::make_unique<QtInterface>();
}

// For screenshots in tests: the password dialog as it would be shown, not yet run.
std::unique_ptr<QDialog> makePasswordDialogForTest(const PasswordPrompt& prompt) {
    ensureApplication();
    return QtInterface::makePasswordDialog(prompt);
}

// For screenshots in tests: the text dialog as it would be shown, not yet run.
std::unique_ptr<QDialog> makeTextDialogForTest(const TextPrompt& prompt) {
    ensureApplication();
    return QtInterface::makeTextDialog(prompt);
}

}  // namespace ombrix::ui
