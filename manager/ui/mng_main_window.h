#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "manager/access_state.h"
#include "manager/command_ids.h"
#include "manager/command_table.h"
#include "manager/image_contents.h"
#include "manager/image_operations.h"
#include "manager/mng_document.h"

class QAction;
class QMenu;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QSplitter;
class QStackedWidget;
class QTextBrowser;
class QToolBar;

// The management program's main window: the tree of drives and image folders on the left, the
// list of the selected folder's images on the right, the selected image's contents below it.
// Commands come from the command table without the ones the user may not use.
namespace ombrix::mng {

// Where the window keeps its place, sizes and choices between runs (the user's settings).
struct PositionStore {
    std::function<std::optional<std::string>(std::string_view name)> get;
    std::function<void(std::string_view name, const std::string& value)> set;
};

// What the user has selected, and where: the tree's item, the list's rows, the contents pane's
// file. Commands act on it.
struct Selection {
    // Where the command came from: the tree, the list, or the contents pane.
    enum class View { Tree, List, Contents } view = View::List;
    ItemKind treeKind = ItemKind::ImageRoot;
    std::string folder;    // the tree's folder, or the folder the list shows
    char driveLetter = 0;  // a virtual or physical drive item
    std::vector<TreeItem> rows;
    bool haveFile = false;
    size_t track = 0;
    uint32_t node = 0;
};

class MngMainWindow : public QMainWindow {
  public:
    // What the window's commands do; `command` gets every command not handled here.
    struct Handlers {
        std::function<void()> refresh;
        std::function<void(int command)> command;
        // The images the list now shows, so their files are checked first.
        std::function<void(std::vector<int> indexes)> rowsShown;
        // The program's log: a line at a detail level.
        std::function<void(int level, const std::string& line)> log;
        // Entries or files dropped onto a tree item or the list (`target` says which).
        std::function<void(const Selection& target, const std::vector<TreeItem>& items,
                           const std::vector<std::string>& files, bool copy)>
            drop;
        // A folder's name was edited in the tree.
        std::function<void(const std::string& folder, const std::string& name)> rename;
        // An image row was double-clicked.
        std::function<void(int index)> activate;
    };

    MngMainWindow(const MngDocument& document, std::vector<int> disabled,
                  std::vector<int> shownColumns, Handlers handlers);

    // Builds tree and list again from the document, keeping the selected folder when it is
    // still there.
    void showDocument();
    // The menus and toolbar again, without the commands now disabled.
    void setDisabledCommands(std::vector<int> disabled);

    QTreeWidget* tree() const { return tree_; }
    QTreeWidget* list() const { return list_; }
    QTreeWidget* contents() const { return contents_; }
    // The image the contents pane shows, once its folders are listed; null otherwise.
    const contents::ImageContents* shownContents() const;
    // The action of a command, or null when it is not offered.
    QAction* action(int command) const;
    // The context menu of a kind of item as this user sees it; null when nothing is left of it.
    std::unique_ptr<QMenu> contextMenuFor(ItemKind kind);
    ItemKind itemKindOf(const QTreeWidgetItem* item) const;

    // Selects the tree item of a folder path; false when there is none.
    bool selectFolder(const QString& folderPath);
    Selection selection() const;
    // Selects a folder and opens its name for editing.
    void editFolderName(const std::string& folder);
    // Selects an image's row in the list.
    bool selectImage(int index);

    // The home page in place of the list ("omxmain.htm" of `folder`, else its "noload.htm"), or
    // the list back. Selecting a tree item brings the list back too.
    void showHomePage(const QString& folder);
    void showList();
    bool homePageShown() const;
    class QTextBrowser* homePage() const {
        return browser_;
    }

    // Shows an image's rows as reachable or not (greyed, with a tip saying why).
    void setAvailable(int index, bool available);
    bool isAvailable(int index) const;

    // Shows the separated view's menu item checked or not (the view itself is the document's).
    void setSeparatedChecked(bool on);
    // The image list's columns from now on (the rows are filled again by the next refresh).
    void setColumns(std::vector<int> shownColumns);
    const std::vector<int>& columns() const { return columns_; }

    // The window's place, pane sizes, list sort and widths and the selected tree item.
    void restorePlacement(const PositionStore& store);
    void savePlacement(const PositionStore& store) const;

  private:
    void buildMenus();
    void fillTree();
    void fillList();
    void fillContents();
    void showContentsWhenWalked();
    Selection targetOf(const QTreeWidgetItem* item) const;
    void showContextMenu(QTreeWidget* view, const QPoint& at);
    void run(int command);
    void setViewMode(int mode);
    void updateChecks();

    void showColumns();

    const MngDocument& document_;
    std::vector<int> disabled_;
    std::vector<int> columns_;
    Handlers handlers_;
    QTreeWidget* tree_ = nullptr;
    QTreeWidget* list_ = nullptr;
    std::string listFolder_;  // the folder whose entries the list shows
    // The view whose context menu is open, so its commands act on that view's selection.
    QTreeWidget* menuView_ = nullptr;
    bool filling_ = false;
    QTreeWidget* contents_ = nullptr;
    // The selected image is read by the reader's own threads; the window looks in on them.
    std::unique_ptr<contents::ImageContents> reader_;
    QTimer* readerPoll_ = nullptr;
    bool readerShown_ = false;
    QToolBar* toolbar_ = nullptr;
    QSplitter* panes_ = nullptr;
    QSplitter* right_ = nullptr;
    QStackedWidget* rightStack_ = nullptr;
    QWidget* homePane_ = nullptr;
    QTextBrowser* browser_ = nullptr;
    QString homeFile_;
    std::map<int, QAction*> actions_;
    int viewMode_ = command::kDetails;
    bool separated_ = false;
    std::set<int> unavailable_;                    // images whose files could not be reached
    std::multimap<int, QTreeWidgetItem*> rowsOf_;  // the list's rows by image
};

}  // namespace ombrix::mng
