#include "cmd/library_client.h"

#include <chrono>
#include <thread>
#include <vector>

#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "oxtenv.h"

namespace ombrix::cmd {
namespace {

constexpr int kValueSize = 4096;
constexpr int kPathSize = 4096;
// OMXVerifyPWD's prompt takes 15 characters.
constexpr int kPasswordSize = 64;

template <typename Get>
std::string read(Get get, int size = kValueSize) {
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    if (!get(buffer.data(), size)) return {};
    buffer.back() = '\0';
    return buffer.data();
}

}  // namespace

bool LibraryClient::playerRunning() {
    return OMXCheckOMXPlay() == 1;
}

std::string LibraryClient::driveLetters() {
    char buffer[64] = "";
    OMXGetOMXDriveLetters(buffer, sizeof buffer);
    return buffer;
}

std::string LibraryClient::setting(const std::string& key) {
    return read([&](char* b, int n) { return EnvGetSetting(key.c_str(), b, n); });
}

std::string LibraryClient::sessionValue(const std::string& key) {
    return read([&](char* b, int n) { return EnvGetUserValue(key.c_str(), b, n); });
}

int LibraryClient::indexHi() {
    return OMXGetIndexHi();
}

int LibraryClient::indexHiNet() {
    return OMXGetIndexHiNet();
}

bool LibraryClient::imageInfo(int index, OmxImageInfo& info) {
    return OMXGetImageInfoFromIndex(index, &info) != 0;
}

int LibraryClient::indexFromImageFile(const std::string& path, int range) {
    return OMXGetIndexFromImageFile(path.c_str(), range);
}

int LibraryClient::addImage(OmxImageInfo& info, int range) {
    return OMXAddImage(&info, range);
}

int LibraryClient::header(const std::string& path, OmxImageHeader& header) {
    return OMXGetHeader(path.c_str(), &header);
}

std::string LibraryClient::imageFolder(bool shared) {
    return read(
        [&](char* b, int n) { return shared ? OMXGetImagePathNet(b, n) : OMXGetImagePath(b, n); });
}

bool LibraryClient::askPassword(const std::string& path, std::string& password) {
    char buffer[kPasswordSize] = "";
    if (OMXVerifyPWD(path.c_str(), buffer, sizeof buffer) == 0) return false;
    password = buffer;
    return true;
}

int LibraryClient::insert(char drive, const std::string& path, const std::string& password) {
    return OMXInsert(drive, path.c_str(), password.c_str(), 0, 0, 0);
}

int LibraryClient::insertIndex(char drive, int index) {
    return OMXInsertIndex(drive, index);
}

int LibraryClient::eject(char drive) {
    return OMXEject(drive);
}

char LibraryClient::mountDrive(const std::string& path) {
    return OMXGetMountDrive(path.c_str());
}

std::string LibraryClient::mountedFile(char drive) {
    return read([&](char* b, int n) { return OMXGetMountedFileFromDrive(drive, b, n); }, kPathSize);
}

int LibraryClient::driveIndex(char drive) {
    return OMXGetDriveIndex(drive);
}

void LibraryClient::reportInsertError(int code) {
    OMXReportInsertError(code);
}

long LibraryClient::execute(const std::string& commandLine, const std::string& directory) {
    return OMXExecute(commandLine.c_str(), directory.empty() ? nullptr : directory.c_str());
}

std::string LibraryClient::replaceDriveVar(const std::string& text, char drive) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    OMXReplaceDriveVar(buffer.data(), drive);
    return buffer.data();
}

void LibraryClient::pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace ombrix::cmd
