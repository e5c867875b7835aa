#include "manager/ui/mng_main_window.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QIcon>
#include <QKeySequence>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "manager/command_ids.h"
#include "manager/command_table.h"
#include "manager/contents_texts.h"
#include "manager/image_contents.h"
#include "manager/ui/drop_view.h"

namespace ombrix::mng {
namespace {

// What a tree item stands for, kept in its data.
enum ItemRole {
    kKindRole = Qt::UserRole,
    kPathRole,
    kLetterRole,
    kImageRole,
    kTrackRole,
    kNodeRole
};
enum TreeKind { kDriveGroup = 1, kDrive, kCdGroup, kCdDrive, kImageRoot, kFolder };

// The style's icons, made once: making one decodes its pictures, which for thousands of rows
// would cost more than the rows themselves.
QIcon standardIcon(QStyle::StandardPixmap which) {
    static std::map<QStyle::StandardPixmap, QIcon> made;
    auto [it, added] = made.try_emplace(which);
    if (added) it->second = QApplication::style()->standardIcon(which);
    return it->second;
}

// An empty drive: the drive's picture, faded.
QIcon emptyDriveIcon() {
    static const QIcon faded = [] {
        const QIcon drive = standardIcon(QStyle::SP_DriveCDIcon);
        QIcon icon;
        for (int size : {16, 24, 32})
            icon.addPixmap(drive.pixmap(size, QIcon::Disabled));
        return icon;
    }();
    return faded;
}

// The toolbar's pictures, where the style has a fitting one.
QIcon commandIcon(int id) {
    switch (id) {
        case command::kInsert: return standardIcon(QStyle::SP_MediaPlay);
        case command::kEject: return standardIcon(QStyle::SP_MediaStop);
        case command::kFind: return standardIcon(QStyle::SP_FileDialogContentsView);
        case command::kAdd: return standardIcon(QStyle::SP_DialogOpenButton);
        case command::kDelete: return standardIcon(QStyle::SP_TrashIcon);
        case command::kNewFolder: return standardIcon(QStyle::SP_FileDialogNewFolder);
        case command::kCreate: return standardIcon(QStyle::SP_FileIcon);
        case command::kProperties: return standardIcon(QStyle::SP_FileDialogInfoView);
        case command::kRefresh: return standardIcon(QStyle::SP_BrowserReload);
        default: return {};
    }
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A list row that sorts by the list's rules (folders first, sizes as numbers, dates by time).
class RowItem : public QTreeWidgetItem {
  public:
    RowItem(ListRow row, const std::vector<int>& columns, int index)
        : row_(std::move(row)), index_(index) {
        for (size_t c = 0; c < columns.size(); ++c) {
            setText(static_cast<int>(c),
                    QString::fromStdString(row_.texts[static_cast<size_t>(columns[c] - 1)]));
            if (imageColumns()[static_cast<size_t>(columns[c] - 1)].rightAligned) {
                setTextAlignment(static_cast<int>(c), Qt::AlignRight | Qt::AlignVCenter);
            }
        }
        columns_ = columns;
        setData(0, kImageRole, index);
        setIcon(0, standardIcon(row_.folder ? QStyle::SP_DirIcon : QStyle::SP_DriveCDIcon));
    }
    int index() const { return index_; }
    bool operator<(const QTreeWidgetItem& other) const override {
        const int shown = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        const int column = columns_[static_cast<size_t>(std::max(shown, 0))];
        // Ascending here: the list turns the order round itself for a descending sort.
        return rowBefore(row_, static_cast<const RowItem&>(other).row_, column);
    }

  private:
    ListRow row_;
    std::vector<int> columns_;
    int index_;
};

// Paints the rows of unreachable images grey and says why when one is pointed at. The look comes
// from the painting, not from the rows' data, so a change neither touches the rows nor sorts the
// list again.
class AvailabilityDelegate : public QStyledItemDelegate {
  public:
    AvailabilityDelegate(const std::set<int>& unavailable, QObject* parent)
        : QStyledItemDelegate(parent), unavailable_(unavailable) {}

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (unreachable(index)) {
            option->palette.setColor(QPalette::Text, QColor(128, 128, 128));
        }
    }
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() == QEvent::ToolTip && unreachable(index)) {
            QToolTip::showText(event->globalPos(), "The image file cannot be reached.", view);
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

  private:
    bool unreachable(const QModelIndex& index) const {
        const int image = index.siblingAtColumn(0).data(kImageRole).toInt();
        return image > 0 && unavailable_.contains(image);
    }
    const std::set<int>& unavailable_;
};

}  // namespace

MngMainWindow::MngMainWindow(const MngDocument& document, std::vector<int> disabled,
                             std::vector<int> shownColumns, Handlers handlers)
    : document_(document),
      disabled_(std::move(disabled)),
      columns_(std::move(shownColumns)),
      handlers_(std::move(handlers)) {
    setObjectName("mainWindow");
    setWindowTitle("Ombrix TS v5 - CD Management");

    auto* tree = new DropView([](const QTreeWidgetItem* item) {
        if (item->data(0, kKindRole).toInt() != kFolder) return TreeItem{};
        return TreeItem{item->data(0, kPathRole).toString().toStdString(), 0};
    });
    tree->setDropHandler([this](QTreeWidgetItem* target, const std::vector<TreeItem>& items,
                                const std::vector<std::string>& files, bool copy) {
        if (handlers_.drop && target != nullptr)
            handlers_.drop(targetOf(target), items, files, copy);
    });
    tree->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    tree_ = tree;
    tree_->setObjectName("tree");
    tree_->setAccessibleName("Drives and image folders");
    tree_->setHeaderHidden(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* list = new DropView([this](const QTreeWidgetItem* item) {
        const int index = item->data(0, kImageRole).toInt();
        if (index > 0) return TreeItem{listFolder_, index};
        return TreeItem{item->data(0, kPathRole).toString().toStdString(), 0};
    });
    list->setDropHandler([this](QTreeWidgetItem* target, const std::vector<TreeItem>& items,
                                const std::vector<std::string>& files, bool copy) {
        if (!handlers_.drop) return;
        // A folder row takes what is dropped on it; elsewhere the list's own folder does.
        Selection where;
        where.treeKind = ItemKind::ImageFolder;
        where.folder = listFolder_;
        const QString sub = target != nullptr ? target->data(0, kPathRole).toString() : QString();
        if (!sub.isEmpty()) where.folder = sub.toStdString();
        if (!where.folder.empty()) handlers_.drop(where, items, files, copy);
    });
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_ = list;
    list_->setObjectName("list");
    list_->setAccessibleName("Images");
    list_->setRootIsDecorated(false);
    list_->setSortingEnabled(true);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setItemDelegate(new AvailabilityDelegate(unavailable_, list_));
    showColumns();
    list_->sortByColumn(0, Qt::AscendingOrder);

    contents_ = new QTreeWidget;
    contents_->setObjectName("contents");
    contents_->setAccessibleName("Contents of the image");
    contents_->setHeaderLabels({"Name", "Size", "Date"});
    contents_->setColumnWidth(0, 300);
    contents_->setColumnWidth(1, 100);
    contents_->setContextMenuPolicy(Qt::CustomContextMenu);

    right_ = new QSplitter(Qt::Vertical);
    right_->addWidget(list_);
    right_->addWidget(contents_);
    right_->setStretchFactor(0, 3);
    right_->setStretchFactor(1, 1);
    // The home page: a local page with its own small tool bar.
    homePane_ = new QWidget;
    homePane_->setObjectName("homePane");
    auto* homeLayout = new QVBoxLayout(homePane_);
    homeLayout->setContentsMargins(0, 0, 0, 0);
    auto* homeBar = new QToolBar;
    homeBar->setObjectName("homeBar");
    browser_ = new QTextBrowser;
    browser_->setObjectName("homePage");
    browser_->setAccessibleName("Home page");
    browser_->setOpenExternalLinks(true);
    homeBar->addAction(standardIcon(QStyle::SP_ArrowBack), "Back", browser_,
                       &QTextBrowser::backward);
    homeBar->addAction(standardIcon(QStyle::SP_ArrowForward), "Forward", browser_,
                       &QTextBrowser::forward);
    // Local pages load at once: there is never anything to stop.
    homeBar->addAction(standardIcon(QStyle::SP_BrowserStop), "Stop")->setEnabled(false);
    homeBar->addAction(standardIcon(QStyle::SP_BrowserReload), "Refresh", browser_,
                       &QTextBrowser::reload);
    homeBar->addAction(standardIcon(QStyle::SP_DirHomeIcon), "Home", browser_,
                       [this] { browser_->setSource(QUrl::fromLocalFile(homeFile_)); });
    homeLayout->addWidget(homeBar);
    homeLayout->addWidget(browser_);
    rightStack_ = new QStackedWidget;
    rightStack_->addWidget(right_);
    rightStack_->addWidget(homePane_);

    panes_ = new QSplitter(Qt::Horizontal);
    panes_->setObjectName("panes");
    panes_->addWidget(tree_);
    panes_->addWidget(rightStack_);
    panes_->setStretchFactor(1, 3);
    setCentralWidget(panes_);
    statusBar()->showMessage("Ready");

    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] {
        showList();
        fillList();
    });
    connect(tree_, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showContextMenu(tree_, at); });
    connect(list_, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showContextMenu(list_, at); });
    connect(contents_, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showContextMenu(contents_, at); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { fillContents(); });
    readerPoll_ = new QTimer(this);
    readerPoll_->setInterval(30);
    connect(readerPoll_, &QTimer::timeout, this, [this] { showContentsWhenWalked(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const QString path = item->data(0, kPathRole).toString();
        if (!path.isEmpty()) {
            selectFolder(path);
        } else if (const int index = item->data(0, kImageRole).toInt();
                   index > 0 && handlers_.activate) {
            handlers_.activate(index);
        }
    });
    connect(tree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
        if (filling_ || item->data(0, kKindRole).toInt() != kFolder || !handlers_.rename) return;
        const std::string path = item->data(0, kPathRole).toString().toStdString();
        const std::string name = item->text(0).toStdString();
        if (name == folderName(path)) return;
        // The rename rebuilds the tree, which must not happen inside its own signal.
        QMetaObject::invokeMethod(
            this, [this, path, name] { handlers_.rename(path, name); }, Qt::QueuedConnection);
    });

    buildMenus();
    showDocument();
    resize(1000, 640);
}

