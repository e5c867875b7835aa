#include "tools/ui/settings_sheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QImageReader>
#include <QKeySequence>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <array>

#include "platform/ui/dialog_buttons.h"
#include "tools/settings/hot_key.h"

namespace ombrix::tools {
namespace {

constexpr int kColumnListWidth = 145;

// The view options' texts, in the order of COmxMNGSettings::Option.
constexpr std::array<const char*, COmxMNGSettings::kOptionCount> kOptionTexts = {
    "&Tree view with enhanced functions (otherwise the classic list of drives)",
    "&Large symbols in the drive view",
    "&Animation when inserting or ejecting",
    "Only &product symbols in the image view",
    "&Double-click on an image inserts it into the default drive",
    "Do not show images whose files are &missing",
    "An image may stand in only &one category folder",
};

QString qtText(const std::string& text) {
    return QString::fromStdString(text);
}

template <typename Widget>
Widget* named(Widget* widget, const QString& objectName, const QString& accessibleName) {
    widget->setObjectName(objectName);
    widget->setAccessibleName(accessibleName);
    return widget;
}

QCheckBox* checkBox(const QString& text, const QString& objectName, bool checked, QWidget* parent) {
    auto* box = named(new QCheckBox(text, parent), objectName, QString(text).remove('&'));
    box->setChecked(checked);
    return box;
}

QRadioButton* radioButton(const QString& text, const QString& objectName, bool checked,
                          QWidget* parent) {
    auto* button = named(new QRadioButton(text, parent), objectName, QString(text).remove('&'));
    button->setChecked(checked);
    return button;
}

// The edit's form of a stored hot key: one key combination, or none when the stored key has no
// Qt counterpart.
QKeySequence sequenceOf(const COmxSettings& general) {
    const QtHotKey key = toQt({general.trayKeyModifier, general.trayKeyVirtualKey});
    if (key.key == 0) return {};
    return QKeySequence(
        QKeyCombination(Qt::KeyboardModifiers::fromInt(key.modifiers), Qt::Key(key.key)));
}

// Only the first combination counts: the tray grabs a single key.
QKeySequence firstCombination(const QKeySequence& sequence) {
    if (sequence.isEmpty()) return {};
    return QKeySequence(sequence[0]);
}

QtHotKey hotKeyOf(const QKeySequence& sequence) {
    if (sequence.isEmpty()) return {};
    const QKeyCombination combination = sequence[0];
    return {static_cast<int>(combination.key()),
            static_cast<uint32_t>(combination.keyboardModifiers().toInt())};
}

// Takes `value` into `field`; true when that changed it.
template <typename T>
bool assign(T& field, const T& value) {
    if (field == value) return false;
    field = value;
    return true;
}

int selectedNumber(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : selected.front()->data(Qt::UserRole).toInt();
}

void fillColumnList(QListWidget* list, const std::vector<int>& numbers, int select) {
    list->clear();
    for (const int number : numbers) {
        auto* item = new QListWidgetItem(qtText(columnName(number)), list);
        item->setData(Qt::UserRole, number);
        if (number == select) list->setCurrentItem(item);
    }
}

}  // namespace

struct SettingsSheet::Controls {
    std::function<bool(ChangeNotice)> notice;

    // "Global Settings"
    QComboBox* language = nullptr;
    QRadioButton* styleClassic = nullptr;
    QRadioButton* styleNewer = nullptr;
    QCheckBox* tooltips = nullptr;
    QCheckBox* trayIcon = nullptr;
    QCheckBox* cdDatabase = nullptr;
    QKeySequenceEdit* hotKey = nullptr;
    QPushButton* clearHotKey = nullptr;
    QKeySequence hotKeyShown;  // as the page opened, to leave an untouched key as stored
    QRadioButton* listByCategory = nullptr;
    QRadioButton* listOverview = nullptr;

    // "CD Management"; null when the page is not shown.
    std::array<QCheckBox*, COmxMNGSettings::kOptionCount> options{};
    QListWidget* shownColumns = nullptr;
    QListWidget* hiddenColumns = nullptr;
    QPushButton* removeColumn = nullptr;
    QPushButton* addColumn = nullptr;
    ColumnLists lists;
    ColumnLists listsRead;  // as the page opened, to leave an untouched order as stored

