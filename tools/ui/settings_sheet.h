#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/settings/language_list.h"
#include "tools/settings/omx_settings.h"
#include "tools/settings/settings_program.h"

class QTabWidget;

// The settings program's property sheet: the page "Global Settings" (the preferences of
// COmxSettings) and, when the management program is installed, the page "CD Management" (the
// view options and shown columns of COmxMNGSettings). OK takes the controls' values into the
// objects and marks each object dirty when one of its values changed; the caller saves.
namespace ombrix::tools {

class SettingsSheet : public QDialog {
  public:
    struct Setup {
        QString title;
        bool managementPage = true;   // "CD Management" is shown
        bool cdDatabaseShown = true;  // false: the CD-database option is hidden and disabled
        int firstPage = 0;
        std::vector<InstalledLanguage> languages;
        // Texts by number (the language library's, else the built-in ones).
        std::function<std::string(int id)> text = settingsBuiltInText;
        // Shows the notice of a change; for a question, true means "yes". Null: every notice is
        // answered "yes" without a window.
        std::function<bool(ChangeNotice notice)> notice;
    };

    SettingsSheet(COmxSettings& general, COmxMNGSettings& view, Setup setup,
                  QWidget* parent = nullptr);

    int pageCount() const;
    QTabWidget* pages() const { return pages_; }

    void accept() override;

  private:
    COmxSettings& general_;
    COmxMNGSettings& view_;
    Setup setup_;
    QTabWidget* pages_ = nullptr;
    struct Controls;
    std::shared_ptr<Controls> controls_;
};

}  // namespace ombrix::tools
