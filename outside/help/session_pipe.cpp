#include "session_pipe.h"

#include <unistd.h>

#include <cctype>

#include "common/names.h"
#include "oxtenv.h"
#include "oxtlog.h"
#include "pipes/request_codes.h"
#include "platform/message_bus.h"
#include "session_drives.h"
#include "session_notifications.h"
#include "session_service.h"

namespace codes = ombrix::pipes;

namespace ombrix::helper {

namespace {

// The drive letter a record names by its character code in the data word, or 0.
char letterOf(const CMountRequest& record) {
    uint32_t code = record.m_dwData;
    if (code > 0xFF || !std::isalpha(static_cast<int>(code))) return 0;
    return static_cast<char>(std::toupper(static_cast<int>(code)));
}

void post(const char* name, int64_t lParam) {
    ombrix::platform::postToSession({name, static_cast<uint64_t>(getpid()), lParam});
}

void recordDrive(char letter, const std::string& imagePath) {
    char key[] = "OMX_Drive_?";
    key[sizeof key - 2] = letter;
    EnvSetUserValue(key, imagePath.c_str());
}

}  // namespace

SessionPipeHandler::SessionPipeHandler(uint32_t session,
                                       std::function<void(const std::string&)> showMessage)
    : session_(session), showMessage_(std::move(showMessage)) {}

void SessionPipeHandler::handle(CMountRequest& record) {
    switch (record.m_request) {
        case codes::kInsert: insert(record); return;
        case codes::kEject: eject(record); return;
        case codes::kListDrives: listDrives(record); return;
        case codes::kDescribeDrive: describeDrive(record); return;
        case codes::kSetDrives: setDrives(record); return;
        case codes::kStandardDrives: record.setText(standardDriveLetters()); return;
        case codes::kUserMessage:
            if (showMessage_ && !record.text().empty()) showMessage_(std::string(record.text()));
            return;
        default:
            for (const auto& message : messagesForNotification(record, getpid())) {
                ombrix::platform::postToSession(session_, message);
            }
            return;
    }
}

void SessionPipeHandler::fail(CMountRequest& record, int code) {
    OXTLog(3, "Session request %d failed with %d", record.m_request, code);
    record.m_request = CMountRequest::kRefused;
    record.m_dwData = static_cast<uint32_t>(code);
}

void SessionPipeHandler::insert(CMountRequest& record) {
    char letter = letterOf(record);
    if (letter == 0) return fail(record, kInvalidDrive);
    std::string path(record.text());
    // The same image in another drive of the session leaves it first, as a user's insert does.
    for (const DriveInUse& drive : drivesInUse(session_)) {
        std::string image;
        if (drive.letter != letter && mountedFile(session_, drive.letter, image) && image == path) {
            if (int code = dismountDrive(session_, drive.letter)) return fail(record, code);
            recordDrive(drive.letter, "");
            post(ombrix::names::kMsgEject, drive.letter);
        }
    }
    if (int code = mountToDrive(session_, letter, path, std::string(record.password()))) {
        return fail(record, code);
    }
    recordDrive(letter, path);
    post(ombrix::names::kMsgInsert, letter);
    record.m_dwData = 0;
    record.setText("\\Device\\CdRom" + std::to_string(unitOfLetter(session_, letter)));
}

void SessionPipeHandler::eject(CMountRequest& record) {
    char letter = letterOf(record);
    if (letter == 0) return fail(record, kInvalidDrive);
    if (int code = dismountDrive(session_, letter)) return fail(record, code);
    recordDrive(letter, "");
    post(ombrix::names::kMsgEject, letter);
    record.m_dwData = 0;
}

void SessionPipeHandler::listDrives(CMountRequest& record) {
    std::string pairs;
    for (const DriveInUse& drive : drivesInUse(session_)) {
        pairs += std::string(1, drive.letter) + "|" + std::to_string(drive.unit) + "|";
    }
    record.setText(pairs);
}

void SessionPipeHandler::describeDrive(CMountRequest& record) {
    char letter = letterOf(record);
    record.m_sessionId = session_;
    bool ours = letter != 0 && sessionDriveLetters().find(letter) != std::string::npos;
    std::string image;
    if (ours) mountedFile(session_, letter, image);
    record.m_dwData = ours ? 1 : 0;
    record.setText(image);
}

void SessionPipeHandler::setDrives(CMountRequest& record) {
    post(ombrix::names::kMsgDrivesChanging, 0);
    int code = setDriveLetters(session_, std::string(record.text()), record.m_dwData != 0);
    post(ombrix::names::kMsgDrivesChanged, 0);
    if (code != 0) fail(record, code);
}

}  // namespace ombrix::helper
