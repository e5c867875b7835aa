#include "admin/ui/pool_dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "admin/ui/admin_texts.h"
#include "platform/ui/dialog_buttons.h"
#include "platform/ui/user_interface.h"

namespace ombrix::admin {
namespace {

void tell(const std::string& text) {
    ui::userInterface().messageBox(kAdminTitle, text, ui::Icon::Warning, ui::Buttons::Ok, {});
}

// A folder as the pool files name it: without a closing slash.
std::string plainFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// The name of a pool whose file names none: its folder's last part.
std::string nameOrFolder(const std::string& name, const std::string& folder) {
    if (!name.empty()) return name;
    const std::string last = std::filesystem::path(folder).filename().string();
    return last.empty() ? folder : last;
}

}  // namespace

// ---- Name of Server Pool ----------------------------------------------------------------------

PoolNameDialog::PoolNameDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("poolNameDialog");
    setWindowTitle("Name of Server Pool");

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    field_ = new QLineEdit(this);
    field_->setObjectName("poolName");
    field_->setMaxLength(255);
    auto* label = new QLabel(withMnemonic(adminQText(text::kPoolName)), this);
    label->setBuddy(field_);
    form->addRow(label, field_);
    layout->addLayout(form);

    QDialogButtonBox* buttons = ui::okCancelButtons(this);
    ok_ = ui::okButton(buttons);
    ok_->setEnabled(false);
    layout->addWidget(buttons);
    connect(field_, &QLineEdit::textChanged, this, [this] { ok_->setEnabled(!name().empty()); });
    resize(360, sizeHint().height());
}

std::unique_ptr<PoolNameDialog> PoolNameDialog::make(QWidget* parent) {
    return std::make_unique<PoolNameDialog>(parent);
}

std::optional<std::string> PoolNameDialog::ask(QWidget* parent) {
    auto dialog = make(parent);
    if (dialog->exec() != QDialog::Accepted || dialog->name().empty()) return std::nullopt;
    return dialog->name();
}

std::string PoolNameDialog::name() const {
    return field_->text().trimmed().toStdString();
}

// ---- Server Pool ------------------------------------------------------------------------------

PoolDialog::PoolDialog(QWidget* parent, const KnownPool& pool, std::vector<PoolRow> rows,
                       PoolSetter::Ports ports)
    : QDialog(parent), folder_(pool.folder), rows_(std::move(rows)), ports_(std::move(ports)) {
    setObjectName("poolDialog");
    setWindowTitle("Server Pool");
    if (!ports_.tell) ports_.tell = [](const std::string& text) { ombrix::admin::tell(text); };
    if (!ports_.ask) {
        ports_.ask = [](const std::string& question) {
            return ui::userInterface().messageBox(kAdminTitle, question, ui::Icon::Question,
                                                  ui::Buttons::YesNo, {}) == ui::Answer::Yes;
        };
    }

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* name = new QLabel(QString::fromStdString(pool.name), this);
    name->setObjectName("poolName");
    auto* path = new QLabel(QString::fromStdString(pool.folder), this);
    path->setObjectName("poolPath");
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(adminQText(text::kPoolName) + ":", name);
    form->addRow(adminQText(text::kPath) + ":", path);
    layout->addLayout(form);

    list_ = new QTreeWidget(this);
    list_->setObjectName("servers");
    list_->setAccessibleName("Servers of the pool");
    list_->setHeaderLabels({adminQText(text::kServerInPool)});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(list_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    set_ = new QPushButton("&Set ", this);
    set_->setObjectName("set");
    set_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("cancel");
    buttons->addWidget(set_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(set_, &QPushButton::clicked, this, [this] { set(); });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    fill(rows_);
    list_->setCurrentItem(list_->topLevelItem(0));
    resize(420, 400);
}

PoolDialog::~PoolDialog() {
    if (!thread_.joinable()) return;
    // The setter may still ask its questions; they are answered here until it has ended.
    closing_ = true;
    while (!finished_.load())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    thread_.join();
}

std::unique_ptr<PoolDialog> PoolDialog::make(QWidget* parent, const KnownPool& pool,
                                             std::vector<PoolRow> rows, PoolSetter::Ports ports) {
    return std::make_unique<PoolDialog>(parent, pool, std::move(rows), std::move(ports));
}

void PoolDialog::fill(const std::vector<PoolRow>& rows) {
    const int current = std::max(list_->indexOfTopLevelItem(list_->currentItem()), 0);
    list_->clear();
    const QIcon computer = style()->standardIcon(QStyle::SP_ComputerIcon);
    for (const PoolRow& row : rows) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(row.server));
        item->setIcon(0, computer);
        item->setToolTip(0, QString("Port %1").arg(row.port));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
    }
    list_->setCurrentItem(list_->topLevelItem(current));
}

