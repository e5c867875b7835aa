#pragma once

#include <QDialog>
#include <string>

// The about box: the program's name and version, and the installed programs and libraries.
namespace ombrix::mng {

class MngAboutDialog : public QDialog {
  public:
    MngAboutDialog(const std::string& systemFolder, const std::string& version,
                   QWidget* parent = nullptr);
};

}  // namespace ombrix::mng
