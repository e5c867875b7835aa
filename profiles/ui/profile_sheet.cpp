#include "profiles/ui/profile_sheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/ui/dialog_buttons.h"
#include "platform/ui/user_interface.h"
#include "profiles/ui/account_picker.h"

namespace ombrix::prfed {
namespace {

// Which account a member row stands for: its place in the sheet's accounts.
constexpr int kAccountRole = Qt::UserRole;
constexpr int kExcludeColumn = 2;

void tell(const std::string& text) {
    ui::userInterface().messageBox(kEditorTitle, text, ui::Icon::Warning, ui::Buttons::Ok, {});
}

// Space switches the check box of the current row's `column`, wherever the keyboard focus is in
// the row: the rows are selected whole, so the box's own cell is never the current one.
class SpaceToggles : public QObject {
  public:
    SpaceToggles(QTreeWidget* list, int column) : QObject(list), list_(list), column_(column) {
        list->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier) return false;
        QTreeWidgetItem* item = list_->currentItem();
        if (item == nullptr) return false;
        item->setCheckState(column_,
                            item->checkState(column_) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return true;
    }

  private:
    QTreeWidget* list_;
    int column_;
};

QTreeWidget* makeList(QWidget* page, const char* name, const QStringList& headers) {
    auto* list = new QTreeWidget(page);
    list->setObjectName(name);
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    return list;
}

}  // namespace

ProfileSheet::ProfileSheet(QWidget* parent, const profiles::ProfileForm& form,
                           const CProfileList& list, std::optional<std::string> ownName,
                           SheetServices services)
    : QDialog(parent), list_(list), ownName_(std::move(ownName)), services_(std::move(services)) {
    setObjectName("profileSheet");
    setWindowTitle("Ombrix TS Profile Properties");

    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    pages_->setObjectName("pages");
    pages_->addTab(makeGeneralPage(), "General");
    pages_->addTab(makeDrivesPage(), "Virtual Drives");
    pages_->addTab(makeUsersPage(), "Users / Groups");
    layout->addWidget(pages_, 1);

    layout->addWidget(ui::okCancelButtons(this));  // OK runs this sheet's own accept()
    connect(pages_, &QTabWidget::currentChanged, this, [this](int index) { pageChanged(index); });

    // The form's values.
    name_->setText(QString::fromStdString(form.name));
    for (auto [box, bit] : rights_)
        box->setChecked((form.rights & bit) != 0);
    for (int row = 0; row < drives_->topLevelItemCount(); ++row) {
        const auto& drive = form.drives[static_cast<size_t>(row)];
        QTreeWidgetItem* item = drives_->topLevelItem(row);
        item->setCheckState(0, drive.checked ? Qt::Checked : Qt::Unchecked);
        item->setText(1, drive.checked ? QString::fromStdString(drive.image) : QString());
    }
    for (const profiles::MemberRow& member : form.members)
        addMemberRow(member);
    updateDriveButtons();
    updateUserButtons();
    name_->setFocus();
    resize(500, 470);
}

ProfileSheet::~ProfileSheet() = default;

std::unique_ptr<ProfileSheet> ProfileSheet::make(QWidget* parent, const profiles::ProfileForm& form,
                                                 const CProfileList& list,
                                                 std::optional<std::string> ownName,
                                                 SheetServices services) {
    return std::make_unique<ProfileSheet>(parent, form, list, std::move(ownName),
                                          std::move(services));
}

std::optional<profiles::ProfileForm> ProfileSheet::edit(QWidget* parent,
                                                        const profiles::ProfileForm& form,
                                                        const CProfileList& list,
                                                        std::optional<std::string> ownName,
                                                        const SheetServices& services) {
    auto sheet = make(parent, form, list, std::move(ownName), services);
    if (sheet->exec() != QDialog::Accepted) return std::nullopt;
    return sheet->form();
}

QWidget* ProfileSheet::makeGeneralPage() {
    auto* page = new QWidget;
    page->setObjectName("generalPage");
    auto* layout = new QVBoxLayout(page);
    auto* nameRow = new QHBoxLayout;
    auto* label = new QLabel("&Name:", page);
    name_ = new QLineEdit(page);
    name_->setObjectName("name");
    name_->setMaxLength(static_cast<int>(profiles::ProfileForm::kMaxName));
    label->setBuddy(name_);
    nameRow->addWidget(label);
    nameRow->addWidget(name_, 1);
    layout->addLayout(nameRow);
    layout->addSpacing(12);

    const struct {
        const char* text;
        const char* name;
        uint32_t bit;
    } boxes[] = {
        {"Edit &virtual drives", "editDrives", CProfile::kEditDrives},
        {"&Central administration mode client", "centralAdminClient",
         CProfile::kCentralAdminClient},
        {"&Administrator", "administrator", CProfile::kAdministrator},
        {"&Insert / eject", "insertEject", CProfile::kInsertEject},
    };
    for (const auto& box : boxes) {
        auto* check = new QCheckBox(box.text, page);
        check->setObjectName(box.name);
        layout->addWidget(check);
        rights_.emplace_back(check, box.bit);
    }
    layout->addStretch(1);
    return page;
}

QWidget* ProfileSheet::makeDrivesPage() {
    auto* page = new QWidget;
    page->setObjectName("drivesPage");
    auto* layout = new QVBoxLayout(page);
    drives_ = makeList(page, "drives", {"Drive", "Ombrix"});
    drives_->setAccessibleName("Virtual drives");
    drives_->setSelectionMode(QAbstractItemView::SingleSelection);
    const QIcon drive = style()->standardIcon(QStyle::SP_DriveCDIcon);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        auto* item = new QTreeWidgetItem(drives_);
        item->setText(0, QString("%1:").arg(QChar(letter)));
        item->setIcon(0, drive);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    spreadColumns(drives_, {1, 4});
    new SpaceToggles(drives_, 0);
    layout->addWidget(drives_, 1);

    driveButtons_ = makeListButtons(page, "drives");
    layout->addLayout(driveButtons_.layout);
    // The drives are fixed: there is nothing to add, remove or move.
    for (QPushButton* unused :
         {driveButtons_.add, driveButtons_.remove, driveButtons_.up, driveButtons_.down})
        unused->setEnabled(false);

    connect(driveButtons_.edit, &QPushButton::clicked, this, [this] { editDrive(); });
    connect(driveButtons_.find, &QPushButton::clicked, this, [this] { openFind(); });
    connect(drives_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        drives_->setCurrentItem(item);
        editDrive();
    });
    connect(drives_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        // An unchecked drive receives no image.
        if (column == 0 && item->checkState(0) != Qt::Checked && !item->text(1).isEmpty())
            item->setText(1, QString());
        updateDriveButtons();
    });
    connect(drives_, &QTreeWidget::currentItemChanged, this, [this] { updateDriveButtons(); });
    return page;
}

