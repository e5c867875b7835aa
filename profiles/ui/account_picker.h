#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

#include "profiles/profile_editing.h"

class QLineEdit;
class QTreeWidget;

namespace ombrix::prfed {

// "Select User / Group": the accounts and groups given (the machine's, in the program) with
// name, domain and kind; the search field hides every row whose name or domain does not hold
// the typed text. Several rows can be picked; OK (or a double click on a row) ends the choice.
class AccountPicker : public QDialog {
  public:
    AccountPicker(QWidget* parent, std::vector<profiles::Account> accounts);

    // Built but not shown.
    static std::unique_ptr<AccountPicker> make(QWidget* parent,
                                               std::vector<profiles::Account> accounts);
    // Runs the picker modally: the picked accounts, nothing when it was cancelled.
    static std::optional<std::vector<profiles::Account>> pick(
        QWidget* parent, std::vector<profiles::Account> accounts);

    // The selected rows that the search leaves shown, in list order.
    std::vector<profiles::Account> picked() const;

    QLineEdit* searchField() const { return search_; }
    QTreeWidget* list() const { return list_; }

  private:
    void filter(const QString& text);

    std::vector<profiles::Account> accounts_;
    QLineEdit* search_ = nullptr;
    QTreeWidget* list_ = nullptr;
};

}  // namespace ombrix::prfed
