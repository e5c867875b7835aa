#include "profiles/ui/profile_editor_window.h"
#include "platform/ui/front_requests.h"

#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/ui/user_interface.h"

namespace ombrix::prfed {

ProfileEditorWindow::ProfileEditorWindow(CProfileList profiles, EditorSetup setup, QWidget* parent)
    : QDialog(parent), profiles_(std::move(profiles)), setup_(std::move(setup)) {
    setObjectName("profileEditor");
    setWindowTitle(kEditorTitle);
    setWindowIcon(profileIcon());

    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("profiles");
    list_->setAccessibleName("Profiles");
    list_->setHeaderLabels({"Profile"});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->header()->setStretchLastSection(true);
    list_->header()->setSectionsClickable(false);  // the order is the file's, chosen by the user
    layout->addWidget(list_, 1);

    buttons_ = makeListButtons(this, QString());
    layout->addLayout(buttons_.layout);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = box->button(QDialogButtonBox::Ok);
    ok->setObjectName("ok");
    ok->setDefault(true);
    box->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    layout->addWidget(box);

    connect(buttons_.add, &QPushButton::clicked, this, [this] { newProfile(); });
    connect(buttons_.edit, &QPushButton::clicked, this, [this] { editProfile(); });
    connect(buttons_.remove, &QPushButton::clicked, this, [this] { deleteProfiles(); });
    connect(buttons_.find, &QPushButton::clicked, this, [this] { openFind(); });
    connect(buttons_.up, &QPushButton::clicked, this, [this] { moveProfile(true); });
    connect(buttons_.down, &QPushButton::clicked, this, [this] { moveProfile(false); });
    connect(box, &QDialogButtonBox::accepted, this, &ProfileEditorWindow::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        list_->clearSelection();
        list_->setCurrentItem(item);
        item->setSelected(true);
        editProfile();
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { updateButtons(); });

    fill({}, -1);
    setTabOrder(list_, buttons_.add);
    setTabOrder(buttons_.add, buttons_.edit);
    setTabOrder(buttons_.edit, buttons_.remove);
    setTabOrder(buttons_.remove, buttons_.find);
    setTabOrder(buttons_.find, buttons_.up);
    setTabOrder(buttons_.up, buttons_.down);
    setTabOrder(buttons_.down, ok);
    setTabOrder(ok, box->button(QDialogButtonBox::Cancel));
    list_->setFocus();
    resize(460, 380);
}

ProfileEditorWindow::~ProfileEditorWindow() = default;

void ProfileEditorWindow::fill(const std::vector<int>& selected, int current) {
    list_->clear();
    for (const CProfile& profile : profiles_.Profiles()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(profile.name));
        item->setIcon(0, profileIcon());
    }
    for (int row : selected) {
        if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setSelected(true);
    }
    if (QTreeWidgetItem* item = list_->topLevelItem(current)) {
        list_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        list_->scrollToItem(item);
    }
    updateButtons();
}