QAction* MngMainWindow::action(int command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

void MngMainWindow::setDisabledCommands(std::vector<int> disabled) {
    disabled_ = std::move(disabled);
    buildMenus();
}

void MngMainWindow::run(int command) {
    using namespace command;
    switch (command) {
        case kExit: close(); return;
        case kRefresh:
            if (handlers_.refresh) handlers_.refresh();
            return;
        case kToolButtons: toolbar_->setVisible(!toolbar_->isVisible()); break;
        case kToolButtonTexts:
            toolbar_->setToolButtonStyle(toolbar_->toolButtonStyle() == Qt::ToolButtonIconOnly
                                             ? Qt::ToolButtonTextUnderIcon
                                             : Qt::ToolButtonIconOnly);
            break;
        case kStatusBar: statusBar()->setVisible(!statusBar()->isVisible()); break;
        case kImageView: rightStack_->setVisible(!rightStack_->isVisible()); break;
        case kLargeSymbols:
        case kSmallSymbols:
        case kList:
        case kDetails: setViewMode(command); break;
        default:
            if (handlers_.command) handlers_.command(command);
            return;
    }
    updateChecks();
}

// Details shows every column; the other modes only the description, with larger or smaller
// symbols.
void MngMainWindow::setViewMode(int mode) {
    viewMode_ = mode;
    for (int c = 1; c < list_->columnCount(); ++c)
        list_->setColumnHidden(c, mode != command::kDetails);
    const int size = mode == command::kLargeSymbols ? 32 : 16;
    list_->setIconSize(QSize(size, size));
    updateChecks();
}

void MngMainWindow::updateChecks() {
    using namespace command;
    const std::pair<int, bool> states[] = {
        {kToolButtons, toolbar_->isVisibleTo(this)},
        {kToolButtonTexts, toolbar_->toolButtonStyle() != Qt::ToolButtonIconOnly},
        {kStatusBar, statusBar()->isVisibleTo(this)},
        {kImageView, rightStack_->isVisibleTo(this)},
        {kLargeSymbols, viewMode_ == kLargeSymbols},
        {kSmallSymbols, viewMode_ == kSmallSymbols},
        {kList, viewMode_ == kList},
        {kDetails, viewMode_ == kDetails},
        {kSeparatedView, separated_},
    };
    for (auto [id, on] : states) {
        if (QAction* a = action(id)) {
            a->setCheckable(true);
            a->setChecked(on);
        }
    }
}

void MngMainWindow::showColumns() {
    QStringList titles;
    for (int c : columns_)
        titles << text(imageColumns()[static_cast<size_t>(c - 1)].title);
    // The rows go with the old columns; so do the pointers kept to them.
    list_->clear();
    rowsOf_.clear();
    listFolder_.clear();
    list_->setColumnCount(static_cast<int>(columns_.size()));
    list_->setHeaderLabels(titles);
    for (size_t i = 0; i < columns_.size(); ++i) {
        list_->setColumnWidth(static_cast<int>(i),
                              imageColumns()[static_cast<size_t>(columns_[i] - 1)].defaultWidth);
    }
}

void MngMainWindow::setColumns(std::vector<int> shownColumns) {
    if (shownColumns == columns_) return;
    columns_ = std::move(shownColumns);
    showColumns();
}

void MngMainWindow::setSeparatedChecked(bool on) {
    separated_ = on;
    updateChecks();
}

void MngMainWindow::buildMenus() {
    menuBar()->clear();
    for (auto& [id, action] : actions_)
        action->deleteLater();
    actions_.clear();
    if (toolbar_ == nullptr) {
        toolbar_ = addToolBar("Tool buttons");
        toolbar_->setObjectName("toolbar");
        toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    }
    toolbar_->clear();

    for (const CommandText& c : commandTexts()) {
        if (std::find(disabled_.begin(), disabled_.end(), c.id) != disabled_.end()) continue;
        const QString full = text(c.menuText);
        const qsizetype tab = full.indexOf('\t');
        auto* action = new QAction(tab < 0 ? full : full.left(tab), this);
        action->setObjectName(QString("command%1").arg(c.id));
        if (tab >= 0) action->setShortcut(QKeySequence(full.mid(tab + 1)));
        action->setStatusTip(text(c.prompt));
        action->setIcon(commandIcon(c.id));
        connect(action, &QAction::triggered, this, [this, id = c.id] { run(id); });
        addAction(action);  // shortcuts work without the menu open
        actions_[c.id] = action;
        if (c.onToolbar) toolbar_->addAction(action);
    }
    for (const MenuModel& model : mainMenu()) {
        const MenuModel shown = withoutDisabled(model, disabled_);
        if (shown.items.empty()) continue;
        QMenu* menu = menuBar()->addMenu(text(shown.title));
        for (int id : shown.items) {
            if (id == 0) {
                menu->addSeparator();
            } else if (QAction* a = action(id)) {
                menu->addAction(a);
            }
        }
    }
    updateChecks();
}

void MngMainWindow::showContextMenu(QTreeWidget* view, const QPoint& at) {
    ItemKind kind = ItemKind::Contents;
    if (view == list_) {
        kind = ItemKind::ImageList;
    } else if (view == tree_) {
        QTreeWidgetItem* item = tree_->itemAt(at);
        if (item == nullptr) return;
        kind = itemKindOf(item);
    }
    if (view == tree_) tree_->setCurrentItem(tree_->itemAt(at));
    std::unique_ptr<QMenu> menu = contextMenuFor(kind);
    if (!menu) return;
    menuView_ = view;
    menu->exec(view->viewport()->mapToGlobal(at));
    menuView_ = nullptr;
}

ItemKind MngMainWindow::itemKindOf(const QTreeWidgetItem* item) const {
    switch (item->data(0, kKindRole).toInt()) {
        case kDriveGroup: return ItemKind::VirtualDriveGroup;
        case kDrive: return ItemKind::VirtualDrive;
        case kCdGroup: return ItemKind::PhysicalDriveGroup;
        case kCdDrive: return ItemKind::PhysicalDrive;
        case kImageRoot: return ItemKind::ImageRoot;
        default: return ItemKind::ImageFolder;
    }
}

std::unique_ptr<QMenu> MngMainWindow::contextMenuFor(ItemKind kind) {
    const MenuModel shown = withoutDisabled(contextMenu(kind), disabled_);
    if (shown.items.empty()) return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName("contextMenu");
    for (int id : shown.items) {
        if (id == 0) {
            menu->addSeparator();
        } else if (QAction* a = action(id)) {
            menu->addAction(a);
        }
    }
    return menu;
}

void MngMainWindow::fillTree() {
    const QSignalBlocker quiet(tree_);
    filling_ = true;
    tree_->clear();
    auto* drives = new QTreeWidgetItem(tree_, {"Ombrix Drives"});
    drives->setData(0, kKindRole, kDriveGroup);
    drives->setIcon(0, standardIcon(QStyle::SP_ComputerIcon));
    for (const VirtualDrive& d : document_.drives()) {
        QString label = QString("%1:").arg(QChar(d.letter));
        if (const CatalogueImage* held = document_.image(d.index)) {
            label += "  " + QString::fromStdString(held->description);
        } else if (!d.imagePath.empty()) {
            label += "  " + QString::fromStdString(d.imagePath);
        }
        auto* item = new QTreeWidgetItem(drives, {label});
        item->setData(0, kKindRole, kDrive);
        item->setData(0, kLetterRole, QChar(d.letter));
        const bool empty = d.imagePath.empty() && document_.image(d.index) == nullptr;
        item->setIcon(0, empty ? emptyDriveIcon() : standardIcon(QStyle::SP_DriveCDIcon));
        if (handlers_.log) {
            const std::string letter = std::string(1, d.letter) + ":";
            handlers_.log(1, empty ? "..SetVirtDriveEmpty " + letter + " (empty Icon: 1)"
                                   : "..SetVirtDriveInUse " + letter + " (Icon: 2)");
        }
        item->setToolTip(0, empty ? QString("%1: is empty").arg(QChar(d.letter))
                                  : QString("%1: holds %2")
                                        .arg(QChar(d.letter))
                                        .arg(QString::fromStdString(d.imagePath)));
    }
    auto* cds = new QTreeWidgetItem(tree_, {"CD Drives"});
    cds->setData(0, kKindRole, kCdGroup);
    cds->setIcon(0, standardIcon(QStyle::SP_DriveCDIcon));
    for (const char letter : document_.physicalDrives()) {
        auto* item = new QTreeWidgetItem(cds, {QString("%1:").arg(QChar(letter))});
        item->setData(0, kKindRole, kCdDrive);
        item->setData(0, kLetterRole, QChar(letter));
        item->setIcon(0, standardIcon(QStyle::SP_DriveCDIcon));
    }
    cds->setExpanded(true);

    const std::vector<std::string> roots = document_.roots();
    for (const std::string& root : roots) {
        const QString name =
            roots.size() == 1 ? QString("Ombrixs") : QString::fromStdString(folderName(root));
        auto* top = new QTreeWidgetItem(tree_, {name});
        top->setData(0, kKindRole, kImageRoot);
        top->setData(0, kPathRole, QString::fromStdString(root));
        top->setIcon(0, standardIcon(QStyle::SP_DirHomeIcon));
        std::vector<std::pair<QTreeWidgetItem*, std::string>> pending{{top, root}};
        while (!pending.empty()) {
            auto [parent, path] = pending.back();
            pending.pop_back();
            for (const std::string& sub : document_.subfolders(path)) {
                auto* item = new QTreeWidgetItem(parent, {QString::fromStdString(folderName(sub))});
                item->setData(0, kKindRole, kFolder);
                item->setData(0, kPathRole, QString::fromStdString(sub));
                item->setIcon(0, standardIcon(QStyle::SP_DirIcon));
                item->setFlags(item->flags() | Qt::ItemIsEditable);
                pending.emplace_back(item, sub);
            }
        }
        top->setExpanded(true);
    }
    drives->setExpanded(true);
    filling_ = false;
}

bool MngMainWindow::selectFolder(const QString& folderPath) {
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        if ((*it)->data(0, kPathRole).toString().compare(folderPath, Qt::CaseInsensitive) == 0) {
            tree_->setCurrentItem(*it);
            return true;
        }
    }
    return false;
}

