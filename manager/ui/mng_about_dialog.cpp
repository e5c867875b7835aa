#include "manager/ui/mng_about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "manager/about_list.h"

namespace ombrix::mng {

MngAboutDialog::MngAboutDialog(const std::string& systemFolder, const std::string& version,
                               QWidget* parent)
    : QDialog(parent) {
    setObjectName("aboutDialog");
    setWindowTitle("About Ombrix TS v5 - CD Management");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QString("<b>Ombrix TS v5 - CD Management</b><br>Version %1")
                                 .arg(QString::fromStdString(version)));
    layout->addWidget(title);
    auto* files = new QTreeWidget;
    files->setObjectName("installedFiles");
    files->setAccessibleName("Installed programs and libraries");
    files->setRootIsDecorated(false);
    files->setHeaderLabels({"File", "Version", "Kind"});
    files->setColumnWidth(0, 240);
    for (const InstalledFile& f : installedFiles(systemFolder, version)) {
        files->addTopLevelItem(
            new QTreeWidgetItem({QString::fromStdString(f.name), QString::fromStdString(f.version),
                                 QString::fromStdString(f.kind)}));
    }
    layout->addWidget(files);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(460, 420);
}

}  // namespace ombrix::mng
