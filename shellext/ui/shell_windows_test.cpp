#include "shellext/ui/shell_windows.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "support/screenshots.h"

namespace {

using namespace ombrix::shellext;
namespace menus = ombrix::menus;
using ombrix::test::screenshotFolder;

// ---- Disc icons ---------------------------------------------------------------------------------

bool anyPixelShows(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0) return true;
    return false;
}

TEST(DiscIconTest, EachIndexAlwaysDrawsItsOwnIcon) {
    std::vector<QImage> icons;
    for (int index = 0; index < kIconCount; ++index) {
        icons.push_back(discIcon(index, 48));
        EXPECT_EQ(discIcon(index, 48), icons.back()) << "icon " << index;
    }
    for (int a = 0; a < kIconCount; ++a)
        for (int b = a + 1; b < kIconCount; ++b)
            EXPECT_NE(icons[a], icons[b]) << "icons " << a << " and " << b;
}

TEST(DiscIconTest, DrawnAtTheAskedSizeWithTransparentCornersAndHole) {
    for (int size : {16, 48, 256}) {
        for (int index = 0; index < kIconCount; ++index) {
            const QImage icon = discIcon(index, size);
            SCOPED_TRACE(testing::Message() << "icon " << index << " at " << size);
            EXPECT_EQ(icon.size(), QSize(size, size));
            EXPECT_TRUE(icon.hasAlphaChannel());
            EXPECT_TRUE(anyPixelShows(icon));
            EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
            EXPECT_EQ(qAlpha(icon.pixel(0, size - 1)), 0);
            if (size == 256) {
                EXPECT_EQ(qAlpha(icon.pixel(128, 128)), 0) << "the hole";
            }
        }
    }
}

TEST(DiscIconTest, AnIndexOutsideTheSetsGetsTheUnknownDisc) {
    const QImage unknown = discIcon(16, 48);
    EXPECT_EQ(discIcon(-1, 48), unknown);
    EXPECT_EQ(discIcon(kIconCount, 48), unknown);
    EXPECT_EQ(discIcon(1000, 48), unknown);
}

TEST(DiscIconTest, ScreenshotOfBothSets) {
    constexpr int kSize = 48;
    constexpr int kGap = 6;
    constexpr int kPerRow = kIconCount / 2;
    QImage sheet(kGap + kPerRow * (kSize + kGap), kGap + 2 * (kSize + kGap), QImage::Format_ARGB32);
    sheet.fill(QColor(240, 240, 240));
    {
        QPainter painter(&sheet);
        for (int index = 0; index < kIconCount; ++index) {
            const int column = index % kPerRow;
            const int row = index / kPerRow;
            painter.drawImage(kGap + column * (kSize + kGap), kGap + row * (kSize + kGap),
                              discIcon(index, kSize));
        }
    }
    EXPECT_TRUE(sheet.save(QString::fromStdString(screenshotFolder() + "/shellext_icons.png")));
}

// ---- The property dialog ------------------------------------------------------------------------

std::string numbered(int id) {
    return "#" + std::to_string(id);
}

ImageProperties chessImage() {
    ImageProperties properties;
    properties.path = "/srv/ombrix/images/chess & co.om4";
    properties.description = "Chess Masters";
    properties.imageSize = "612 MB";
    properties.cdSize = "650 MB";
    properties.tracks = "3";
    properties.comment = "Tournament edition\nwith the opening book";
    return properties;
}

QString labelOf(QWidget* dialog, QWidget* field) {
    auto* form = dialog->findChild<QFormLayout*>();
    if (!form) return {};
    auto* label = qobject_cast<QLabel*>(form->labelForField(field));
    return label ? label->text() : QString();
}

