#include "profiles/ui/list_tools.h"

#include <QColor>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <numeric>

#include "platform/ui/user_interface.h"
#include "profiles/profile_editing.h"

namespace ombrix::prfed {
namespace {

QPushButton* barButton(QWidget* owner, QHBoxLayout* layout, const QString& text,
                       const QString& prefix, const QString& command) {
    auto* button = new QPushButton(text, owner);
    QString name = command;
    if (!prefix.isEmpty()) name = prefix + command.left(1).toUpper() + command.mid(1);
    button->setObjectName(name);
    layout->addWidget(button);
    return button;
}

// Sets the columns of a list to their shares of the visible width each time it changes.
class ColumnSpreader : public QObject {
  public:
    ColumnSpreader(QTreeWidget* list, std::vector<int> shares)
        : QObject(list), list_(list), shares_(std::move(shares)) {
        list_->header()->setStretchLastSection(false);
        list_->viewport()->installEventFilter(this);
        spread();
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) spread();
        return false;
    }

  private:
    void spread() {
        const int total = std::accumulate(shares_.begin(), shares_.end(), 0);
        const int width = list_->viewport()->width();
        if (total <= 0 || width <= 0 || shares_.empty()) return;
        int used = 0;
        const int last = static_cast<int>(shares_.size()) - 1;
        for (int column = 0; column < last; ++column) {
            const int size = width * shares_[static_cast<size_t>(column)] / total;
            list_->header()->resizeSection(column, size);
            used += size;
        }
        // The last column takes what the rounding left, so the columns fill the width exactly.
        list_->header()->resizeSection(last, width - used);
    }

    QTreeWidget* list_;
    std::vector<int> shares_;
};

// A picture drawn on a 32 × 32 grid, made at the sizes lists and dialogs ask for.
template <typename Paint>
QIcon drawnIcon(Paint paint) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        paint(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A head and shoulders whose head is centred on (x, y) with radius r.
void paintFigure(QPainter& painter, qreal x, qreal y, qreal r, const QColor& fill) {
    painter.setPen(QPen(fill.darker(160), 1.2));
    painter.setBrush(fill);
    painter.drawEllipse(QPointF(x, y), r, r);
    const qreal width = r * 3.6;
    painter.drawChord(QRectF(x - width / 2, y + r * 1.2, width, r * 4.4), 0, 180 * 16);
}

}  // namespace

ListButtons makeListButtons(QWidget* owner, const QString& prefix) {
    ListButtons bar;
    bar.layout = new QHBoxLayout;
    bar.add = barButton(owner, bar.layout, "&New", prefix, "new");
    bar.edit = barButton(owner, bar.layout, "&Edit", prefix, "edit");
    bar.remove = barButton(owner, bar.layout, "&Delete", prefix, "delete");
    bar.find = barButton(owner, bar.layout, "&Find...", prefix, "find");
    bar.up = barButton(owner, bar.layout, "&Up", prefix, "up");
    bar.down = barButton(owner, bar.layout, "Do&wn", prefix, "down");
    bar.layout->addStretch(1);
    return bar;
}

std::vector<std::vector<std::string>> rowTexts(const QTreeWidget& list) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(static_cast<size_t>(list.topLevelItemCount()));
    for (int row = 0; row < list.topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = list.topLevelItem(row);
        std::vector<std::string> cells;
        for (int column = 0; column < list.columnCount(); ++column)
            cells.push_back(item->text(column).toStdString());
        rows.push_back(std::move(cells));
    }
    return rows;
}

bool findInList(QTreeWidget& list, const QString& text, bool down) {
    QTreeWidgetItem* current = list.currentItem();
    const int from = current != nullptr ? list.indexOfTopLevelItem(current) : -1;
    const int row = profiles::findRow(rowTexts(list), text.toStdString(), from, down);
    if (row < 0) return false;
    QTreeWidgetItem* found = list.topLevelItem(row);
    list.clearSelection();
    list.setCurrentItem(found);
    found->setSelected(true);
    list.scrollToItem(found);
    return true;
}