void MngMainWindow::fillList() {
    list_->setSortingEnabled(false);
    rowsOf_.clear();
    list_->clear();
    listFolder_.clear();
    QTreeWidgetItem* current = tree_->currentItem();
    if (current != nullptr) {
        const int kind = current->data(0, kKindRole).toInt();
        const std::string path = current->data(0, kPathRole).toString().toStdString();
        if (kind == kImageRoot || kind == kFolder) {
            listFolder_ = path;
            for (const std::string& sub : document_.subfolders(path)) {
                auto* item = new RowItem(MngDocument::folderRow(sub), columns_, 0);
                item->setData(0, kPathRole, QString::fromStdString(sub));
                list_->addTopLevelItem(item);
            }
            for (int index : document_.imagesIn(path)) {
                if (const CatalogueImage* image = document_.image(index)) {
                    list_->addTopLevelItem(
                        new RowItem(document_.imageRow(*image), columns_, index));
                }
            }
        } else if (kind == kDrive) {
            const char letter = current->data(0, kLetterRole).toChar().toLatin1();
            for (const VirtualDrive& d : document_.drives()) {
                const CatalogueImage* image = document_.image(d.index);
                if (d.letter == letter && image != nullptr) {
                    list_->addTopLevelItem(
                        new RowItem(document_.imageRow(*image), columns_, d.index));
                }
            }
        }
    }
    list_->setSortingEnabled(true);
    std::vector<int> shown;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        auto* row = static_cast<RowItem*>(list_->topLevelItem(i));
        if (row->index() <= 0) continue;
        shown.push_back(row->index());
        rowsOf_.emplace(row->index(), row);
        if (handlers_.log) {
            char line[600];
            std::snprintf(line, sizeof line, "ListView addRow %3d: %s (%d)\n", i,
                          row->text(0).toStdString().c_str(), row->index());
            handlers_.log(2, line);
        }
    }
    if (handlers_.rowsShown && !shown.empty()) handlers_.rowsShown(std::move(shown));
}

