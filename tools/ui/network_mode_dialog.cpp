#include "tools/ui/network_mode_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "platform/ui/dialog_buttons.h"
#include "platform/ui/user_interface.h"

namespace ombrix::tools {
namespace {

constexpr const char* kModeTitle = "Ombrix - Network Mode";
constexpr const char* kPasswordTitle = "Ombrix - Change Password";

// The hourglass while the client library works; it goes again however the call ends.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString qText(const std::function<std::string(int)>& text, int id) {
    return QString::fromStdString(text(id));
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption,
                    const QString& accessible, const QString& tip) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(accessible);
    b->setToolTip(tip);
    return b;
}

QLineEdit* passwordField(QWidget* parent, const char* name, const QString& accessible) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setAccessibleName(accessible);
    field->setEchoMode(QLineEdit::Password);
    field->setMaxLength(kPasswordLength);
    return field;
}

}  // namespace

// ---- Network mode -------------------------------------------------------------------------------

NetworkModeDialog::NetworkModeDialog(NetworkModeController& controller, Setup setup,
                                     QWidget* parent)
    : QDialog(parent), controller_(controller), setup_(std::move(setup)) {
    setObjectName("networkModeDialog");
    setWindowTitle(kModeTitle);
    const auto& text = setup_.text;

    auto* layout = new QVBoxLayout(this);
    label_ = new QLabel(this);
    label_->setObjectName("modeLabel");
    label_->setAccessibleName("Network mode");
    label_->setAlignment(Qt::AlignCenter);
    layout->addWidget(label_);

    auto* row = new QHBoxLayout;
    modeButton_ = button(this, "modeButton", "&Mode", "Change the network mode",
                         qText(text, modetext::kModeTip));
    passwordButton_ = button(this, "modePassword", "&Password...", "Change the password",
                             qText(text, modetext::kPasswordTip));
    exitButton_ = button(this, "exitButton", "E&xit", "Exit", qText(text, modetext::kExitTip));
    row->addWidget(modeButton_);
    row->addWidget(passwordButton_);
    row->addWidget(exitButton_);
    layout->addLayout(row);

    topMostBox_ = new QCheckBox(qText(text, modetext::kAlwaysOnTop), this);
    topMostBox_->setObjectName("topMost");
    topMostBox_->setAccessibleName("Always in the foreground");
    layout->addWidget(topMostBox_);

    connect(modeButton_, &QPushButton::clicked, this, [this] { toggleMode(); });
    connect(passwordButton_, &QPushButton::clicked, this, [this] { changePassword(); });
    connect(exitButton_, &QPushButton::clicked, this, [this] { endByUser(); });
    connect(topMostBox_, &QCheckBox::toggled, this, [this](bool on) { setTopMost(on); });
    // Escape closes the window like its close box, so the mode is left on that way too
    // (QDialog's own Escape would reject without a close event).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] { close(); });

    refreshMode();
    setTopMost(setup_.placement.topMost);

    // The place needs the window's size, which the layout knows only now.
    adjustSize();
    if (setup_.placement.x && setup_.placement.y) {
        move(*setup_.placement.x, *setup_.placement.y);
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.x() + desktop.width() - width(), 0);
    }
}

void NetworkModeDialog::refreshMode() {
    label_->setText(qText(setup_.text, controller_.modeText()));
}

bool NetworkModeDialog::topMost() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void NetworkModeDialog::setTopMost(bool on) {
    {
        const QSignalBlocker quiet(topMostBox_);
        topMostBox_->setChecked(on);
    }
    if (topMost() == on) return;
    // Changing a window flag hides a shown window; it comes back where it stood.
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (shown) show();
}

void NetworkModeDialog::toggleMode() {
    if (controller_.needsNewPassword()) {
        const bool changed = setup_.changePassword
                                 ? setup_.changePassword(this)
                                 : ChangePasswordDialog::run(controller_, this, setup_.text);
        if (!changed) return;
    }
    {
        WaitCursor wait;
        controller_.toggle();
    }
    refreshMode();
}

void NetworkModeDialog::changePassword() {
    if (setup_.changePassword) {
        setup_.changePassword(this);
    } else {
        ChangePasswordDialog::run(controller_, this, setup_.text);
    }
    refreshMode();
}

void NetworkModeDialog::endByUser() {
    if (ended_) return;
    ended_ = true;
    controller_.endByUser([this] {
        const std::string message = setup_.text(modetext::kLeavingCentral);
        if (setup_.tell) {
            setup_.tell(message);
        } else {
            ui::userInterface().messageBox(setup_.text(modetext::kCaption), message,
                                           ui::Icon::Information, ui::Buttons::Ok, {});
        }
    });
    if (setup_.savePlacement) setup_.savePlacement(x(), y(), topMost());
    accept();
}

void NetworkModeDialog::closeEvent(QCloseEvent* event) {
    endByUser();
    event->accept();
}

// ---- Change password ----------------------------------------------------------------------------

ChangePasswordDialog::ChangePasswordDialog(NetworkModeController& controller,
                                           std::function<std::string(int id)> text, QWidget* parent)
    : QDialog(parent), controller_(controller), text_(std::move(text)) {
    setObjectName("changePasswordDialog");
    setWindowTitle(kPasswordTitle);

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    old_ = passwordField(this, "oldPassword", "Old password");
    new_ = passwordField(this, "newPassword", "New password");
    again_ = passwordField(this, "againPassword", "New password again");
    form->addRow("&Old password", old_);
    form->addRow("&New password", new_);
    form->addRow("New password &again", again_);
    layout->addLayout(form);
    layout->addWidget(ui::okCancelButtons(this));
    old_->setFocus();
}

bool ChangePasswordDialog::run(NetworkModeController& controller, QWidget* parent,
                               std::function<std::string(int id)> text) {
    ChangePasswordDialog dialog(controller, std::move(text), parent);
    return dialog.exec() == QDialog::Accepted;
}

void ChangePasswordDialog::accept() {
    bool changed = false;
    {
        WaitCursor wait;
        changed = controller_.changePassword(old_->text().toStdString(), new_->text().toStdString(),
                                             again_->text().toStdString());
    }
    if (!changed) {
        // The two new entries differ: the user corrects them in the open dialog.
        ui::userInterface().messageBox(text_(modetext::kCaption), text_(modetext::kPasswordsDiffer),
                                       ui::Icon::Error, ui::Buttons::Ok, {});
        new_->setFocus();
        new_->selectAll();
        return;
    }
    QDialog::accept();
}

}  // namespace ombrix::tools