std::vector<int> ProfileEditorWindow::selectedRows() const {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : list_->selectedItems())
        rows.push_back(list_->indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The row the single-row commands work on: the current row when it is selected, else the first
// selected one; -1 without a selection.
int ProfileEditorWindow::currentRow() const {
    QTreeWidgetItem* current = list_->currentItem();
    if (current != nullptr && current->isSelected()) return list_->indexOfTopLevelItem(current);
    const std::vector<int> rows = selectedRows();
    return rows.empty() ? -1 : rows.front();
}

void ProfileEditorWindow::updateButtons() {
    const int row = currentRow();
    const int count = list_->topLevelItemCount();
    buttons_.edit->setEnabled(row >= 0);
    buttons_.remove->setEnabled(!list_->selectedItems().isEmpty());
    buttons_.find->setEnabled(count > 0);
    buttons_.up->setEnabled(row > 0);
    buttons_.down->setEnabled(row >= 0 && row + 1 < count);
}

std::optional<profiles::ProfileForm> ProfileEditorWindow::runSheet(
    const profiles::ProfileForm& form, std::optional<std::string> ownName) {
    if (setup_.editSheet)
        return setup_.editSheet(this, form, profiles_, std::move(ownName), setup_.services);
    return ProfileSheet::edit(this, form, profiles_, std::move(ownName), setup_.services);
}

void ProfileEditorWindow::newProfile() {
    CProfile profile;  // rights 0, no drives, no members
    const std::optional<profiles::ProfileForm> form =
        runSheet(profiles::formOf(profile), std::nullopt);
    if (!form || !profiles::applyForm(*form, profile)) return;
    profiles_.Profiles().push_back(std::move(profile));
    const int row = static_cast<int>(profiles_.Profiles().size()) - 1;
    fill({row}, row);
}

void ProfileEditorWindow::editProfile() {
    const int row = currentRow();
    if (row < 0) return;
    CProfile copy = profiles_.Profiles()[static_cast<size_t>(row)];
    const std::optional<profiles::ProfileForm> form = runSheet(profiles::formOf(copy), copy.name);
    if (!form || !profiles::applyForm(*form, copy)) return;
    profiles_.Profiles()[static_cast<size_t>(row)] = std::move(copy);
    fill({row}, row);
}

void ProfileEditorWindow::deleteProfiles() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) return;
    auto& all = profiles_.Profiles();
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        all.erase(all.begin() + *row);
    // The profile that moved into the first deleted row's place is the one to go on from.
    const int next = std::min(rows.front(), static_cast<int>(all.size()) - 1);
    if (next < 0) {
        fill({}, -1);
    } else {
        fill({next}, next);
    }
}

void ProfileEditorWindow::moveProfile(bool up) {
    const int row = currentRow();
    if (row < 0 || !profiles::moveProfile(profiles_.Profiles(), static_cast<size_t>(row), up))
        return;
    const int to = up ? row - 1 : row + 1;
    fill({to}, to);
}

FindDialog* ProfileEditorWindow::openFind() {
    if (find_ == nullptr) {
        find_ = new FindDialog(
            this, [this](const QString& text, bool down) { return findNext(text, down); });
    }
    find_->present();
    return find_;
}

bool ProfileEditorWindow::findNext(const QString& text, bool down) {
    return findInList(*list_, text, down);
}

bool ProfileEditorWindow::listenOnBus() {
    front_ = ui::FrontRequests::listen(this, kBringToFront);
    return front_ != nullptr;
}

void ProfileEditorWindow::bringToFront() {
    ui::bringForward(this);
}

void ProfileEditorWindow::accept() {
    if (setup_.save && !setup_.save(profiles_)) return;
    QDialog::accept();
}

std::unique_ptr<QDialog> ProfileEditorWindow::makeNoticeDialog(QWidget* parent) {
    auto dialog = std::make_unique<QDialog>(parent);
    QDialog* d = dialog.get();
    d->setObjectName("noticeDialog");
    d->setWindowTitle(kEditorTitle);
    auto* layout = new QVBoxLayout(d);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(d);
    icon->setPixmap(d->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32));
    icon->setAlignment(Qt::AlignTop);
    auto* text = new QLabel(
        "Please note that the new settings in the profiles are not effective until the next time "
        "the user logs on.",
        d);
    text->setObjectName("noticeText");
    text->setWordWrap(true);
    text->setMinimumWidth(300);
    row->addWidget(icon);
    row->addWidget(text, 1);
    layout->addLayout(row);
    auto* never = new QCheckBox("&Do not show this message again", d);
    never->setObjectName("dontShowAgain");
    layout->addWidget(never);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, d);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
    return dialog;
}

bool ProfileEditorWindow::noticeDismissedForGood(const QDialog& notice) {
    const auto* never = notice.findChild<QCheckBox*>("dontShowAgain");
    return notice.result() == QDialog::Accepted && never != nullptr && never->isChecked();
}

}  // namespace ombrix::prfed