TEST(PropertyDialogTest, ShowsEachValueReadOnlyUnderItsLabelAndCloses) {
    std::unique_ptr<QWidget> dialog = makePropertyDialog(chessImage(), numbered);
    EXPECT_EQ(dialog->windowTitle(), "#107");

    const std::vector<std::tuple<const char*, QString, QString>> fields{
        {"path", "File:", "/srv/ombrix/images/chess & co.om4"},
        {"description", "Description:", "Chess Masters"},
        {"imageSize", "Image size:", "612 MB"},
        {"cdSize", "CD size:", "650 MB"},
        {"tracks", "Tracks:", "3"},
    };
    for (const auto& [name, label, value] : fields) {
        SCOPED_TRACE(name);
        auto* field = dialog->findChild<QLineEdit*>(name);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(), value);
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_EQ(labelOf(dialog.get(), field), label);
    }
    auto* comment = dialog->findChild<QPlainTextEdit*>("comment");
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->toPlainText(), "Tournament edition\nwith the opening book");
    EXPECT_TRUE(comment->isReadOnly());
    EXPECT_EQ(labelOf(dialog.get(), comment), "Comment:");

    dialog->show();
    EXPECT_GE(dialog->width(), 400);
    EXPECT_TRUE(dialog->grab().save(
        QString::fromStdString(screenshotFolder() + "/shellext_properties.png")));

    auto* close = dialog->findChild<QPushButton*>("close");
    ASSERT_NE(close, nullptr);
    close->click();
    EXPECT_FALSE(dialog->isVisible());
}

// ---- The popup menu -----------------------------------------------------------------------------

// "Manage" (the default), a separator, a sub-menu of drives with F: checked, a disabled
// sub-menu and a disabled command.
std::vector<menus::MenuEntry> imageFileMenu() {
    menus::MenuEntry manage = menus::commandEntry("&Manage...", kManageCommand);
    manage.isDefault = true;
    menus::MenuEntry drives =
        menus::submenu("Insert into", {menus::commandEntry("E:", kInsertCommandBase),
                                       menus::commandEntry("F:", kInsertCommandBase + 1, true)});
    menus::MenuEntry none = menus::submenu("Shared", {menus::commandEntry("G:", 7)});
    none.enabled = false;
    return {manage, menus::separator(), drives, none, menus::disabledEntry("No drive")};
}

QAction* actionCalled(const QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text() == text) return action;
    return nullptr;
}

// Runs `step` on the menu once it is open. Should the step leave the menu open, it is closed a
// little later, so a failing test fails instead of waiting for ever.
class WhileOpen {
  public:
    explicit WhileOpen(std::function<void(QMenu*)> step) {
        QTimer::singleShot(20, &context_, [step] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) step(menu);
        });
        QTimer::singleShot(3000, &context_, [] {
            while (QWidget* popup = QApplication::activePopupWidget())
                popup->close();
        });
    }

  private:
    QObject context_;  // its end cancels the timers left
};

TEST(PopupMenuTest, ACommandChosenInASubmenuIsReturned) {
    WhileOpen choose([](QMenu* menu) {
        QAction* insert = actionCalled(menu, "Insert into");
        if (!insert || !insert->menu()) return;
        menu->setActiveAction(insert);
        QMenu* drives = insert->menu();
        drives->setActiveAction(actionCalled(drives, "F:"));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(drives, &enter);
    });
    EXPECT_EQ(popupMenu(imageFileMenu(), {30, 30}), kInsertCommandBase + 1);
}

TEST(PopupMenuTest, ClosedWithoutAChoiceGivesNothingAndTheEntriesKeepTheirState) {
    QString defaultText;
    std::vector<bool> separators;
    bool sharedEnabled = true;
    bool noDriveEnabled = true;
    bool eCheckable = true;
    bool fChecked = false;
    WhileOpen look([&](QMenu* menu) {
        if (menu->defaultAction()) defaultText = menu->defaultAction()->text();
        for (QAction* action : menu->actions())
            separators.push_back(action->isSeparator());
        if (QAction* shared = actionCalled(menu, "Shared")) sharedEnabled = shared->isEnabled();
        if (QAction* noDrive = actionCalled(menu, "No drive"))
            noDriveEnabled = noDrive->isEnabled();
        if (QAction* insert = actionCalled(menu, "Insert into"); insert && insert->menu()) {
            if (QAction* e = actionCalled(insert->menu(), "E:")) eCheckable = e->isCheckable();
            if (QAction* f = actionCalled(insert->menu(), "F:"))
                fChecked = f->isCheckable() && f->isChecked();
        }
        menu->close();
    });
    EXPECT_EQ(popupMenu(imageFileMenu(), {30, 30}), std::nullopt);

    EXPECT_EQ(defaultText, "&Manage...");
    EXPECT_EQ(separators, (std::vector<bool>{false, true, false, false, false}));
    EXPECT_FALSE(sharedEnabled);
    EXPECT_FALSE(noDriveEnabled);
    EXPECT_FALSE(eCheckable);
    EXPECT_TRUE(fChecked);
}

}  // namespace
