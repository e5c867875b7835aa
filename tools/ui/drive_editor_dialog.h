#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "tools/drive_editor.h"

class QCheckBox;
class QPushButton;
class QTreeWidget;

// "Ombrix TS Drive Editor": the 26 letters with check boxes and their state, "&Set drives",
// "Cancel", "&Refresh" (and F5), "R&eset" and "Make these settings effective for all
// sessions.". The dialog stays open after Set and Reset and shows the letters 250 ms later.
namespace ombrix::tools {

class DriveEditorDialog : public QDialog {
  public:
    struct Setup {
        DriveLetterPorts ports;
        DriveProbes probes;
        std::function<std::string(int id)> text = driveEditorText;
        // Shows text 116 when setting the letters failed. Null: the user interface's message box.
        std::function<void(const std::string& text)> tell;
        int settleMs = 250;  // the wait before the list is read again after Set or Reset
    };

    explicit DriveEditorDialog(Setup setup, QWidget* parent = nullptr);

    // Reads the letters and fills the list again.
    void fill();
    void setDrives();
    void reset();

    const std::vector<DriveRow>& rows() const { return rows_; }
    QTreeWidget* list() const { return list_; }
    QPushButton* setButton() const { return set_; }
    QPushButton* resetButton() const { return reset_; }
    QCheckBox* allSessionsBox() const { return allSessions_; }

  private:
    void updateButtons();
    void readChecks();
    void afterChange();

    Setup setup_;
    std::vector<DriveRow> rows_;
    std::string current_;
    std::string standard_;
    QTreeWidget* list_ = nullptr;
    QPushButton* set_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QCheckBox* allSessions_ = nullptr;
    bool filling_ = false;
};

}  // namespace ombrix::tools
