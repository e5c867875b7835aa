#include "cmd/runner.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "common/md5_digest.h"
#include "platform/ascii.h"

namespace ombrix::cmd {
namespace {

namespace fs = std::filesystem;

constexpr const char* kImageExtension = ".OM4";
constexpr const char* kCommandFileExtension = ".CMD";
// Longest token that may name an image.
constexpr size_t kMaxImageToken = 260;
// Command files are a few lines; a larger file is refused, and a file that runs itself (or a
// ring of them) ends after this many levels.
constexpr std::uintmax_t kMaxCommandFileSize = 1 << 20;
constexpr int kMaxCommandFileDepth = 8;
constexpr int kRetryPauseMs = 1000;
constexpr int kCatalogueSettleMs = 1000;

// A shell result above this value means the program started.
constexpr long kShellSuccess = 32;

template <size_t N>
std::string field(const char (&text)[N]) {
    return std::string(text, ::strnlen(text, N));
}

bool endsWithIgnoreCase(const std::string& text, const char* suffix) {
    size_t n = std::strlen(suffix);
    return text.size() >= n &&
           ascii::equalsIgnoreCase(std::string_view(text).substr(text.size() - n), suffix);
}

// One letter, or a letter and a colon.
bool isDriveToken(const std::string& text) {
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return (text.size() == 1 && letter(text[0])) ||
           (text.size() == 2 && letter(text[0]) && text[1] == ':');
}

bool isExistingFile(const std::string& path) {
    std::error_code ec;
    auto status = fs::status(path, ec);
    return !ec && fs::exists(status) && !fs::is_directory(status);
}

int catalogueCode(const std::string& word) {
    if (ascii::equalsIgnoreCase(word, "D52F60")) return 7;
    if (ascii::equalsIgnoreCase(word, "D52F61")) return 8;
    if (ascii::equalsIgnoreCase(word, "D52F6A")) return 9;
    if (ascii::equalsIgnoreCase(word, "D52F6B")) return 10;
    return 0;
}

// The message for a shell result that means the program did not start.
int shellResultMessage(long result) {
    switch (result) {
        case 0:
        case 8: return kNoMemory;
        case 2:
        case 3:
        case 27: return kProgramNotFound;
        case 5: return kNoExecuteRight;
        case 31: return kNoAssociation;
        default: return kCannotExecute;
    }
}

}  // namespace

std::string driveText(char drive) {
    return drive == 0 ? std::string() : std::string{ascii::upper(drive), ':'};
}

bool Runner::Pending::empty() const {
    return command == kNoCommand && image.empty() && index == 0 && drive == 0 && password.empty() &&
           directory.empty() && program.empty();
}

Runner::Runner(Client& client, Messages& messages) : client_(client), messages_(messages) {}

bool Runner::start() {
    if (!client_.playerRunning()) {
        messages_.show(kPlayerNotRunning);
        ++failures_;
        return false;
    }
    olderFormats_ = client_.setting("OMX3xCompat") == "1";
    messages_.setMode(Mode::Normal);
    drives_ = ascii::toUpper(client_.driveLetters());
    return true;
}

bool Runner::runLine(const std::string& line) {
    int before = failures_;
    SplitLine split = splitLine(line);
    applyModes(split);
    messages_.show(kExecuteLine, {line});
    walk(split.arguments, line);
    return failures_ == before;
}

void Runner::applyModes(const SplitLine& split) {
    for (char mode : split.modes) {
        if (mode == 'Q') messages_.setMode(Mode::Quiet);
        if (mode == 'N') messages_.setMode(Mode::Normal);
        if (mode == 'V') messages_.setMode(Mode::Verbose);
    }
    if (split.attempts > 0) attempts_ = split.attempts;
}

bool Runner::fail() {
    ++failures_;
    return false;
}

void Runner::walk(const std::vector<Token>& arguments, const std::string& line) {
    Pending pending;
    lastRunFailed_ = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const Token& token = arguments[i];
        char option = optionLetter(token);
        if (option == 0) {
            if (endsWithIgnoreCase(token.text, kCommandFileExtension)) {
                runCommandFile(token.text);
                break;  // the rest of the line is ignored
            }
            if (isDriveToken(token.text)) {
                pending.drive = ascii::upper(token.text[0]);
            } else if (resolveImage(token.text, pending)) {
                if (pending.drive == 0 && pending.command == kNoCommand) pending.command = kInsert;
            }
            continue;
        }
        if (std::strchr("IEPWXD", option) == nullptr) {
            messages_.show(kNotRecognized, {token.text});
            fail();
            continue;
        }
        const Token* value = nullptr;
        if (i + 1 < arguments.size() && optionLetter(arguments[i + 1]) == 0)
            value = &arguments[++i];
        switch (option) {
            case 'I':
                if (!pending.image.empty() || pending.index != 0) run(pending, line);
                pending.command = kInsert;
                if (value != nullptr) resolveImage(value->text, pending);
                break;
            case 'E':
                if (pending.index != 0 || !pending.image.empty() || pending.drive != 0) {
                    run(pending, line);
                }
                pending.command = kEject;
                if (value == nullptr) break;  // stays pending for a drive or image that follows
                if (isDriveToken(value->text)) {
                    pending.drive = ascii::upper(value->text[0]);
                    run(pending, line);
                } else if (resolveImage(value->text, pending)) {
                    run(pending, line);
                }
                break;
            case 'P':
            case 'W':
            case 'X': {
                std::string& slot = option == 'P'   ? pending.password
                                    : option == 'W' ? pending.directory
                                                    : pending.program;
                // A second value of the same option starts the next command.
                if (!slot.empty()) run(pending, line);
                if (value != nullptr) slot = value->text;
                break;
            }
            case 'D': {
                if (pending.command != kNoCommand || pending.index != 0 || !pending.image.empty() ||
                    pending.drive != 0) {
                    run(pending, line);
                }
                int code = value != nullptr ? catalogueCode(value->text) : 0;
                if (code != 0) {
                    pending.command = code;
                    run(pending, line);
                }
                break;
            }
        }
    }
    // What is left pending runs at the end, unless the command run last failed.
    if (!pending.empty() && !pending.broken && !lastRunFailed_) run(pending, line);
    messages_.show(kAllProcessed);
}