FindDialog::FindDialog(QWidget* parent, Search search)
    : QDialog(parent), search_(std::move(search)) {
    setObjectName("findDialog");
    setWindowTitle("Find");
    setModal(false);

    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* textRow = new QHBoxLayout;
    auto* label = new QLabel("Fi&nd what:", this);
    text_ = new QLineEdit(this);
    text_->setObjectName("findText");
    text_->setMinimumWidth(220);
    label->setBuddy(text_);
    textRow->addWidget(label);
    textRow->addWidget(text_, 1);
    left->addLayout(textRow);

    auto* direction = new QGroupBox("Direction", this);
    auto* directionLayout = new QHBoxLayout(direction);
    up_ = new QRadioButton("&Up", direction);
    up_->setObjectName("findUp");
    down_ = new QRadioButton("&Down", direction);
    down_->setObjectName("findDown");
    down_->setChecked(true);
    directionLayout->addWidget(up_);
    directionLayout->addWidget(down_);
    auto* directionRow = new QHBoxLayout;
    directionRow->addStretch(1);
    directionRow->addWidget(direction);
    left->addLayout(directionRow);
    left->addStretch(1);
    layout->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    next_ = new QPushButton("&Find Next", this);
    next_->setObjectName("findNext");
    next_->setDefault(true);
    next_->setEnabled(false);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("findCancel");
    right->addWidget(next_);
    right->addWidget(cancel);
    right->addStretch(1);
    layout->addLayout(right);

    connect(text_, &QLineEdit::textChanged, this,
            [this](const QString& text) { next_->setEnabled(!text.isEmpty()); });
    connect(next_, &QPushButton::clicked, this, [this] { findNext(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(text_, up_);
    setTabOrder(up_, down_);
    setTabOrder(down_, next_);
    setTabOrder(next_, cancel);
}

bool FindDialog::searchesDown() const {
    return down_->isChecked();
}

void FindDialog::setSearchesDown(bool down) {
    (down ? down_ : up_)->setChecked(true);
}

bool FindDialog::findNext() {
    const QString text = text_->text();
    if (text.isEmpty()) return false;
    if (search_ && search_(text, searchesDown())) return true;
    ui::userInterface().messageBox(kEditorTitle, profiles::notFoundText(text.toStdString()),
                                   ui::Icon::Warning, ui::Buttons::Ok, {});
    return false;
}

void spreadColumns(QTreeWidget* list, std::vector<int> shares) {
    new ColumnSpreader(list, std::move(shares));
}

QIcon profileIcon() {
    static const QIcon icon = drawnIcon([](QPainter& painter) {
        // A card with a figure and the lines of its entries.
        painter.setPen(QPen(QColor(120, 90, 30), 1.5));
        painter.setBrush(QColor(246, 232, 176));
        painter.drawRoundedRect(QRectF(2.5, 5.5, 27, 21), 3, 3);
        paintFigure(painter, 10, 12, 3.2, QColor(58, 110, 165));
        painter.setPen(QPen(QColor(120, 90, 30), 1.6));
        for (qreal y : {11.0, 15.5, 20.0})
            painter.drawLine(QPointF(17, y), QPointF(26, y));
    });
    return icon;
}

QIcon userIcon() {
    static const QIcon icon =
        drawnIcon([](QPainter& painter) { paintFigure(painter, 16, 9, 6, QColor(58, 110, 165)); });
    return icon;
}

QIcon groupIcon() {
    static const QIcon icon = drawnIcon([](QPainter& painter) {
        paintFigure(painter, 21, 7.5, 4.8, QColor(120, 160, 205));
        paintFigure(painter, 12, 11, 5.2, QColor(58, 110, 165));
    });
    return icon;
}

void FindDialog::present() {
    show();
    raise();
    activateWindow();
    text_->setFocus();
    text_->selectAll();
}

}  // namespace ombrix::prfed