    bool ask(ChangeNotice what) const {
        if (what == ChangeNotice::None || !notice) return true;
        return notice(what);
    }

    // The user turned a view option on or off: tell what it brings; a question answered "no"
    // takes the change back (setChecked does not click, so nothing is asked again).
    void optionClicked(int option, bool on) {
        const ChangeNotice what = noticeForOption(static_cast<COmxMNGSettings::Option>(option), on);
        const bool yes = ask(what);
        if (what == ChangeNotice::OneCategoryQuestion && !yes) options[option]->setChecked(!on);
    }

    void moveColumn(bool toHidden) {
        const int number = selectedNumber(toHidden ? shownColumns : hiddenColumns);
        if (number < 0) return;
        if (toHidden) {
            tools::removeColumn(lists, number);
        } else {
            tools::addColumn(lists, number);
        }
        fillColumns(toHidden ? -1 : number, toHidden ? number : -1);
        (toHidden ? hiddenColumns : shownColumns)->setFocus();
    }

    void fillColumns(int selectShown, int selectHidden) {
        fillColumnList(shownColumns, lists.shown, selectShown);
        fillColumnList(hiddenColumns, lists.hidden, selectHidden);
        updateColumnButtons();
    }

    void updateColumnButtons() {
        removeColumn->setEnabled(!shownColumns->selectedItems().isEmpty() &&
                                 lists.shown.size() > 1);
        addColumn->setEnabled(!hiddenColumns->selectedItems().isEmpty());
    }
};

SettingsSheet::SettingsSheet(COmxSettings& general, COmxMNGSettings& view, Setup setup,
                             QWidget* parent)
    : QDialog(parent),
      general_(general),
      view_(view),
      setup_(std::move(setup)),
      controls_(std::make_shared<Controls>()) {
    setObjectName("settingsSheet");
    setWindowTitle(setup_.title);
    const std::function<std::string(int)> text =
        setup_.text ? setup_.text : std::function<std::string(int)>(settingsBuiltInText);
    // The slots hold the controls too: they may still be called while the widgets go.
    const std::shared_ptr<Controls> c = controls_;
    c->notice = setup_.notice;

    auto* layout = new QVBoxLayout(this);
    pages_ = named(new QTabWidget(this), "pages", "Settings pages");
    layout->addWidget(pages_);

    // ---- Global Settings ----
    auto* global = named(new QWidget(pages_), "globalPage", "Global Settings");
    auto* globalLayout = new QVBoxLayout(global);

    auto* languageGroup = new QGroupBox("Language", global);
    auto* languageLayout = new QHBoxLayout(languageGroup);
    c->language = named(new QComboBox(languageGroup), "language", "Language");
    for (const InstalledLanguage& language : setup_.languages) {
        const QString icon = qtText(language.icon);
        if (!icon.isEmpty() && QImageReader(icon).canRead()) {
            c->language->addItem(QIcon(icon), qtText(language.name), qtText(language.code));
        } else {
            c->language->addItem(qtText(language.name), qtText(language.code));
        }
    }
    // A language that is not installed shows no entry rather than a wrong one.
    c->language->setCurrentIndex(languageIndex(setup_.languages, general.language));
    c->language->setEnabled(!setup_.languages.empty());
    languageLayout->addWidget(c->language, 1);
    globalLayout->addWidget(languageGroup);

    auto* styleGroup = new QGroupBox("Icon style", global);
    auto* styleLayout = new QVBoxLayout(styleGroup);
    c->styleClassic = radioButton(qtText(text(settext::kStyleClassic)), "styleClassic",
                                  !general.newerIcons, styleGroup);
    c->styleNewer = radioButton(qtText(text(settext::kStyleNewer)), "styleNewer",
                                general.newerIcons, styleGroup);
    styleLayout->addWidget(c->styleClassic);
    styleLayout->addWidget(c->styleNewer);
    globalLayout->addWidget(styleGroup);

    auto* optionsGroup = new QGroupBox("Options", global);
    auto* optionsLayout = new QVBoxLayout(optionsGroup);
    c->tooltips = checkBox("Show &tooltips", "tooltips", general.tooltips, optionsGroup);
    c->trayIcon = checkBox("Show the &icon in the notification area", "trayIcon", general.trayIcon,
                           optionsGroup);
    c->cdDatabase = checkBox("Look up CD information in the CD &database", "cdDatabase",
                             general.cdDatabase, optionsGroup);
    if (!setup_.cdDatabaseShown) {
        c->cdDatabase->setEnabled(false);
        c->cdDatabase->setVisible(false);
    }
    optionsLayout->addWidget(c->tooltips);
    optionsLayout->addWidget(c->trayIcon);
    optionsLayout->addWidget(c->cdDatabase);
    globalLayout->addWidget(optionsGroup);

    auto* hotKeyGroup = new QGroupBox("Hot key for the notification area icon", global);
    auto* hotKeyLayout = new QHBoxLayout(hotKeyGroup);
    c->hotKey = named(new QKeySequenceEdit(hotKeyGroup), "trayHotKey",
                      "Hot key for the notification area icon");
    c->hotKeyShown = sequenceOf(general);
    c->hotKey->setKeySequence(c->hotKeyShown);
    c->clearHotKey = named(new QPushButton("C&lear", hotKeyGroup), "clearHotKey", "Clear hot key");
    hotKeyLayout->addWidget(c->hotKey, 1);
    hotKeyLayout->addWidget(c->clearHotKey);
    globalLayout->addWidget(hotKeyGroup);

    auto* catalogueGroup = new QGroupBox("Catalogue", global);
    auto* catalogueLayout = new QVBoxLayout(catalogueGroup);
    c->listByCategory = radioButton("Sorted by &category", "listByCategory",
                                    !general.catalogueOverview, catalogueGroup);
    c->listOverview = radioButton("All in one o&verview", "listOverview", general.catalogueOverview,
                                  catalogueGroup);
    catalogueLayout->addWidget(c->listByCategory);
    catalogueLayout->addWidget(c->listOverview);
    globalLayout->addWidget(catalogueGroup);
    globalLayout->addStretch(1);
    pages_->addTab(global, "Global Settings");

    // Connected after the preselection: only the user's changes bring the notice.
    connect(c->language, &QComboBox::currentIndexChanged, this, [c](int index) {
        if (index >= 0) c->ask(ChangeNotice::LanguageRestart);
    });
    connect(c->hotKey, &QKeySequenceEdit::editingFinished, this, [c] {
        const QKeySequence recorded = c->hotKey->keySequence();
        if (recorded.count() > 1) c->hotKey->setKeySequence(firstCombination(recorded));
    });
    connect(c->clearHotKey, &QPushButton::clicked, this, [c] { c->hotKey->clear(); });

    // ---- CD Management ----
    if (setup_.managementPage) {
        auto* management = named(new QWidget(pages_), "managementPage", "CD Management");
        auto* managementLayout = new QVBoxLayout(management);

        auto* viewGroup = new QGroupBox("View", management);
        auto* viewLayout = new QVBoxLayout(viewGroup);
        for (int option = 0; option < COmxMNGSettings::kOptionCount; ++option) {
            QCheckBox* box = checkBox(kOptionTexts[option], QString("option%1").arg(option),
                                      view.options[option], viewGroup);
            c->options[option] = box;
            viewLayout->addWidget(box);
            connect(box, &QCheckBox::clicked, this,
                    [c, option](bool on) { c->optionClicked(option, on); });
        }
        managementLayout->addWidget(viewGroup);

        // Hidden on the left, shown on the right, so the buttons' arrows point where the
        // column goes.
        auto* columnsGroup = new QGroupBox("Columns of the image list", management);
        auto* columnsLayout = new QHBoxLayout(columnsGroup);
        const auto columnList = [columnsGroup](const QString& title, const QString& objectName) {
            auto* list = named(new QListWidget(columnsGroup), objectName, title);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            list->setFixedWidth(kColumnListWidth);
            return list;
        };
        const auto labelled = [columnsGroup](const QString& title, QListWidget* list) {
            auto* box = new QVBoxLayout;
            auto* label = new QLabel(title, columnsGroup);
            label->setBuddy(list);
            box->addWidget(label);
            box->addWidget(list, 1);
            return box;
        };
        c->hiddenColumns = columnList("Hidden Columns", "hiddenColumns");
        c->shownColumns = columnList("Shown Columns", "shownColumns");
        c->removeColumn =
            named(new QPushButton("<< Remove", columnsGroup), "removeColumn", "Remove column");
        c->addColumn = named(new QPushButton(">> Add", columnsGroup), "addColumn", "Add column");
        auto* buttons = new QVBoxLayout;
        buttons->addStretch(1);
        buttons->addWidget(c->removeColumn);
        buttons->addWidget(c->addColumn);
        buttons->addStretch(1);
        columnsLayout->addLayout(labelled("Hidden Columns", c->hiddenColumns));
        columnsLayout->addLayout(buttons);
        columnsLayout->addLayout(labelled("Shown Columns", c->shownColumns));
        columnsLayout->addStretch(1);
        managementLayout->addWidget(columnsGroup, 1);

        c->lists = columnListsFrom(view.rowOrder);
        c->listsRead = c->lists;
        c->fillColumns(-1, -1);

        connect(c->removeColumn, &QPushButton::clicked, this, [c] { c->moveColumn(true); });
        connect(c->addColumn, &QPushButton::clicked, this, [c] { c->moveColumn(false); });
        connect(c->shownColumns, &QListWidget::itemDoubleClicked, this,
                [c] { c->moveColumn(true); });
        connect(c->hiddenColumns, &QListWidget::itemDoubleClicked, this,
                [c] { c->moveColumn(false); });
        for (QListWidget* list : {c->shownColumns, c->hiddenColumns}) {
            connect(list, &QListWidget::itemSelectionChanged, this,
                    [c] { c->updateColumnButtons(); });
        }
        pages_->addTab(management, "CD Management");
    }

    if (setup_.firstPage >= 0 && setup_.firstPage < pages_->count())
        pages_->setCurrentIndex(setup_.firstPage);

    layout->addWidget(ui::okCancelButtons(this));
}

int SettingsSheet::pageCount() const {
    return pages_->count();
}

void SettingsSheet::accept() {
    const Controls& c = *controls_;
    // A key the tray cannot take, or should not take from the whole desktop, is refused before
    // anything is taken: the sheet stays open with the user's choices.
    const QKeySequence key = firstCombination(c.hotKey->keySequence());
    const StoredHotKey stored = fromQt(hotKeyOf(key));
    if (key != c.hotKeyShown && !key.isEmpty() && !usableHotKey(stored)) {
        if (setup_.notice) setup_.notice(ChangeNotice::HotKeyRefused);
        pages_->setCurrentIndex(0);
        c.hotKey->setFocus();
        return;
    }

    bool generalChanged = false;
    const int chosen = c.language->currentIndex();
    // The same language in another case is no change: the stored spelling stays.
    if (chosen >= 0 && chosen != languageIndex(setup_.languages, general_.language)) {
        generalChanged |=
            assign(general_.language, c.language->itemData(chosen).toString().toStdString());
    }
    generalChanged |= assign(general_.newerIcons, c.styleNewer->isChecked());
    generalChanged |= assign(general_.tooltips, c.tooltips->isChecked());
    generalChanged |= assign(general_.trayIcon, c.trayIcon->isChecked());
    generalChanged |= assign(general_.cdDatabase, c.cdDatabase->isChecked());
    generalChanged |= assign(general_.catalogueOverview, c.listOverview->isChecked());
    // A key left as it was keeps its stored form, even one the edit could not show.
    if (key != c.hotKeyShown) {
        generalChanged |= assign(general_.trayKeyModifier, stored.modifier);
        generalChanged |= assign(general_.trayKeyVirtualKey, stored.virtualKey);
    }
    if (generalChanged) general_.setDirty(true);

    if (c.shownColumns != nullptr) {
        bool viewChanged = false;
        for (int option = 0; option < COmxMNGSettings::kOptionCount; ++option)
            viewChanged |= assign(view_.options[option], c.options[option]->isChecked());
        // An untouched order keeps its stored text (an empty one stands for every column).
        if (c.lists != c.listsRead)
            viewChanged |= assign(view_.rowOrder, rowOrderOf(c.lists.shown));
        if (viewChanged) view_.setDirty(true);
    }

    QDialog::accept();
}

}  // namespace ombrix::tools