std::vector<PoolRow> PoolDialog::rows() const {
    std::vector<PoolRow> out = rows_;
    for (int i = 0; i < list_->topLevelItemCount() && i < static_cast<int>(out.size()); ++i) {
        out[static_cast<size_t>(i)].checked = list_->topLevelItem(i)->checkState(0) == Qt::Checked;
    }
    return out;
}

void PoolDialog::onWindowThread(const std::function<void()>& work) {
    QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
}

void PoolDialog::set() {
    if (thread_.joinable()) return;
    for (QWidget* w : std::initializer_list<QWidget*>{set_, cancel_, list_})
        w->setEnabled(false);
    setCursor(Qt::BusyCursor);
    PoolSetter::Ports ports = ports_;
    ports.tell = [this](const std::string& text) {
        onWindowThread([this, &text] { ports_.tell(text); });
    };
    ports.ask = [this](const std::string& question) {
        bool yes = false;
        onWindowThread([this, &question, &yes] { yes = ports_.ask(question); });
        return yes;
    };
    finished_ = false;
    std::vector<PoolRow> marks = rows();
    thread_ = std::thread([this, ports = std::move(ports), marks = std::move(marks),
                           folder = folder_]() mutable {
        PoolSetter setter(std::move(ports));
        const bool ok = setter.apply(folder, marks);
        QMetaObject::invokeMethod(
            this, [this, marks = std::move(marks), ok]() mutable { applied(std::move(marks), ok); },
            Qt::QueuedConnection);
        finished_ = true;
    });
}

void PoolDialog::applied(std::vector<PoolRow> rows, bool ok) {
    if (closing_) return;
    if (thread_.joinable()) thread_.join();
    for (QWidget* w : std::initializer_list<QWidget*>{set_, cancel_, list_})
        w->setEnabled(true);
    unsetCursor();
    rows_ = std::move(rows);
    result_ = ok;
    if (ok) {
        accept();
    } else {
        fill(rows_);
    }
}

void PoolDialog::reject() {
    if (applying()) return;
    QDialog::reject();
}

void PoolDialog::closeEvent(QCloseEvent* event) {
    if (applying()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// ---- Server Pool Management -------------------------------------------------------------------

PoolManagementDialog::PoolManagementDialog(QWidget* parent, PoolBackend backend)
    : QDialog(parent), backend_(std::move(backend)) {
    setObjectName("poolManagement");
    setWindowTitle("Server Pool Management");
    if (backend_.load) pools_ = backend_.load();

    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("pools");
    list_->setAccessibleName("Server pools");
    list_->setHeaderLabels({adminQText(text::kPoolName), adminQText(text::kPath)});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 180);
    layout->addWidget(list_, 1);

    auto* buttons = new QHBoxLayout;
    auto button = [this, buttons](int id, const char* name) {
        auto* b = new QPushButton(withMnemonic(adminQText(id)), this);
        b->setObjectName(name);
        buttons->addWidget(b);
        return b;
    };
    add_ = button(text::kAdd, "add");
    edit_ = button(text::kEdit, "edit");
    delete_ = button(text::kDelete, "delete");
    search_ = button(text::kSearchOnDisk, "search");
    buttons->addStretch(1);
    close_ = new QPushButton("&Close", this);
    close_->setObjectName("close");
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    connect(add_, &QPushButton::clicked, this, [this] { add(); });
    connect(edit_, &QPushButton::clicked, this, [this] { edit(); });
    connect(delete_, &QPushButton::clicked, this, [this] { remove(); });
    connect(search_, &QPushButton::clicked, this, [this] { search(); });
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { edit(); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { updateButtons(); });

    fill(0);
    resize(620, 360);
}

std::unique_ptr<PoolManagementDialog> PoolManagementDialog::make(QWidget* parent,
                                                                 PoolBackend backend) {
    return std::make_unique<PoolManagementDialog>(parent, std::move(backend));
}

void PoolManagementDialog::run(QWidget* parent, PoolBackend backend) {
    make(parent, std::move(backend))->exec();
}

void PoolManagementDialog::fill(int current) {
    list_->clear();
    const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);
    for (const KnownPool& pool : pools_) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(pool.name));
        item->setText(1, QString::fromStdString(pool.folder));
        item->setIcon(0, folder);
    }
    if (current >= 0 && current < list_->topLevelItemCount())
        list_->setCurrentItem(list_->topLevelItem(current));
    updateButtons();
}