bool Runner::run(Pending& pending, const std::string& line) {
    bool ok = false;
    if (pending.broken) {
        ok = false;  // what went wrong was reported when its image was resolved
    } else {
        int command = pending.command;
        if (command == kNoCommand) {
            if (!pending.image.empty() || pending.index != 0) {
                command = kInsert;
            } else if (pending.drive != 0) {
                command = kEject;
            } else if (!pending.program.empty()) {
                command = kRunProgram;
            }
        }
        switch (command) {
            case kInsert: ok = insert(pending); break;
            case kEject: ok = eject(pending); break;
            case kRunProgram: ok = runProgram(pending); break;
            case 7: ok = true; break;
            case 8:
            case 9:
            case 10:
                // The image folders these codes stand for; nothing is done with them.
                (void)client_.imageFolder(command == 9);
                ok = true;
                break;
            default:
                messages_.show(kNotRecognized, {line});
                ok = fail();
                break;
        }
    }
    pending = Pending{};
    lastRunFailed_ = !ok;
    return ok;
}

bool Runner::resolveImage(const std::string& text, Pending& pending) {
    pending.image.clear();
    pending.index = 0;
    pending.broken = true;
    if (text.size() <= kMaxImageToken && isExistingFile(text)) {
        // The service and the other sessions must find the same file: keep it absolute.
        std::error_code ec;
        fs::path absolute = fs::absolute(text, ec);
        pending.image = (ec ? fs::path(text) : absolute.lexically_normal()).string();
        if (endsWithIgnoreCase(text, kImageExtension)) {
            pending.index = std::max(0, client_.indexFromImageFile(pending.image, 0));
        }
        pending.broken = false;
        return true;
    }
    if (endsWithIgnoreCase(text, kImageExtension)) {
        messages_.show(kImageNotFound, {text});
        return fail();
    }
    OmxImageInfo entry{};
    int index = text.size() <= kMaxImageToken ? findDescription(text, entry) : 0;
    if (index <= 0) {
        messages_.show(kNotDescription, {text});
        return fail();
    }
    pending.index = index;
    pending.image = field(entry.path);
    pending.broken = false;
    return true;
}

