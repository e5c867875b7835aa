#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace ombrix::admin {

// One image of the catalogue as the chooser lists it.
struct ImageChoice {
    std::string description;
    std::string path;

    friend bool operator==(const ImageChoice&, const ImageChoice&) = default;
};

// "Select Ombrix": the catalogue's images with their description and file. OK takes the chosen
// row (a double click too); without a chosen row OK is not offered.
class ImageSelectDialog : public QDialog {
  public:
    ImageSelectDialog(QWidget* parent, const std::vector<ImageChoice>& images);

    // Built but not shown, so a test can choose a row and press OK itself.
    static std::unique_ptr<ImageSelectDialog> make(QWidget* parent,
                                                   const std::vector<ImageChoice>& images);
    // Runs the dialog modally: the chosen image's file, nothing when it was cancelled.
    static std::optional<std::string> choose(QWidget* parent,
                                             const std::vector<ImageChoice>& images);

    // The chosen row's file, "" with none.
    std::string path() const;
    QTreeWidget* list() const { return list_; }
    QPushButton* okButton() const { return ok_; }

  private:
    QTreeWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace ombrix::admin
