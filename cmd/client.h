#pragma once

#include <string>

#include "common/omx_image_types.h"

namespace ombrix::cmd {

// Everything the command-line program asks of the client library and the configuration stores.
// The program itself uses the library; tests put a scripted stand-in in its place.
class Client {
  public:
    virtual ~Client() = default;

    // Session and preferences.
    virtual bool playerRunning() = 0;        // the session helper runs or could be started
    virtual std::string driveLetters() = 0;  // the session's virtual drives, e.g. "EFG"
    virtual std::string setting(const std::string& key) = 0;  // a program preference
    virtual std::string sessionValue(const std::string& key) = 0;

    // Catalogue.
    virtual int indexHi() = 0;
    virtual int indexHiNet() = 0;
    virtual bool imageInfo(int index, OmxImageInfo& info) = 0;
    virtual int indexFromImageFile(const std::string& path, int range) = 0;
    virtual int addImage(OmxImageInfo& info, int range) = 0;
    virtual int header(const std::string& path, OmxImageHeader& header) = 0;
    virtual std::string imageFolder(bool shared) = 0;

    // The library's password prompt for the image: false when the user refused it; `password`
    // holds what was typed (empty for an image without password).
    virtual bool askPassword(const std::string& path, std::string& password) = 0;

    // Drives.
    virtual int insert(char drive, const std::string& path, const std::string& password) = 0;
    virtual int insertIndex(char drive, int index) = 0;
    virtual int eject(char drive) = 0;
    virtual char mountDrive(const std::string& path) = 0;  // 0 when in no drive
    virtual std::string mountedFile(char drive) = 0;       // empty for an empty drive
    virtual int driveIndex(char drive) = 0;
    virtual void reportInsertError(int code) = 0;

    // Programs: the shell's result (above 32 on success).
    virtual long execute(const std::string& commandLine, const std::string& directory) = 0;
    virtual std::string replaceDriveVar(const std::string& text, char drive) = 0;

    // Waits (the catalogue's publication, start attempts).
    virtual void pause(int milliseconds) = 0;
};

}  // namespace ombrix::cmd
