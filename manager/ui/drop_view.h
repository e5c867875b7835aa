#pragma once

#include <QTreeWidget>
#include <functional>
#include <string>
#include <vector>

#include "manager/image_operations.h"

// A tree or list of the main window that images and folders are dragged from and dropped on:
// its own entries travel as tree items, files from the desktop's file manager as paths.
namespace ombrix::mng {

constexpr const char* kTreeItemsMime = "application/x-ombrix-tree-items";

class DropView : public QTreeWidget {
  public:
    // Called for a drop onto `target` (null: the view's empty space) with the dragged entries or
    // the dropped files; `copy` when Ctrl was held.
    using DropHandler =
        std::function<void(QTreeWidgetItem* target, const std::vector<TreeItem>& items,
                           const std::vector<std::string>& files, bool copy)>;
    // The entry an item of this view stands for (index 0 and no folder for none).
    using ItemOf = std::function<TreeItem(const QTreeWidgetItem* item)>;

    DropView(ItemOf itemOf, QWidget* parent = nullptr);
    void setDropHandler(DropHandler handler) { onDrop_ = std::move(handler); }

    // The entries of items as they travel, and back.
    static QByteArray encode(const std::vector<TreeItem>& items);
    static std::vector<TreeItem> decode(const QByteArray& bytes);

  protected:
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
    QStringList mimeTypes() const override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    bool accepts(const QMimeData* data) const;

    ItemOf itemOf_;
    DropHandler onDrop_;
};

}  // namespace ombrix::mng