QWidget* ProfileSheet::makeUsersPage() {
    auto* page = new QWidget;
    page->setObjectName("usersPage");
    auto* layout = new QVBoxLayout(page);
    members_ = makeList(page, "members", {"User / Group", "Domain", "Exclude"});
    members_->setAccessibleName("Users and groups of the profile");
    members_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    spreadColumns(members_, {5, 4, 2});
    new SpaceToggles(members_, kExcludeColumn);
    layout->addWidget(members_, 1);

    userButtons_ = makeListButtons(page, "users");
    layout->addLayout(userButtons_.layout);
    // A member has nothing to edit but its Exclude box, which is switched in the list.
    userButtons_.edit->setEnabled(false);

    connect(userButtons_.add, &QPushButton::clicked, this, [this] { addMembers(); });
    connect(userButtons_.remove, &QPushButton::clicked, this, [this] { deleteMembers(); });
    connect(userButtons_.find, &QPushButton::clicked, this, [this] { openFind(); });
    connect(userButtons_.up, &QPushButton::clicked, this, [this] { moveMember(true); });
    connect(userButtons_.down, &QPushButton::clicked, this, [this] { moveMember(false); });
    connect(members_, &QTreeWidget::itemSelectionChanged, this, [this] { updateUserButtons(); });
    connect(members_, &QTreeWidget::currentItemChanged, this, [this] { updateUserButtons(); });
    return page;
}

profiles::ProfileForm ProfileSheet::form() const {
    profiles::ProfileForm form;
    form.name = name_->text().toStdString();
    for (auto [box, bit] : rights_) {
        if (box->isChecked()) form.rights |= bit;
    }
    for (int row = 0; row < drives_->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = drives_->topLevelItem(row);
        auto& drive = form.drives[static_cast<size_t>(row)];
        drive.checked = item->checkState(0) == Qt::Checked;
        if (drive.checked) drive.image = item->text(1).toStdString();
    }
    for (int row = 0; row < members_->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = members_->topLevelItem(row);
        const auto index = static_cast<size_t>(item->data(0, kAccountRole).toULongLong());
        form.members.push_back({accounts_[index], item->checkState(kExcludeColumn) == Qt::Checked});
    }
    return form;
}

void ProfileSheet::addMemberRow(const profiles::MemberRow& member) {
    accounts_.push_back(member.account);
    auto* item = new QTreeWidgetItem(members_);
    item->setText(0, QString::fromStdString(member.account.name));
    item->setText(1, QString::fromStdString(member.account.domain));
    item->setIcon(0, member.account.user ? userIcon() : groupIcon());
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(kExcludeColumn, member.excluded ? Qt::Checked : Qt::Unchecked);
    item->setData(0, kAccountRole, static_cast<qulonglong>(accounts_.size() - 1));
}

