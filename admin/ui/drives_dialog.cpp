#include "admin/ui/drives_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "admin/ui/admin_texts.h"
#include "platform/ui/user_interface.h"

namespace ombrix::admin {
namespace {

void tell(int id, ui::Icon icon) {
    ui::userInterface().messageBox(kAdminTitle, adminText(id), icon, ui::Buttons::Ok, {});
}

}  // namespace

DrivesDialog::DrivesDialog(QWidget* parent, const QString& session, Rows rows, Reader reader)
    : QDialog(parent), reader_(std::move(reader)), read_(allLetters(rows)) {
    setObjectName("drivesDialog");
    setWindowTitle("Edit Virtual Drives");

    auto* layout = new QVBoxLayout(this);
    auto* user = new QLabel(adminQText(text::kOmbrixUser) + " " + session, this);
    user->setObjectName("sessionLabel");
    layout->addWidget(user);

    auto* label = new QLabel(withMnemonic(adminQText(text::kDrives)), this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("drives");
    list_->setAccessibleName("Drive letters of the session");
    label->setBuddy(list_);
    list_->setHeaderLabels({adminQText(text::kVirtualDrive), adminQText(text::kStatus)});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 130);
    layout->addWidget(label);
    layout->addWidget(list_, 1);

    allSessions_ = new QCheckBox("&Make these settings effective for all sessions", this);
    allSessions_->setObjectName("allSessions");
    layout->addWidget(allSessions_);

    auto* buttons = new QHBoxLayout;
    set_ = new QPushButton("&Set drives", this);
    set_->setObjectName("setDrives");
    set_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("cancel");
    update_ = new QPushButton("&Update", this);
    update_->setObjectName("update");
    reset_ = new QPushButton("&Reset", this);
    reset_->setObjectName("reset");
    buttons->addWidget(update_);
    buttons->addWidget(reset_);
    buttons->addStretch(1);
    buttons->addWidget(set_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);

    connect(set_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(update_, &QPushButton::clicked, this, [this] { update(); });
    connect(reset_, &QPushButton::clicked, this, [this] { reset(); });
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0 && !filling_) checked(list_->indexOfTopLevelItem(item));
    });

    fill(read_);
    list_->setCurrentItem(list_->topLevelItem(0));
    resize(460, 520);
}

std::unique_ptr<DrivesDialog> DrivesDialog::make(QWidget* parent, const QString& session, Rows rows,
                                                 Reader reader) {
    return std::make_unique<DrivesDialog>(parent, session, std::move(rows), std::move(reader));
}

std::optional<DrivesChoice> DrivesDialog::edit(QWidget* parent, const QString& session, Rows rows,
                                               Reader reader) {
    auto dialog = make(parent, session, std::move(rows), std::move(reader));
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    return dialog->choice();
}

bool DrivesDialog::inUse(const DriveLetterRow& row) {
    if (row.image.empty()) return false;
    const std::string nothing = std::string("(") + row.letter + ":)";
    return row.image != nothing;
}

DrivesDialog::Rows DrivesDialog::allLetters(const Rows& rows) {
    Rows all;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        DriveLetterRow row{letter, false, {}};
        for (const DriveLetterRow& given : rows) {
            if (given.letter == letter) {
                row = given;
                break;
            }
        }
        all.push_back(std::move(row));
    }
    return all;
}

void DrivesDialog::fill(const Rows& rows) {
    filling_ = true;
    const int current = std::max(list_->indexOfTopLevelItem(list_->currentItem()), 0);
    list_->clear();
    const QIcon drive = style()->standardIcon(QStyle::SP_DriveCDIcon);
    const QIcon other = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const DriveLetterRow& row : rows) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString("%1:").arg(QChar(row.letter)));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.virtualDrive ? Qt::Checked : Qt::Unchecked);
        const bool used = inUse(row);
        item->setText(1, used ? adminQText(text::kInUse) + " - " + QString::fromStdString(row.image)
                              : adminQText(text::kAvailable));
        if (used) item->setIcon(1, row.virtualDrive ? drive : other);
    }
    list_->setCurrentItem(list_->topLevelItem(current));
    filling_ = false;
}

DrivesDialog::Rows DrivesDialog::rows() const {
    Rows out = read_;
    for (int i = 0; i < list_->topLevelItemCount() && i < static_cast<int>(out.size()); ++i) {
        out[static_cast<size_t>(i)].virtualDrive =
            list_->topLevelItem(i)->checkState(0) == Qt::Checked;
    }
    return out;
}

DrivesChoice DrivesDialog::choice() const {
    return {chosenLetters(rows()), allSessions_->isChecked()};
}

void DrivesDialog::checked(int row) {
    if (row < 0 || row >= static_cast<int>(read_.size())) return;
    const DriveLetterRow& was = read_[static_cast<size_t>(row)];
    // A letter that something other than a virtual drive uses now would be taken from it.
    if (list_->topLevelItem(row)->checkState(0) == Qt::Checked && !was.virtualDrive && inUse(was)) {
        tell(text::kOverwriteCaution, ui::Icon::Warning);
    }
}

void DrivesDialog::setWaiting(bool waiting) {
    reading_ = waiting;
    for (QPushButton* button : {set_, update_, reset_})
        button->setEnabled(!waiting);
    list_->setEnabled(!waiting);
    if (waiting) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void DrivesDialog::update() {
    if (reading_ || !reader_) return;
    setWaiting(true);
    QPointer<DrivesDialog> self(this);
    reader_([self](std::optional<Rows> rows) {
        if (self == nullptr) return;
        self->setWaiting(false);
        if (!rows) {
            tell(text::kNoSessionDrives, ui::Icon::Warning);
            return;
        }
        self->read_ = allLetters(*rows);
        self->fill(self->read_);
    });
}

void DrivesDialog::reset() {
    fill(read_);
}

}  // namespace ombrix::admin
