#include "profiles/ui/image_chooser.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/ui/dialog_buttons.h"
#include "profiles/ui/list_tools.h"

namespace ombrix::prfed {

std::string imagePathOfEntry(std::string_view entry) {
    return std::string(entry.substr(0, entry.find('|')));
}

std::string fileTitle(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // A leading dot starts a hidden file's name, not an extension.
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::string(name);
}

ImageChooser::ImageChooser(QWidget* parent, const std::vector<ImageEntry>& images,
                           const std::string& current)
    : QDialog(parent) {
    setObjectName("imageChooser");
    setWindowTitle("Select a Ombrix");

    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("images");
    list_->setAccessibleName("Images of the catalogue");
    list_->setHeaderLabels({"Description", "Ombrix"});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    const QIcon disc = style()->standardIcon(QStyle::SP_DriveCDIcon);
    QTreeWidgetItem* chosen = nullptr;
    for (const ImageEntry& image : images) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(image.description));
        item->setText(1, QString::fromStdString(image.path));
        item->setIcon(0, disc);
        if (chosen == nullptr && !current.empty() && image.path == current) chosen = item;
    }
    spreadColumns(list_, {1, 2});
    layout->addWidget(list_, 1);

    auto* pathRow = new QHBoxLayout;
    auto* label = new QLabel("&File:", this);
    path_ = new QLineEdit(QString::fromStdString(current), this);
    path_->setObjectName("path");
    label->setBuddy(path_);
    pathRow->addWidget(label);
    pathRow->addWidget(path_, 1);
    layout->addLayout(pathRow);

    layout->addWidget(ui::okCancelButtons(this));

    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item != nullptr) path_->setText(item->text(1));
    });
    // A click on the row already chosen takes its path again after the field was edited.
    connect(list_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { path_->setText(item->text(1)); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        path_->setText(item->text(1));
        accept();
    });
    // The drive's image, when the catalogue has it, is the row the keyboard starts from.
    if (chosen != nullptr) {
        list_->setCurrentItem(chosen);
        list_->scrollToItem(chosen);
    }
    setTabOrder(list_, path_);
    resize(560, 380);
}

std::unique_ptr<ImageChooser> ImageChooser::make(QWidget* parent,
                                                 const std::vector<ImageEntry>& images,
                                                 const std::string& current) {
    return std::make_unique<ImageChooser>(parent, images, current);
}

std::optional<std::string> ImageChooser::choose(QWidget* parent,
                                                const std::vector<ImageEntry>& images,
                                                const std::string& current) {
    auto chooser = make(parent, images, current);
    if (chooser->exec() != QDialog::Accepted) return std::nullopt;
    return chooser->path();
}

std::string ImageChooser::path() const {
    return path_->text().toStdString();
}

}  // namespace ombrix::prfed