void MngMainWindow::showHomePage(const QString& folder) {
    const QString main = folder + "/omxmain.htm";
    homeFile_ = QFileInfo::exists(main) ? main : folder + "/noload.htm";
    browser_->setSource(QUrl::fromLocalFile(homeFile_));
    rightStack_->setCurrentWidget(homePane_);
}

void MngMainWindow::showList() {
    rightStack_->setCurrentWidget(right_);
}

bool MngMainWindow::homePageShown() const {
    return rightStack_->currentWidget() == homePane_;
}

void MngMainWindow::setAvailable(int index, bool available) {
    const bool was = !unavailable_.contains(index);
    if (was == available) return;
    if (available) {
        unavailable_.erase(index);
    } else {
        unavailable_.insert(index);
    }
    if (rowsOf_.contains(index)) list_->viewport()->update();
}

bool MngMainWindow::isAvailable(int index) const {
    return !unavailable_.contains(index);
}

namespace {

std::optional<int> number(const PositionStore& store, std::string_view name) {
    const std::optional<std::string> text = store.get ? store.get(name) : std::nullopt;
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(text->c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return static_cast<int>(value);
}

std::string columnWidthName(int column) {
    return "ImagesListViewColumn" + std::to_string(column) + "Width";
}

}  // namespace

void MngMainWindow::restorePlacement(const PositionStore& store) {
    const auto top = number(store, "WindowPosTop"), left = number(store, "WindowPosLeft");
    const auto right = number(store, "WindowPosRight"), bottom = number(store, "WindowPosBottom");
    if (top && left && right && bottom && *right - *left >= 200 && *bottom - *top >= 150) {
        setGeometry(*left, *top, *right - *left, *bottom - *top);
    }
    if (auto width = number(store, "DrivesCDsTreeViewWidth"); width && *width > 0) {
        const int total = panes_->width();
        panes_->setSizes({*width, std::max(total - *width, 1)});
    }
    if (auto high = number(store, "ImagesListViewHigh"); high && *high > 0) {
        const int total = right_->height();
        right_->setSizes({*high, std::max(total - *high, 1)});
    }
    if (auto shown = number(store, "ContentViewShow")) contents_->setVisible(*shown != 0);
    if (auto texts = number(store, "ToolBarTexte"); texts && *texts == 0) {
        toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (auto width = number(store, columnWidthName(columns_[i])); width && *width > 0) {
            list_->setColumnWidth(static_cast<int>(i), *width);
        }
    }
    if (auto key = number(store, "ImagesListViewSortedBy"); key && *key != 0) {
        auto shownAt = std::find(columns_.begin(), columns_.end(), std::abs(*key));
        if (shownAt != columns_.end()) {
            list_->sortByColumn(static_cast<int>(shownAt - columns_.begin()),
                                *key < 0 ? Qt::DescendingOrder : Qt::AscendingOrder);
        }
    }
    if (auto mode = number(store, "ImagesListViewDisplayType");
        mode && *mode >= command::kSmallSymbols && *mode <= command::kDetails) {
        setViewMode(*mode);
    }
    if (auto last = store.get ? store.get("LastTVItem") : std::nullopt; last && !last->empty()) {
        selectFolder(QString::fromStdString(*last));
    }
}

void MngMainWindow::savePlacement(const PositionStore& store) const {
    if (!store.set) return;
    const QRect place = geometry();
    store.set("WindowPosTop", std::to_string(place.top()));
    store.set("WindowPosLeft", std::to_string(place.left()));
    store.set("WindowPosRight", std::to_string(place.left() + place.width()));
    store.set("WindowPosBottom", std::to_string(place.top() + place.height()));
    store.set("DrivesCDsTreeViewWidth", std::to_string(panes_->sizes().value(0)));
    store.set("ImagesListViewHigh", std::to_string(right_->sizes().value(0)));
    store.set("ContentViewShow", contents_->isVisibleTo(this) ? "1" : "0");
    store.set("ToolBarTexte", toolbar_->toolButtonStyle() == Qt::ToolButtonIconOnly ? "0" : "1");
    for (size_t i = 0; i < columns_.size(); ++i) {
        store.set(columnWidthName(columns_[i]),
                  std::to_string(list_->columnWidth(static_cast<int>(i))));
    }
    const int sorted = columns_[static_cast<size_t>(std::max(list_->sortColumn(), 0))];
    store.set("ImagesListViewSortedBy",
              std::to_string(
                  list_->header()->sortIndicatorOrder() == Qt::DescendingOrder ? -sorted : sorted));
    store.set("ImagesListViewDisplayType", std::to_string(viewMode_));
    if (const QTreeWidgetItem* current = tree_->currentItem()) {
        store.set("LastTVItem", current->data(0, kPathRole).toString().toStdString());
    }
}

namespace {

void addNodes(QTreeWidgetItem* parent, const contents::FileSystem& files, uint32_t folder,
              size_t track, char decimalSeparator) {
    for (uint32_t child : files.nodes[folder].children) {
        const contents::Node& node = files.nodes[child];
        auto* item = new QTreeWidgetItem(parent);
        item->setData(0, kTrackRole, static_cast<qulonglong>(track));
        item->setData(0, kNodeRole, child);
        item->setText(0, QString::fromStdString(node.name));
        item->setIcon(0, standardIcon(node.directory ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
        if (!node.directory) {
            item->setText(1, QString::fromStdString(sizeText(node.size, decimalSeparator)));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
        item->setText(2, QString::fromStdString(dateText(node.modified)));
        if (node.directory) addNodes(item, files, child, track, decimalSeparator);
    }
}

}  // namespace

void MngMainWindow::fillContents() {
    readerPoll_->stop();
    reader_.reset();
    readerShown_ = false;
    contents_->clear();
    auto* row = dynamic_cast<RowItem*>(list_->currentItem());
    const CatalogueImage* image = row != nullptr ? document_.image(row->index()) : nullptr;
    if (image == nullptr) return;
    reader_ = std::make_unique<contents::ImageContents>();
    if (reader_->open(image->path) != 0) {
        reader_.reset();
        new QTreeWidgetItem(contents_, {"(the image cannot be read)"});
        return;
    }
    new QTreeWidgetItem(contents_, {"Reading the image..."});
    showContentsWhenWalked();
    if (!readerShown_) readerPoll_->start();
}

void MngMainWindow::showContentsWhenWalked() {
    if (!reader_) return;
    for (const auto& track : reader_->tracks()) {
        if (track->data && !track->walked.load()) return;
    }
    readerPoll_->stop();
    readerShown_ = true;
    contents_->clear();
    const char separator = QLocale().decimalPoint().at(0).toLatin1();
    const bool oneTrack = reader_->tracks().size() == 1;
    for (const auto& track : reader_->tracks()) {
        const QString name = QString("Track %1").arg(track->index + 1, 2, 10, QChar('0'));
        if (!track->data) {
            auto* item = new QTreeWidgetItem(contents_, {name});
            item->setIcon(0, standardIcon(QStyle::SP_MediaVolume));
            item->setText(1, QString::fromStdString(
                                 playingTime(track->record.endSector - track->record.firstSector)));
            continue;
        }
        if (track->files.nodes.empty()) continue;
        if (oneTrack) {
            addNodes(contents_->invisibleRootItem(), track->files, 0, track->index, separator);
        } else {
            auto* item = new QTreeWidgetItem(contents_, {name});
            item->setIcon(0, standardIcon(QStyle::SP_DriveCDIcon));
            addNodes(item, track->files, 0, track->index, separator);
        }
    }
}

const contents::ImageContents* MngMainWindow::shownContents() const {
    return readerShown_ ? reader_.get() : nullptr;
}

Selection MngMainWindow::targetOf(const QTreeWidgetItem* item) const {
    Selection s;
    s.view = Selection::View::Tree;
    if (item == nullptr) return s;
    s.treeKind = itemKindOf(item);
    s.folder = item->data(0, kPathRole).toString().toStdString();
    s.driveLetter = static_cast<char>(item->data(0, kLetterRole).toChar().toLatin1());
    return s;
}

Selection MngMainWindow::selection() const {
    Selection s = targetOf(tree_->currentItem());
    const QWidget* focus = menuView_ != nullptr ? menuView_ : QApplication::focusWidget();
    s.view = focus == tree_       ? Selection::View::Tree
             : focus == contents_ ? Selection::View::Contents
                                  : Selection::View::List;
    if (s.treeKind != ItemKind::ImageRoot && s.treeKind != ItemKind::ImageFolder) {
        s.folder = listFolder_;
    }
    for (const QTreeWidgetItem* row : list_->selectedItems()) {
        const int index = row->data(0, kImageRole).toInt();
        if (index > 0) {
            s.rows.push_back({listFolder_, index});
        } else if (const QString sub = row->data(0, kPathRole).toString(); !sub.isEmpty()) {
            s.rows.push_back({sub.toStdString(), 0});
        }
    }
    if (const QTreeWidgetItem* file = contents_->currentItem();
        file != nullptr && file->data(0, kNodeRole).isValid() && shownContents() != nullptr) {
        s.haveFile = true;
        s.track = static_cast<size_t>(file->data(0, kTrackRole).toULongLong());
        s.node = file->data(0, kNodeRole).toUInt();
    }
    return s;
}

void MngMainWindow::editFolderName(const std::string& folder) {
    if (!selectFolder(QString::fromStdString(folder))) return;
    tree_->setFocus();
    tree_->editItem(tree_->currentItem(), 0);
}

bool MngMainWindow::selectImage(int index) {
    auto it = rowsOf_.find(index);
    if (it == rowsOf_.end()) return false;
    list_->setCurrentItem(it->second);
    return true;
}

void MngMainWindow::showDocument() {
    const QTreeWidgetItem* current = tree_->currentItem();
    const QString selected =
        current != nullptr ? current->data(0, kPathRole).toString() : QString();
    const int kind = current != nullptr ? current->data(0, kKindRole).toInt() : 0;
    const QChar letter = current != nullptr ? current->data(0, kLetterRole).toChar() : QChar();
    std::vector<int> rows;
    for (const QTreeWidgetItem* row : list_->selectedItems())
        rows.push_back(row->data(0, kImageRole).toInt());
    const int currentRow =
        list_->currentItem() != nullptr ? list_->currentItem()->data(0, kImageRole).toInt() : 0;

    fillTree();
    // Selecting the item again fills the list: a drive by its letter, a folder by its path.
    bool found = false;
    if (kind == kDrive || kind == kCdDrive) {
        for (QTreeWidgetItemIterator it(tree_); *it != nullptr && !found; ++it) {
            if ((*it)->data(0, kKindRole).toInt() == kind &&
                (*it)->data(0, kLetterRole).toChar() == letter) {
                tree_->setCurrentItem(*it);
                found = true;
            }
        }
    }
    found = found || (!selected.isEmpty() && selectFolder(selected)) ||
            selectFolder(QString::fromStdString(document_.roots().front()));
    if (!found) fillList();
    // The rows that were selected stay selected when they are still shown.
    if (currentRow > 0) selectImage(currentRow);
    for (int index : rows) {
        auto [first, last] = rowsOf_.equal_range(index);
        for (auto it = first; it != last; ++it)
            it->second->setSelected(true);
    }
}

}  // namespace ombrix::mng