// The catalogue entry (local range first, then shared) whose description is `text`, or whose
// file name is, when it has no description. Among equal entries the first whose file exists
// wins, else the first equal one. 0 when none matches.
int Runner::findDescription(const std::string& text, OmxImageInfo& found) {
    int firstEqual = 0;
    OmxImageInfo firstEntry{};
    auto consider = [&](int index) {
        OmxImageInfo info{};
        if (!client_.imageInfo(index, info)) return false;
        std::string description = field(info.description);
        fs::path path(field(info.path));
        bool equal = description.empty()
                         ? ascii::equalsIgnoreCase(path.stem().string(), text) ||
                               ascii::equalsIgnoreCase(path.filename().string(), text)
                         : ascii::equalsIgnoreCase(description, text);
        if (!equal) return false;
        if (firstEqual == 0) {
            firstEqual = index;
            firstEntry = info;
        }
        if (!isExistingFile(path.string())) return false;
        found = info;
        return true;
    };
    int hi = client_.indexHi();
    for (int index = 1; index <= hi && index < 5000; ++index) {
        if (consider(index)) return index;
    }
    int hiNet = client_.indexHiNet();
    for (int index = 5001; index <= hiNet; ++index) {
        if (consider(index)) return index;
    }
    if (firstEqual != 0) found = firstEntry;
    return firstEqual;
}

bool Runner::isVirtualDrive(char drive) const {
    return drive != 0 && drives_.find(ascii::upper(drive)) != std::string::npos;
}

// The drive an insert goes to: the one given, else the entry's preferred drive when it is a
// virtual drive of the session, else the session's first. 0 (after message 61248) when that is
// not a virtual drive.
char Runner::chooseDrive(char given, char preferred) {
    char drive = given;
    if (drive == 0) {
        drive = isVirtualDrive(preferred) ? ascii::upper(preferred)
                : drives_.empty()         ? 0
                                          : drives_[0];
    }
    if (!isVirtualDrive(drive)) {
        messages_.show(kNotVirtualDrive, {driveText(drive)});
        fail();
        return 0;
    }
    return ascii::upper(drive);
}

bool Runner::readEntry(Pending& pending, int index) {
    pending.haveEntry = index > 0 && client_.imageInfo(index, pending.entry);
    return pending.haveEntry;
}

std::string Runner::imageName(const Pending& pending) const {
    if (!pending.image.empty()) return pending.image;
    if (pending.haveEntry) return field(pending.entry.path);
    return {};
}

void Runner::insertFailed(int code, const std::string& name) {
    if (messages_.mode() != Mode::Quiet) client_.reportInsertError(code);
    messages_.show(kNotInserted, {name});
    fail();
}

bool Runner::insert(Pending& pending) {
    if (pending.index != 0 && pending.program.empty() && pending.password.empty()) {
        return insertFromCatalogue(pending);
    }
    return insertFile(pending);
}

bool Runner::insertFromCatalogue(Pending& pending) {
    if (!readEntry(pending, pending.index)) {
        messages_.show(kCannotFindImage);
        return fail();
    }
    char drive = chooseDrive(pending.drive, pending.entry.driveLetter);
    if (drive == 0) return false;
    std::string name = imageName(pending);
    messages_.show(kLoading, {name, driveText(drive)});
    int code = client_.insertIndex(drive, pending.index);
    if (code != 0) {
        insertFailed(code, name);
        return false;
    }
    messages_.show(kInserted);
    return true;
}

bool Runner::insertFile(Pending& pending) {
    std::string path = pending.image;
    if (path.empty() && readEntry(pending, pending.index)) path = field(pending.entry.path);
    bool sharedOnly = client_.sessionValue("OmxDisabelUseOfLoacalImages") == "1";
    int index = client_.indexFromImageFile(path, sharedOnly ? 2 : 0);
    bool olderFormat = false;
    if (index <= 0) {
        OmxImageHeader header{};
        if (path.empty() || client_.header(path, header) != 0) {
            messages_.show(kImageNotFound, {path});
            return fail();
        }
        std::string mark = field(header.containerMark);
        bool current = mark == "OMXContainer";
        if (!current && mark != "ZRM V1.0" && mark != "ZRM V3.0" && !olderFormats_) {
            messages_.show(kNotContainer, {path});
            return fail();
        }
        olderFormat = !current && olderFormats_;
        OmxImageInfo info{};
        ascii::copyToBuffer(path, info.path, sizeof info.path);
        index = client_.addImage(info, 0);
        if (index <= 0 || sharedOnly) {
            OmxImageInfo again{};
            ascii::copyToBuffer(path, again.path, sizeof again.path);
            int shared = client_.addImage(again, 1);
            if (shared > 0) index = shared;
        }
        client_.pause(kCatalogueSettleMs);  // the new entry is published meanwhile
        if (index <= 0 && !olderFormat) {
            messages_.show(kCannotFindImage);
            return fail();
        }
    }
    if (index > 0) readEntry(pending, index);
    char drive = chooseDrive(pending.drive, pending.haveEntry ? pending.entry.driveLetter : 0);
    if (drive == 0) return false;
    pending.drive = drive;

    std::string password = pending.password;
    bool refused = false;
    if (password.empty()) {
        refused = !olderFormat && !client_.askPassword(path, password);
    } else if (!olderFormat) {
        refused = !passwordFits(path, password);
    }
    if (refused) {
        messages_.show(kPasswordInvalid, {path});
        return fail();
    }
    if (char other = client_.mountDrive(path); other != 0 && ascii::upper(other) != drive) {
        messages_.show(kEjectingOther);
        if (int code = client_.eject(other); code != 0) {
            insertFailed(code, path);
            return false;
        }
    }
    if (!client_.mountedFile(drive).empty()) {
        messages_.show(kDriveInUse);
        if (int code = client_.eject(drive); code != 0) {
            insertFailed(code, path);
            return false;
        }
    }
    if (int code = client_.insert(drive, path, password); code != 0) {
        insertFailed(code, path);
        return false;
    }
    messages_.show(kInserted);
    bool entryProgram = pending.haveEntry && pending.entry.program[0] != '\0';
    if (!pending.program.empty() || entryProgram) return runProgram(pending);
    return true;
}

