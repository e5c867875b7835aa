#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "admin/admin_model.h"

class QCheckBox;
class QPushButton;
class QTreeWidget;

namespace ombrix::admin {

// What "Set drives" asks for: the session's virtual drive letters ("EFG") and whether every
// session is to get them.
struct DrivesChoice {
    std::string letters;
    bool allSessions = false;

    friend bool operator==(const DrivesChoice&, const DrivesChoice&) = default;
};

// "Edit Virtual Drives": the 26 drive letters of one session, each with its "Virtual drive"
// check box and its status ("In use" with what the letter holds, or "Available"). "&Update"
// reads the session again, "Reset" goes back to what was read last, "Set drives" accepts.
class DrivesDialog : public QDialog {
  public:
    using Rows = std::vector<DriveLetterRow>;
    // Reads the session's rows again and hands them to `done` (nothing when they could not be
    // read), at once or later on the window thread.
    using Reader = std::function<void(std::function<void(std::optional<Rows>)> done)>;

    // `session` is the session's text, shown after "Ombrix user:".
    DrivesDialog(QWidget* parent, const QString& session, Rows rows, Reader reader);

    static std::unique_ptr<DrivesDialog> make(QWidget* parent, const QString& session, Rows rows,
                                              Reader reader);
    // Runs it modally: the choice on "Set drives", nothing on Cancel.
    static std::optional<DrivesChoice> edit(QWidget* parent, const QString& session, Rows rows,
                                            Reader reader);

    // The 26 rows with the check marks as they stand now.
    Rows rows() const;
    DrivesChoice choice() const;

    // "&Update": reads again (the buttons wait meanwhile); failure says text 171.
    void update();
    // "Reset": the rows as last read.
    void reset();
    bool reading() const { return reading_; }

    // A letter that holds something is in use; "(E:)" stands for nothing.
    static bool inUse(const DriveLetterRow& row);
    // The 26 letters A to Z, each with what `rows` says of it.
    static Rows allLetters(const Rows& rows);

    QTreeWidget* list() const { return list_; }
    QCheckBox* allSessionsBox() const { return allSessions_; }
    QPushButton* setButton() const { return set_; }
    QPushButton* updateButton() const { return update_; }
    QPushButton* resetButton() const { return reset_; }

  private:
    void fill(const Rows& rows);
    void setWaiting(bool waiting);
    void checked(int row);

    Reader reader_;
    Rows read_;  // as read last, the 26 letters
    bool reading_ = false;
    bool filling_ = false;
    QTreeWidget* list_ = nullptr;
    QCheckBox* allSessions_ = nullptr;
    QPushButton* set_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* update_ = nullptr;
    QPushButton* reset_ = nullptr;
};

}  // namespace ombrix::admin
