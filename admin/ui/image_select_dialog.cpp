#include "admin/ui/image_select_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "admin/ui/admin_texts.h"
#include "platform/ui/dialog_buttons.h"

namespace ombrix::admin {

ImageSelectDialog::ImageSelectDialog(QWidget* parent, const std::vector<ImageChoice>& images)
    : QDialog(parent) {
    setObjectName("imageSelect");
    setWindowTitle("Select Ombrix");

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel("&Images:", this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("images");
    list_->setAccessibleName("Images of the catalogue");
    label->setBuddy(list_);
    list_->setHeaderLabels({adminQText(text::kDescription), adminQText(text::kFile)});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSortingEnabled(true);
    const QIcon disc = style()->standardIcon(QStyle::SP_DriveCDIcon);
    for (const ImageChoice& image : images) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(image.description));
        item->setText(1, QString::fromStdString(image.path));
        item->setIcon(0, disc);
    }
    list_->sortByColumn(0, Qt::AscendingOrder);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 220);
    layout->addWidget(label);
    layout->addWidget(list_, 1);

    QDialogButtonBox* buttons = ui::okCancelButtons(this);
    ok_ = ui::okButton(buttons);
    ok_->setEnabled(false);
    layout->addWidget(buttons);

    connect(list_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ok_->setEnabled(item != nullptr); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        list_->setCurrentItem(item);
        accept();
    });
    resize(600, 380);
}

std::unique_ptr<ImageSelectDialog> ImageSelectDialog::make(QWidget* parent,
                                                           const std::vector<ImageChoice>& images) {
    return std::make_unique<ImageSelectDialog>(parent, images);
}

std::optional<std::string> ImageSelectDialog::choose(QWidget* parent,
                                                     const std::vector<ImageChoice>& images) {
    auto dialog = make(parent, images);
    if (dialog->exec() != QDialog::Accepted || dialog->path().empty()) return std::nullopt;
    return dialog->path();
}

std::string ImageSelectDialog::path() const {
    const QTreeWidgetItem* item = list_->currentItem();
    return item != nullptr ? item->text(1).toStdString() : std::string();
}

}  // namespace ombrix::admin
