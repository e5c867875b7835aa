#pragma once

#include "cmd/client.h"

namespace ombrix::cmd {

// The client library and the configuration stores, as the program uses them.
class LibraryClient : public Client {
  public:
    bool playerRunning() override;
    std::string driveLetters() override;
    std::string setting(const std::string& key) override;
    std::string sessionValue(const std::string& key) override;
    int indexHi() override;
    int indexHiNet() override;
    bool imageInfo(int index, OmxImageInfo& info) override;
    int indexFromImageFile(const std::string& path, int range) override;
    int addImage(OmxImageInfo& info, int range) override;
    int header(const std::string& path, OmxImageHeader& header) override;
    std::string imageFolder(bool shared) override;
    bool askPassword(const std::string& path, std::string& password) override;
    int insert(char drive, const std::string& path, const std::string& password) override;
    int insertIndex(char drive, int index) override;
    int eject(char drive) override;
    char mountDrive(const std::string& path) override;
    std::string mountedFile(char drive) override;
    int driveIndex(char drive) override;
    void reportInsertError(int code) override;
    long execute(const std::string& commandLine, const std::string& directory) override;
    std::string replaceDriveVar(const std::string& text, char drive) override;
    void pause(int milliseconds) override;
};

}  // namespace ombrix::cmd
