#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QWidget;

// What the lists of the profile editor share: the button bar, the find dialog and the search it
// runs, columns that keep their share of the width, and the pictures of the rows.
namespace ombrix::prfed {

// Title of the editor and caption of its message boxes.
inline constexpr const char* kEditorTitle = "Ombrix TS Profile Editor";

// The button bar under every list. Object names are the prefix followed by the command, or the
// bare command without a prefix: "new", "edit", "delete", "find", "up", "down", or, with the
// prefix "users", "usersNew", "usersEdit", … (so the pages of one sheet can be told apart).
struct ListButtons {
    QPushButton* add = nullptr;
    QPushButton* edit = nullptr;
    QPushButton* remove = nullptr;
    QPushButton* find = nullptr;
    QPushButton* up = nullptr;
    QPushButton* down = nullptr;
    QHBoxLayout* layout = nullptr;  // the buttons with a stretch at the end
};
ListButtons makeListButtons(QWidget* owner, const QString& prefix);

// The texts of every row's cells, in row order, as the find compares them.
std::vector<std::vector<std::string>> rowTexts(const QTreeWidget& list);

// Searches the rows after the current one downward, or before it upward, for a cell holding
// `text` (case ignored), without wrapping. A match becomes the only selected row and the current
// one, scrolled into view; false (and the list unchanged) when there is none.
bool findInList(QTreeWidget& list, const QString& text, bool down);

// The find dialog: the text, the direction (down preset) and "Find Next", which runs the search
// given and tells in a message box when nothing was found. It stays open for the next search
// until it is closed.
class FindDialog : public QDialog {
  public:
    using Search = std::function<bool(const QString& text, bool down)>;

    FindDialog(QWidget* parent, Search search);

    QLineEdit* textField() const { return text_; }
    bool searchesDown() const;
    void setSearchesDown(bool down);
    // One search with the dialog's text and direction; the not-found box when nothing matched.
    bool findNext();
    // Shows the dialog in front with its text selected for typing anew.
    void present();

  private:
    Search search_;
    QLineEdit* text_ = nullptr;
    QRadioButton* up_ = nullptr;
    QRadioButton* down_ = nullptr;
    QPushButton* next_ = nullptr;
};

// Keeps the list's columns at the given shares of its width whenever the list is resized
// ({1, 4}: the first column a fifth, the second four fifths).
void spreadColumns(QTreeWidget* list, std::vector<int> shares);

// The rows' pictures, drawn here so they look the same under every style and theme.
QIcon profileIcon();
QIcon userIcon();
QIcon groupIcon();

}  // namespace ombrix::prfed
