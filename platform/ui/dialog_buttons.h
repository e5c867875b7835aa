#pragma once

class QDialog;
class QDialogButtonBox;
class QPushButton;

namespace ombrix::ui {

// The OK and Cancel row every dialog ends with: OK is the default button, the buttons are
// named "ok" and "cancel" (for tests and accessibility), and they accept or reject `dialog`.
QDialogButtonBox* okCancelButtons(QDialog* dialog);
QPushButton* okButton(QDialogButtonBox* buttons);

}  // namespace ombrix::ui
