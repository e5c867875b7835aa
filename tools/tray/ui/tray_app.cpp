#include "tools/tray/ui/tray_app.h"

#include "common/text_format.h"
#include "platform/ui/plain_menu.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>
#include <utility>

namespace ombrix::tray {
namespace {

QString qText(const std::string& text) {
    return QString::fromStdString(text);
}

// Puts `value` in place of the first "%s" of a text. The texts are translated, so they are never
// handed to printf: a stray conversion in a translation would read past the arguments.
const TrayTool* findTool(const TrayState& state, int command) {
    for (const TrayTool& tool : state.tools) {
        if (tool.command == command) return &tool;
    }
    return nullptr;
}

}  // namespace

TrayApp::TrayApp(TrayPorts ports, QObject* parent) : QObject(parent), ports_(std::move(ports)) {
    icon_ = std::make_unique<QSystemTrayIcon>(
        QApplication::style()->standardIcon(QStyle::SP_DriveCDIcon));
    icon_->setToolTip(qText(ports_.text(traytext::kTooltip)));
    // The menu is opened here rather than given to the icon, so that each opening shows the
    // drives and images as they are now.
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                    case QSystemTrayIcon::DoubleClick: startManagement(); break;
                    case QSystemTrayIcon::Context: popupMenu(QCursor::pos()); break;
                    default: break;
                }
            });
}

TrayApp::~TrayApp() = default;

void TrayApp::show() {
    icon_->show();
}

std::unique_ptr<QMenu> TrayApp::buildMenu() {
    shown_ = ports_.state();
    auto menu = std::make_unique<QMenu>();
    menu->setObjectName("trayMenu");
    // A command runs once the menu has closed: its dialogs then open outside the menu's code.
    ui::addMenuEntries(menu.get(), trayMenu(shown_, ports_.text),
                       [this](QAction* action, int command) {
                           QObject::connect(
                               action, &QAction::triggered, this,
                               [this, command] { trigger(command); }, Qt::QueuedConnection);
                       });
    return menu;
}

void TrayApp::popupMenu(const QPoint& at) {
    // The menu open before may be the one whose events led here: it goes once they are done.
    if (open_) {
        QMenu* old = open_.release();
        old->close();
        old->deleteLater();
    }
    open_ = buildMenu();
    open_->popup(at);
    // Opened by the hot key, the menu has to take the keyboard from the window that has it.
    open_->activateWindow();
}

void TrayApp::trigger(int command) {
    if (command == command::kAbout) {
        ports_.about();
        return;
    }
    if (command == command::kExit) {
        QCoreApplication::quit();
        return;
    }
    if (const TrayTool* tool = findTool(shown_, command)) {
        const std::string arguments = command == command::kManagement ? "/start" : "";
        if (!ports_.startTool(*tool, arguments)) {
            ports_.tellError(strings::formatText(
                ports_.text(traytext::kCannotRun),
                arguments.empty() ? tool->program : tool->program + " " + arguments));
        }
        return;
    }
    if (const auto choice = insertChoice(command, shown_.letters, shown_.localIndexHi)) {
        const int result = ports_.insert(choice->letter, choice->index);
        if (result != 0) ports_.reportInsertError(result);
        return;
    }
    if (const char letter = ejectLetter(command, shown_.letters)) {
        ports_.eject(letter);
        return;
    }
    if (const char letter = explorerLetter(command, shown_.letters)) ports_.explore(letter);
}

void TrayApp::startManagement() {
    // The tools as the menu saw them, or as they are now when no menu was opened yet.
    const TrayTool* tool = findTool(shown_, command::kManagement);
    TrayState now;
    if (!tool) {
        now = ports_.state();
        tool = findTool(now, command::kManagement);
    }
    if (!tool) return;
    if (!ports_.startTool(*tool, "")) {
        ports_.tellError(strings::formatText(ports_.text(traytext::kCannotRun), tool->program));
    }
}

}  // namespace ombrix::tray