void ProfileSheet::editDrive() {
    QTreeWidgetItem* item = drives_->currentItem();
    if (item == nullptr || item->checkState(0) != Qt::Checked) return;
    const std::string current = item->text(1).toStdString();
    std::optional<std::string> chosen;
    if (services_.chooseImage) {
        chosen = services_.chooseImage(this, current);
    } else {
        const std::vector<ImageEntry> images =
            services_.images ? services_.images() : std::vector<ImageEntry>{};
        chosen = ImageChooser::choose(this, images, current);
    }
    if (chosen) item->setText(1, QString::fromStdString(*chosen));
}

void ProfileSheet::addMembers() {
    std::optional<std::vector<profiles::Account>> picked;
    if (services_.pickAccounts) {
        picked = services_.pickAccounts(this);
    } else {
        picked = AccountPicker::pick(
            this, services_.accounts ? services_.accounts() : profiles::machineAccounts());
    }
    if (!picked) return;
    std::vector<profiles::MemberRow> members = form().members;
    const size_t before = members.size();
    if (profiles::addMembers(members, *picked) == 0) return;
    members_->clearSelection();
    for (size_t i = before; i < members.size(); ++i) {
        addMemberRow(members[i]);
        members_->topLevelItem(static_cast<int>(i))->setSelected(true);
    }
    QTreeWidgetItem* first = members_->topLevelItem(static_cast<int>(before));
    members_->setCurrentItem(first, 0, QItemSelectionModel::NoUpdate);
    members_->scrollToItem(first);
}

void ProfileSheet::deleteMembers() {
    const QList<QTreeWidgetItem*> selected = members_->selectedItems();
    if (selected.isEmpty()) return;
    int first = members_->topLevelItemCount();
    for (QTreeWidgetItem* item : selected)
        first = std::min(first, members_->indexOfTopLevelItem(item));
    qDeleteAll(selected);
    // The row that took the place of the first one deleted is the one to go on from.
    const int count = members_->topLevelItemCount();
    if (count > 0) {
        QTreeWidgetItem* next = members_->topLevelItem(std::min(first, count - 1));
        members_->setCurrentItem(next);
    }
    updateUserButtons();
}

void ProfileSheet::moveMember(bool up) {
    QTreeWidgetItem* item = members_->currentItem();
    if (item == nullptr) return;
    const int row = members_->indexOfTopLevelItem(item);
    const int to = up ? row - 1 : row + 1;
    if (to < 0 || to >= members_->topLevelItemCount()) return;
    members_->takeTopLevelItem(row);
    members_->insertTopLevelItem(to, item);
    members_->clearSelection();
    members_->setCurrentItem(item);
    item->setSelected(true);
    updateUserButtons();
}

void ProfileSheet::updateDriveButtons() {
    const QTreeWidgetItem* item = drives_->currentItem();
    driveButtons_.edit->setEnabled(item != nullptr && item->checkState(0) == Qt::Checked);
}

void ProfileSheet::updateUserButtons() {
    QTreeWidgetItem* current = members_->currentItem();
    const int row = current != nullptr ? members_->indexOfTopLevelItem(current) : -1;
    userButtons_.remove->setEnabled(!members_->selectedItems().isEmpty());
    userButtons_.up->setEnabled(row > 0);
    userButtons_.down->setEnabled(row >= 0 && row + 1 < members_->topLevelItemCount());
    userButtons_.find->setEnabled(members_->topLevelItemCount() > 0);
}

QTreeWidget* ProfileSheet::shownList() const {
    switch (pages_->currentIndex()) {
        case kDrives: return drives_;
        case kUsers: return members_;
        default: return nullptr;
    }
}

FindDialog* ProfileSheet::openFind() {
    if (find_ == nullptr) {
        find_ = new FindDialog(
            this, [this](const QString& text, bool down) { return findNext(text, down); });
    }
    find_->present();
    return find_;
}

bool ProfileSheet::findNext(const QString& text, bool down) {
    QTreeWidget* list = shownList();
    return list != nullptr && findInList(*list, text, down);
}

void ProfileSheet::pageChanged(int index) {
    if (returning_) return;
    const int left = shownPage_;
    shownPage_ = index;
    if (left == kGeneral && index != kGeneral) checkName();
}

bool ProfileSheet::checkName() {
    std::optional<std::string_view> own;
    if (ownName_) own = *ownName_;
    const std::optional<std::string> problem =
        profiles::nameProblem(name_->text().toStdString(), list_, own);
    if (!problem) return true;
    if (pages_->currentIndex() != kGeneral) {
        returning_ = true;
        pages_->setCurrentIndex(kGeneral);
        returning_ = false;
        shownPage_ = kGeneral;
    }
    tell(*problem);
    name_->setFocus();
    name_->selectAll();
    return false;
}

void ProfileSheet::accept() {
    if (!checkName()) return;
    // The members must fit the profile's descriptor; the profile itself is changed by the caller.
    CProfile scratch;
    if (!profiles::applyForm(form(), scratch)) {
        pages_->setCurrentIndex(kUsers);
        tell(
            "The profile has more users and groups than it can hold.\n"
            "Please delete some of them.");
        return;
    }
    QDialog::accept();
}

}  // namespace ombrix::prfed
