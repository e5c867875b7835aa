#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QLineEdit;
class QTreeWidget;

namespace ombrix::prfed {

// One image the chooser offers.
struct ImageEntry {
    std::string description;
    std::string path;

    friend bool operator==(const ImageEntry&, const ImageEntry&) = default;
};

// The image path of a published catalogue entry: the text before its first "|".
std::string imagePathOfEntry(std::string_view entry);
// The file name of an image without its folder and extension, for images without a description
// ("/srv/img/Atlas 2026.om4" → "Atlas 2026"); either slash separates folders.
std::string fileTitle(std::string_view path);

// "Select a Ombrix": the images given, with description and path, and an edit field for the
// chosen path. Choosing a row copies its path into the field; OK takes the field as it stands,
// so a path can also be typed.
class ImageChooser : public QDialog {
  public:
    ImageChooser(QWidget* parent, const std::vector<ImageEntry>& images,
                 const std::string& current);

    // Built but not shown; the field starts with `current`.
    static std::unique_ptr<ImageChooser> make(QWidget* parent,
                                              const std::vector<ImageEntry>& images,
                                              const std::string& current);
    // Runs the chooser modally: the path accepted, nothing when it was cancelled.
    static std::optional<std::string> choose(QWidget* parent, const std::vector<ImageEntry>& images,
                                             const std::string& current);

    std::string path() const;

    QTreeWidget* list() const { return list_; }
    QLineEdit* pathField() const { return path_; }

  private:
    QTreeWidget* list_ = nullptr;
    QLineEdit* path_ = nullptr;
};

}  // namespace ombrix::prfed
