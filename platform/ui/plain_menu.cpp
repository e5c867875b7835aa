#include "platform/ui/plain_menu.h"

#include <QAction>
#include <QMenu>

namespace ombrix::ui {

void addMenuEntries(QMenu* menu, const std::vector<menus::MenuEntry>& entries,
                    const std::function<void(QAction* action, int command)>& added) {
    using Kind = menus::MenuEntry::Kind;
    for (const menus::MenuEntry& entry : entries) {
        switch (entry.kind) {
            case Kind::Separator: menu->addSeparator(); break;
            case Kind::Submenu: {
                QMenu* sub = menu->addMenu(QString::fromStdString(entry.text));
                addMenuEntries(sub, entry.entries, added);
                sub->menuAction()->setEnabled(entry.enabled);
                break;
            }
            case Kind::Command: {
                QAction* action = menu->addAction(QString::fromStdString(entry.text));
                action->setObjectName(QStringLiteral("command%1").arg(entry.command));
                action->setData(entry.command);
                if (entry.checked) {
                    action->setCheckable(true);
                    action->setChecked(true);
                }
                action->setEnabled(entry.enabled);
                if (entry.isDefault) menu->setDefaultAction(action);
                if (added) added(action, entry.command);
                break;
            }
        }
    }
}

}  // namespace ombrix::ui
