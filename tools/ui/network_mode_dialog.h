#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "tools/network_mode.h"

class QLabel;
class QPushButton;
class QCheckBox;
class QLineEdit;

// The network mode program's dialog "Ombrix - Network Mode": the mode label, the mode button,
// the change-password button and the exit button, each with its tool tip, and "Always in the
// foreground". The mode shown is always read back from the controller after an action.
namespace ombrix::tools {

class NetworkModeDialog : public QDialog {
  public:
    struct Setup {
        std::function<std::string(int id)> text = networkModeText;
        ModePlacement placement;
        // Shows the change-password dialog over `parent` (tests replace it); true when the
        // password was changed. Null: ChangePasswordDialog::run.
        std::function<bool(QWidget* parent)> changePassword;
        // Shows an information text (text 174 on leaving central mode). Null: the user interface's
        // message box.
        std::function<void(const std::string& text)> tell;
        // Saves where the window stands when the user ends it (exit button or close).
        std::function<void(int x, int y, bool topMost)> savePlacement;
    };

    NetworkModeDialog(NetworkModeController& controller, Setup setup, QWidget* parent = nullptr);

    // The label again from the mode (after "WM_OXT_SETTINGS_CHANGED", and after each action).
    void refreshMode();
    bool topMost() const;
    void setTopMost(bool on);

    QLabel* modeLabel() const { return label_; }
    QPushButton* modeButton() const { return modeButton_; }
    QPushButton* passwordButton() const { return passwordButton_; }
    QPushButton* exitButton() const { return exitButton_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void toggleMode();
    void changePassword();
    void endByUser();

    NetworkModeController& controller_;
    Setup setup_;
    QLabel* label_ = nullptr;
    QPushButton* modeButton_ = nullptr;
    QPushButton* passwordButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QCheckBox* topMostBox_ = nullptr;
    bool ended_ = false;
};

// "Ombrix - Change Password": old, new and new again (15 characters each). OK with differing
// new entries shows text 102 and stays open; otherwise the controller changes the password.
class ChangePasswordDialog : public QDialog {
  public:
    ChangePasswordDialog(NetworkModeController& controller,
                         std::function<std::string(int id)> text = networkModeText,
                         QWidget* parent = nullptr);
    // Runs the dialog; true when OK went through.
    static bool run(NetworkModeController& controller, QWidget* parent,
                    std::function<std::string(int id)> text = networkModeText);

    void accept() override;

    QLineEdit* oldField() const { return old_; }
    QLineEdit* newField() const { return new_; }
    QLineEdit* againField() const { return again_; }

  private:
    NetworkModeController& controller_;
    std::function<std::string(int id)> text_;
    QLineEdit* old_ = nullptr;
    QLineEdit* new_ = nullptr;
    QLineEdit* again_ = nullptr;
};

}  // namespace ombrix::tools
