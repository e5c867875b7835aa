#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "profiles/profile.h"
#include "profiles/profile_editing.h"
#include "profiles/ui/image_chooser.h"
#include "profiles/ui/list_tools.h"

class QCheckBox;
class QLineEdit;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace ombrix::prfed {

// Where the sheet's pages get the accounts and images they offer, and how they ask for them.
// Empty functions take the defaults: the machine's accounts, no images, and the picker and the
// chooser run modally over the sheet. Tests answer in their place.
struct SheetServices {
    std::function<std::vector<profiles::Account>()> accounts;
    std::function<std::vector<ImageEntry>()> images;
    // The accounts picked, nothing when the picker was cancelled.
    std::function<std::optional<std::vector<profiles::Account>>(QWidget* parent)> pickAccounts;
    // The image chosen for a drive that holds `current`, nothing when the chooser was cancelled.
    std::function<std::optional<std::string>(QWidget* parent, const std::string& current)>
        chooseImage;
};

// "Ombrix TS Profile Properties": one profile's name and rights ("General"), the images of its
// drives ("Virtual Drives") and its members ("Users / Groups"), edited as a ProfileForm. The
// name is checked whenever the General page is left and on OK: a missing name or the name of
// another profile of `list` (`ownName`, the edited profile's old name, excepted; nothing for a
// new profile) is told in a message box and the General page stays.
class ProfileSheet : public QDialog {
  public:
    enum Page { kGeneral = 0, kDrives = 1, kUsers = 2 };

    ProfileSheet(QWidget* parent, const profiles::ProfileForm& form, const CProfileList& list,
                 std::optional<std::string> ownName, SheetServices services);
    ~ProfileSheet() override;

    // Built but not shown.
    static std::unique_ptr<ProfileSheet> make(QWidget* parent, const profiles::ProfileForm& form,
                                              const CProfileList& list,
                                              std::optional<std::string> ownName,
                                              SheetServices services);
    // Runs the sheet modally: the edited form on OK, nothing on Cancel.
    static std::optional<profiles::ProfileForm> edit(QWidget* parent,
                                                     const profiles::ProfileForm& form,
                                                     const CProfileList& list,
                                                     std::optional<std::string> ownName,
                                                     const SheetServices& services);

    // The form as the pages show it now.
    profiles::ProfileForm form() const;

    QTabWidget* pages() const { return pages_; }
    QLineEdit* nameField() const { return name_; }
    QTreeWidget* drivesList() const { return drives_; }
    QTreeWidget* membersList() const { return members_; }

    // The pages' commands, as their buttons run them.
    void editDrive();  // the chooser for the current drive row, when it is checked
    void addMembers();
    void deleteMembers();
    void moveMember(bool up);
    // The find dialog of the page shown, made on first use; searches that page's list.
    FindDialog* openFind();
    bool findNext(const QString& text, bool down);

    // Whether the name may be kept; tells the problem and shows the General page when not.
    bool checkName();

    void accept() override;

  private:
    QWidget* makeGeneralPage();
    QWidget* makeDrivesPage();
    QWidget* makeUsersPage();
    void pageChanged(int index);
    void addMemberRow(const profiles::MemberRow& member);
    void updateDriveButtons();
    void updateUserButtons();
    QTreeWidget* shownList() const;

    CProfileList list_;  // a copy: the names the edited profile must not take
    std::optional<std::string> ownName_;
    SheetServices services_;
    // The accounts the member rows stand for, by the index a row keeps; deleted rows leave
    // their account here unused.
    std::vector<profiles::Account> accounts_;

    QTabWidget* pages_ = nullptr;
    QLineEdit* name_ = nullptr;
    std::vector<std::pair<QCheckBox*, uint32_t>> rights_;
    QTreeWidget* drives_ = nullptr;
    QTreeWidget* members_ = nullptr;
    ListButtons driveButtons_;
    ListButtons userButtons_;
    QPointer<FindDialog> find_;
    int shownPage_ = kGeneral;
    bool returning_ = false;  // going back to the General page after a refused name
};

}  // namespace ombrix::prfed
