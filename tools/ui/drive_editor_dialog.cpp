#include "tools/ui/drive_editor_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/ui/user_interface.h"

namespace ombrix::tools {
namespace {

constexpr const char* kEditorTitle = "Ombrix TS Drive Editor";

// Setting the letters failed: the helper gives no reason, so the text is the same each time.
void tellSetFailed(const DriveEditorDialog::Setup& setup) {
    const std::string message = setup.text(drivetext::kSetFailed);
    if (setup.tell) {
        setup.tell(message);
    } else {
        ui::userInterface().messageBox(kEditorTitle, message, ui::Icon::Error, ui::Buttons::Ok, {});
    }
}

int stateText(DriveState state) {
    switch (state) {
        case DriveState::Available: return drivetext::kAvailable;
        case DriveState::InUse: return drivetext::kInUse;
        case DriveState::Virtual: return drivetext::kVirtualDrive;
    }
    return drivetext::kAvailable;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption,
                    const QString& accessible) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(accessible);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

DriveEditorDialog::DriveEditorDialog(Setup setup, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)) {
    setObjectName("driveEditor");
    setWindowTitle(kEditorTitle);
    const auto text = [this](int id) { return QString::fromStdString(setup_.text(id)); };

    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("drives");
    list_->setAccessibleName("Drive letters of the session");
    list_->setToolTip(text(drivetext::kListTip));
    list_->setHeaderLabels({text(drivetext::kDrive), text(drivetext::kStatus)});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 160);
    layout->addWidget(list_, 1);

    allSessions_ = new QCheckBox("Make these settings effective for all sessions.", this);
    allSessions_->setObjectName("allSessions");
    allSessions_->setAccessibleName("Effective for all sessions");
    layout->addWidget(allSessions_);

    auto* row = new QHBoxLayout;
    set_ = button(this, "setDrives", "&Set drives", "Set drives");
    set_->setToolTip(text(drivetext::kSetTip));
    // Enter sets the letters; the dialog stays open to show them.
    set_->setDefault(true);
    auto* cancel = button(this, "cancel", "Cancel", "Cancel");
    cancel->setToolTip(text(drivetext::kCancelTip));
    refresh_ = button(this, "refresh", "&Refresh", "Refresh");
    refresh_->setToolTip(text(drivetext::kRefreshTip));
    reset_ = button(this, "reset", "R&eset", "Reset to the standard letters");
    row->addWidget(set_);
    row->addWidget(cancel);
    row->addWidget(refresh_);
    row->addWidget(reset_);
    row->addStretch(1);
    layout->addLayout(row);

    connect(set_, &QPushButton::clicked, this, [this] { setDrives(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(refresh_, &QPushButton::clicked, this, [this] { fill(); });
    connect(reset_, &QPushButton::clicked, this, [this] { reset(); });
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    f5->setObjectName("refreshKey");
    connect(f5, &QShortcut::activated, this, [this] { fill(); });
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
        if (filling_ || column != 0) return;
        readChecks();
        updateButtons();
    });

    fill();
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
    resize(sizeHint().width(), 420);
}

void DriveEditorDialog::fill() {
    current_ = setup_.ports.current();
    standard_ = setup_.ports.standard();
    rows_ = driveRows(current_, setup_.probes);

    // The items are reused row by row, so the current row and the scroll position stay.
    filling_ = true;
    const int count = static_cast<int>(rows_.size());
    while (list_->topLevelItemCount() > count)
        delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
    while (list_->topLevelItemCount() < count)
        new QTreeWidgetItem(list_);
    for (int i = 0; i < count; ++i) {
        const DriveRow& row = rows_[static_cast<size_t>(i)];
        QTreeWidgetItem* item = list_->topLevelItem(i);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (row.checkable) flags |= Qt::ItemIsUserCheckable;
        item->setFlags(flags);
        item->setText(0, QString::fromStdString(row.display));
        item->setText(1, QString::fromStdString(setup_.text(stateText(row.state))));
        item->setData(0, Qt::UserRole, QChar(row.letter));
        item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
    updateButtons();
}

void DriveEditorDialog::readChecks() {
    const int count = std::min(list_->topLevelItemCount(), static_cast<int>(rows_.size()));
    for (int i = 0; i < count; ++i)
        rows_[static_cast<size_t>(i)].checked =
            list_->topLevelItem(i)->checkState(0) == Qt::Checked;
}

void DriveEditorDialog::updateButtons() {
    set_->setEnabled(setDrivesEnabled(rows_, current_));
    reset_->setEnabled(resetEnabled(current_, standard_));
}

void DriveEditorDialog::setDrives() {
    readChecks();
    const std::string letters = checkedLetters(rows_);
    if (letters != current_ && !setup_.ports.set(letters, allSessions_->isChecked())) {
        tellSetFailed(setup_);
    }
    afterChange();
}

void DriveEditorDialog::reset() {
    standard_ = setup_.ports.standard();
    if (!setup_.ports.set(standard_, allSessions_->isChecked())) tellSetFailed(setup_);
    afterChange();
}

void DriveEditorDialog::afterChange() {
    // The session shows new letters a moment after the helper has set them.
    QTimer::singleShot(setup_.settleMs, this, [this] { fill(); });
}

}  // namespace ombrix::tools
