#pragma once

#include "platform/ui/front_requests.h"

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "profiles/profile.h"
#include "profiles/profile_editing.h"
#include "profiles/ui/list_tools.h"
#include "profiles/ui/profile_sheet.h"

class QTreeWidget;

namespace ombrix::prfed {

// The bus message with which a second start brings the running editor forward.
inline constexpr const char* kBringToFront = "WM_OXT_PRFED_TO_FRONT";

// What the main dialog needs from its program.
struct EditorSetup {
    // Writes the list; true ends the editor (OK), false keeps it open (the function has told
    // why). Without it, OK just ends.
    std::function<bool(const CProfileList&)> save;
    SheetServices services;
    // Edits one profile in the property sheet: the form on OK, nothing on Cancel. Empty: the
    // sheet runs modally (ProfileSheet::edit). Tests drive the sheet here instead.
    using EditSheet = std::function<std::optional<profiles::ProfileForm>(
        QWidget* parent, const profiles::ProfileForm& form, const CProfileList& list,
        std::optional<std::string> ownName, const SheetServices& services)>;
    EditSheet editSheet;
};

// "Ombrix TS Profile Editor": the profiles of the file in file order, with New, Edit, Delete,
// Find..., Up and Down under the list, and OK (save and end) and Cancel (end without saving).
class ProfileEditorWindow : public QDialog {
  public:
    explicit ProfileEditorWindow(CProfileList profiles, EditorSetup setup = {},
                                 QWidget* parent = nullptr);
    ~ProfileEditorWindow() override;

    // The profiles as edited so far, in the list's order.
    const CProfileList& profiles() const { return profiles_; }
    QTreeWidget* list() const { return list_; }

    // The commands, as the buttons and the list run them.
    void newProfile();      // edits a new profile; OK appends it
    void editProfile();     // edits a copy of the selected profile; OK replaces it
    void deleteProfiles();  // every selected one, without asking
    void moveProfile(bool up);
    // The find dialog, made on first use and kept for the next search.
    FindDialog* openFind();
    bool findNext(const QString& text, bool down);

    // Listens for kBringToFront from later starts; false when the bus cannot be reached.
    bool listenOnBus();
    // Restores and activates the window, or the dialog open over it.
    void bringToFront();

    // Saves through the setup and ends when that succeeded.
    void accept() override;

    // The notice shown after saving, with its "Do not show this message again" box; built but
    // not shown.
    static std::unique_ptr<QDialog> makeNoticeDialog(QWidget* parent);
    // Whether the box was checked when the notice was closed with OK.
    static bool noticeDismissedForGood(const QDialog& notice);

  private:
    void fill(const std::vector<int>& selected, int current);
    std::vector<int> selectedRows() const;
    int currentRow() const;
    std::optional<profiles::ProfileForm> runSheet(const profiles::ProfileForm& form,
                                                  std::optional<std::string> ownName);
    void updateButtons();

    CProfileList profiles_;
    EditorSetup setup_;
    QTreeWidget* list_ = nullptr;
    ListButtons buttons_;
    QPointer<FindDialog> find_;
    std::unique_ptr<ui::FrontRequests> front_;
};

}  // namespace ombrix::prfed