// A password given on the command line must be the image's own: the insert below does not check
// it, so a wrong one would open a protected image. An image without password takes any.
bool Runner::passwordFits(const std::string& path, const std::string& password) {
    OmxImageHeader header{};
    if (client_.header(path, header) != 0) return true;  // the insert reports the unreadable file
    std::string digest = field(header.passwordDigest);
    if (digest.empty()) return true;
    auto typed = md5Hex(password);
    return typed && *typed == digest;
}

bool Runner::eject(Pending& pending) {
    std::string name = imageName(pending);
    messages_.show(kSearchingDrive, {driveText(pending.drive), name});
    char drive = 0;
    if (isVirtualDrive(pending.drive)) {
        messages_.show(kEjectingFrom, {driveText(pending.drive)});
        drive = pending.drive;
    } else {
        if (!pending.image.empty()) drive = client_.mountDrive(pending.image);
        for (size_t i = 0; drive == 0 && pending.index > 0 && i < drives_.size(); ++i) {
            if (client_.driveIndex(drives_[i]) == pending.index) drive = drives_[i];
        }
    }
    if (drive == 0 || client_.eject(ascii::upper(drive)) != 0) {
        messages_.show(kCannotEject);
        return fail();
    }
    messages_.show(kEjected);
    return true;
}

bool Runner::runProgram(Pending& pending) {
    std::string program = pending.program;
    std::string directory = pending.directory;
    if (program.empty() && pending.haveEntry) program = field(pending.entry.program);
    if (directory.empty() && pending.haveEntry) directory = field(pending.entry.parameters);
    // Without a drive the variable has nothing to stand for and is left as it is.
    if (pending.drive != 0) {
        program = client_.replaceDriveVar(program, pending.drive);
        directory = client_.replaceDriveVar(directory, pending.drive);
    }
    long result = 2;  // no program: as the shell says for a file it cannot find
    if (!program.empty()) {
        for (int attempt = 1;; ++attempt) {
            result = client_.execute(program, directory);
            if (result > kShellSuccess || attempt >= attempts_) break;
            client_.pause(kRetryPauseMs);
        }
    }
    if (result > kShellSuccess) return true;
    messages_.show(shellResultMessage(result));
    return fail();
}

void Runner::runCommandFile(const std::string& name) {
    messages_.show(kExecutingFile, {name});
    if (commandFileDepth_ >= kMaxCommandFileDepth) {
        messages_.show(kCannotOpenFile);
        fail();
        return;
    }
    std::error_code ec;
    auto status = fs::status(name, ec);
    if (ec == std::errc::filename_too_long ||
        (!ec && fs::is_regular_file(status) && fs::file_size(name, ec) > kMaxCommandFileSize)) {
        messages_.show(kFileTooLong, {name});
        fail();
        return;
    }
    if (!fs::exists(status)) {
        messages_.show(kFileNotFound, {name});
        fail();
        return;
    }
    std::ifstream file(name, std::ios::binary);
    if (!fs::is_regular_file(status) || !file) {
        messages_.show(kCannotOpenFile);
        fail();
        return;
    }
    std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::istringstream text(content);
    ++commandFileDepth_;
    std::string line;
    while (std::getline(text, line)) {
        std::string command(ascii::trim(line));
        if (!command.empty()) runLine(command);
    }
    --commandFileDepth_;
}

}  // namespace ombrix::cmd
