#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "admin/admin_model.h"
#include "admin/server_pools.h"

class QCloseEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace ombrix::admin {

// A pool the program knows: its name as shown and its folder.
struct KnownPool {
    std::string name;
    std::string folder;

    friend bool operator==(const KnownPool&, const KnownPool&) = default;
};

class PoolDialog;

// What the pool dialogs need from the program. The setter's ports other than tell and ask run
// on a thread of their own and may wait on the network; tell and ask are brought back to the
// window thread (empty: message boxes).
struct PoolBackend {
    // The pools known, and keeping them after a change.
    std::function<std::vector<KnownPool>()> load;
    std::function<void(const std::vector<KnownPool>&)> save;
    // The servers of the network, offered as rows of a pool they are not in.
    std::function<std::vector<ServerEntry>()> servers;
    PoolSetter::Ports setter;
    // A folder chosen by the user, titled `title`; nothing when cancelled. Empty: the system's
    // folder chooser.
    std::function<std::optional<std::string>(QWidget* parent, const QString& title)> chooseFolder;
    // A new pool's name; nothing when cancelled. Empty: "Name of Server Pool".
    std::function<std::optional<std::string>(QWidget* parent)> askName;
    // Runs a pool's dialog. Empty: modally.
    std::function<void(PoolDialog& dialog)> runPool;
};

// "Name of Server Pool": the one field "Pool name"; OK only with a name.
class PoolNameDialog : public QDialog {
  public:
    explicit PoolNameDialog(QWidget* parent);
    static std::unique_ptr<PoolNameDialog> make(QWidget* parent);
    // Runs it modally: the name without surrounding blanks, nothing when cancelled.
    static std::optional<std::string> ask(QWidget* parent);

    std::string name() const;
    QLineEdit* field() const { return field_; }
    QPushButton* okButton() const { return ok_; }

  private:
    QLineEdit* field_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// "Server Pool": the servers of one pool checked, the other known servers unchecked. "&Set "
// applies the check marks (PoolSetter) off the window thread; the dialog stays until that has
// ended, then closes when every change went through or shows what the file now holds.
class PoolDialog : public QDialog {
  public:
    PoolDialog(QWidget* parent, const KnownPool& pool, std::vector<PoolRow> rows,
               PoolSetter::Ports ports);
    // Waits for a running Set, still answering its questions.
    ~PoolDialog() override;

    static std::unique_ptr<PoolDialog> make(QWidget* parent, const KnownPool& pool,
                                            std::vector<PoolRow> rows, PoolSetter::Ports ports);

    // The rows with the check marks as they stand.
    std::vector<PoolRow> rows() const;
    // "&Set ": starts applying the check marks.
    void set();
    bool applying() const { return thread_.joinable(); }
    // The result of the last Set: true when every change went through; nothing before one.
    std::optional<bool> lastResult() const { return result_; }

    QTreeWidget* list() const { return list_; }
    QPushButton* setButton() const { return set_; }
    QPushButton* cancelButton() const { return cancel_; }

    // Closing waits while a Set runs.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void fill(const std::vector<PoolRow>& rows);
    void applied(std::vector<PoolRow> rows, bool ok);
    // Runs `work` on the window thread and returns when it has run.
    void onWindowThread(const std::function<void()>& work);

    std::string folder_;
    std::vector<PoolRow> rows_;  // as the file holds them, with the check marks last applied
    PoolSetter::Ports ports_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    bool closing_ = false;
    std::optional<bool> result_;
    QTreeWidget* list_ = nullptr;
    QPushButton* set_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// "Server Pool Management": the pools known with their names and folders. Add makes a new pool
// in a folder without one, Search on disk takes up a folder that has one, Edit opens a pool's
// servers, Delete deletes an empty pool's file.
class PoolManagementDialog : public QDialog {
  public:
    PoolManagementDialog(QWidget* parent, PoolBackend backend);

    static std::unique_ptr<PoolManagementDialog> make(QWidget* parent, PoolBackend backend);
    static void run(QWidget* parent, PoolBackend backend);

    void add();
    void search();
    void edit();
    void remove();

    // A pool's dialog, built but not shown; null when its file cannot be read (told).
    std::unique_ptr<PoolDialog> makePoolDialog(const KnownPool& pool);

    const std::vector<KnownPool>& pools() const { return pools_; }
    QTreeWidget* list() const { return list_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* editButton() const { return edit_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* searchButton() const { return search_; }

  private:
    std::optional<std::string> chooseFolder();
    void remember(const KnownPool& pool);
    void openPool(const KnownPool& pool);
    void fill(int current);
    int selected() const;
    void updateButtons();

    PoolBackend backend_;
    std::vector<KnownPool> pools_;
    QTreeWidget* list_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace ombrix::admin