int PoolManagementDialog::selected() const {
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    return row >= 0 && row < static_cast<int>(pools_.size()) ? row : -1;
}

void PoolManagementDialog::updateButtons() {
    const bool one = selected() >= 0;
    edit_->setEnabled(one);
    delete_->setEnabled(one);
}

std::optional<std::string> PoolManagementDialog::chooseFolder() {
    const QString title = adminQText(text::kChoosePoolPath);
    std::optional<std::string> folder;
    if (backend_.chooseFolder) {
        folder = backend_.chooseFolder(this, title);
    } else {
        const QString chosen = QFileDialog::getExistingDirectory(this, title);
        if (!chosen.isEmpty()) folder = chosen.toStdString();
    }
    if (!folder || folder->empty()) return std::nullopt;
    return plainFolder(*folder);
}

void PoolManagementDialog::remember(const KnownPool& pool) {
    auto same = std::find_if(pools_.begin(), pools_.end(),
                             [&](const KnownPool& p) { return p.folder == pool.folder; });
    if (same != pools_.end()) {
        *same = pool;
    } else {
        same = pools_.insert(pools_.end(), pool);
    }
    if (backend_.save) backend_.save(pools_);
    fill(static_cast<int>(same - pools_.begin()));
}

void PoolManagementDialog::add() {
    const std::optional<std::string> folder = chooseFolder();
    if (!folder) return;
    if (std::optional<std::string> problem = poolFolderProblem(*folder, true)) {
        tell(*problem);
        return;
    }
    const std::optional<std::string> name =
        backend_.askName ? backend_.askName(this) : PoolNameDialog::ask(this);
    if (!name || name->empty()) return;
    if (!setPoolName(*folder, *name)) {
        tell(adminText(text::kCannotCreatePool));
        return;
    }
    const KnownPool pool{*name, *folder};
    remember(pool);
    // A new pool has no servers yet: choosing them comes next.
    openPool(pool);
}

void PoolManagementDialog::search() {
    const std::optional<std::string> folder = chooseFolder();
    if (!folder) return;
    if (std::optional<std::string> problem = poolFolderProblem(*folder, false)) {
        tell(*problem);
        return;
    }
    remember({nameOrFolder(poolName(*folder), *folder), *folder});
}

void PoolManagementDialog::edit() {
    const int row = selected();
    if (row >= 0) openPool(pools_[static_cast<size_t>(row)]);
}

void PoolManagementDialog::remove() {
    const int row = selected();
    if (row < 0) return;
    const KnownPool pool = pools_[static_cast<size_t>(row)];
    std::error_code ec;
    // A pool whose file is gone is only forgotten; any other is deleted only when empty.
    const bool gone = !std::filesystem::exists(std::filesystem::path(pool.folder) / kPoolFile, ec);
    if (!gone) {
        std::string message;
        if (!deletePool(pool.folder, message)) {
            tell(message);
            return;
        }
    }
    pools_.erase(pools_.begin() + row);
    if (backend_.save) backend_.save(pools_);
    fill(std::min(row, static_cast<int>(pools_.size()) - 1));
}

std::unique_ptr<PoolDialog> PoolManagementDialog::makePoolDialog(const KnownPool& pool) {
    std::string error;
    std::optional<std::vector<PoolRow>> rows = readPool(
        pool.folder, backend_.servers ? backend_.servers() : std::vector<ServerEntry>{}, error);
    if (!rows) {
        tell(error);
        return nullptr;
    }
    return PoolDialog::make(this, pool, std::move(*rows), backend_.setter);
}

void PoolManagementDialog::openPool(const KnownPool& pool) {
    std::unique_ptr<PoolDialog> dialog = makePoolDialog(pool);
    if (!dialog) return;
    if (backend_.runPool) {
        backend_.runPool(*dialog);
    } else {
        dialog->exec();
    }
}

}  // namespace ombrix::admin
