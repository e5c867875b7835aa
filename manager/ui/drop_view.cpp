#include "manager/ui/drop_view.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPersistentModelIndex>
#include <QUrl>

namespace ombrix::mng {

DropView::DropView(ItemOf itemOf, QWidget* parent)
    : QTreeWidget(parent), itemOf_(std::move(itemOf)) {
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
}

QByteArray DropView::encode(const std::vector<TreeItem>& items) {
    QByteArray bytes;
    for (const TreeItem& item : items) {
        bytes +=
            QByteArray::number(item.index) + '|' + QByteArray::fromStdString(item.folder) + '\n';
    }
    return bytes;
}

std::vector<TreeItem> DropView::decode(const QByteArray& bytes) {
    std::vector<TreeItem> items;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype bar = line.indexOf('|');
        if (bar <= 0) continue;
        bool ok = false;
        const int index = line.left(bar).toInt(&ok);
        if (!ok || index < 0) continue;
        items.push_back({line.mid(bar + 1).toStdString(), index});
    }
    return items;
}

QStringList DropView::mimeTypes() const {
    return {kTreeItemsMime, "text/uri-list"};
}

QMimeData* DropView::mimeData(const QList<QTreeWidgetItem*>& items) const {
    std::vector<TreeItem> entries;
    for (const QTreeWidgetItem* item : items) {
        TreeItem entry = itemOf_ ? itemOf_(item) : TreeItem{};
        if (entry.index > 0 || !entry.folder.empty()) entries.push_back(std::move(entry));
    }
    if (entries.empty()) return nullptr;
    auto* data = new QMimeData;
    data->setData(kTreeItemsMime, encode(entries));
    return data;
}

bool DropView::accepts(const QMimeData* data) const {
    return data != nullptr && (data->hasFormat(kTreeItemsMime) || data->hasUrls());
}

void DropView::dragEnterEvent(QDragEnterEvent* event) {
    if (!accepts(event->mimeData())) return event->ignore();
    event->acceptProposedAction();
}

void DropView::dragMoveEvent(QDragMoveEvent* event) {
    if (!accepts(event->mimeData())) return event->ignore();
    const bool copy = event->modifiers() & Qt::ControlModifier;
    event->setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
    event->accept();
}

void DropView::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    if (!accepts(data) || !onDrop_) return event->ignore();
    const QPersistentModelIndex target(indexAt(event->position().toPoint()));
    std::vector<std::string> files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
    }
    const std::vector<TreeItem> items = decode(data->data(kTreeItemsMime));
    const bool copy = event->modifiers() & Qt::ControlModifier;
    // The view itself never moves its rows: the document changes and the views are rebuilt.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    // The drop's work rebuilds the views: it runs once this event is over.
    QMetaObject::invokeMethod(
        this,
        [this, target, items, files, copy] {
            onDrop_(target.isValid() ? itemFromIndex(target) : nullptr, items, files, copy);
        },
        Qt::QueuedConnection);
}

}  // namespace ombrix::mng
