#include "profiles/ui/account_picker.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/ui/dialog_buttons.h"
#include "profiles/ui/list_tools.h"

namespace ombrix::prfed {
namespace {

// Which account a row shows: its place in the picker's list.
constexpr int kAccountRole = Qt::UserRole;

}  // namespace

AccountPicker::AccountPicker(QWidget* parent, std::vector<profiles::Account> accounts)
    : QDialog(parent), accounts_(std::move(accounts)) {
    setObjectName("accountPicker");
    setWindowTitle("Select User / Group");

    auto* layout = new QVBoxLayout(this);
    auto* searchRow = new QHBoxLayout;
    auto* label = new QLabel("&Search:", this);
    search_ = new QLineEdit(this);
    search_->setObjectName("search");
    search_->setClearButtonEnabled(true);
    search_->setPlaceholderText("Part of a name or domain");
    label->setBuddy(search_);
    searchRow->addWidget(label);
    searchRow->addWidget(search_, 1);
    layout->addLayout(searchRow);

    list_ = new QTreeWidget(this);
    list_->setObjectName("accounts");
    list_->setAccessibleName("Users and groups");
    list_->setHeaderLabels({"Name", "Domain", "Kind"});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (size_t i = 0; i < accounts_.size(); ++i) {
        const profiles::Account& account = accounts_[i];
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(account.name));
        item->setText(1, QString::fromStdString(account.domain));
        item->setText(2, account.user ? "User" : "Group");
        item->setIcon(0, account.user ? userIcon() : groupIcon());
        item->setData(0, kAccountRole, static_cast<qulonglong>(i));
    }
    spreadColumns(list_, {3, 2, 1});
    layout->addWidget(list_, 1);

    QDialogButtonBox* buttons = ui::okCancelButtons(this);
    QPushButton* ok = ui::okButton(buttons);
    ok->setEnabled(false);
    layout->addWidget(buttons);

    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) { filter(text); });
    connect(list_, &QTreeWidget::itemSelectionChanged, this,
            [this, ok] { ok->setEnabled(!picked().empty()); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        list_->clearSelection();
        item->setSelected(true);
        accept();
    });
    setTabOrder(search_, list_);
    resize(460, 400);
}

std::unique_ptr<AccountPicker> AccountPicker::make(QWidget* parent,
                                                   std::vector<profiles::Account> accounts) {
    return std::make_unique<AccountPicker>(parent, std::move(accounts));
}

std::optional<std::vector<profiles::Account>> AccountPicker::pick(
    QWidget* parent, std::vector<profiles::Account> accounts) {
    auto picker = make(parent, std::move(accounts));
    if (picker->exec() != QDialog::Accepted) return std::nullopt;
    return picker->picked();
}

std::vector<profiles::Account> AccountPicker::picked() const {
    std::vector<profiles::Account> out;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = list_->topLevelItem(row);
        if (item->isHidden() || !item->isSelected()) continue;
        out.push_back(accounts_[item->data(0, kAccountRole).toULongLong()]);
    }
    return out;
}

void AccountPicker::filter(const QString& text) {
    const QString wanted = text.trimmed();
    QTreeWidgetItem* firstShown = nullptr;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        const bool shown = wanted.isEmpty() ||
                           item->text(0).contains(wanted, Qt::CaseInsensitive) ||
                           item->text(1).contains(wanted, Qt::CaseInsensitive);
        // A hidden row is no longer picked, so OK never takes what the user cannot see.
        if (!shown) item->setSelected(false);
        item->setHidden(!shown);
        if (shown && firstShown == nullptr) firstShown = item;
    }
    // The keyboard goes on from the first row shown, so Down and Space pick it at once.
    QTreeWidgetItem* current = list_->currentItem();
    if (firstShown != nullptr && (current == nullptr || current->isHidden()))
        list_->setCurrentItem(firstShown, 0, QItemSelectionModel::NoUpdate);
}

}  // namespace ombrix::prfed
