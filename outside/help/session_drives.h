#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A session's virtual drives: each letter is a DOS device name of the session that points at a
// unit of the management service (an image) or at its empty device. The service owns the units;
// the links are the session's own.
namespace ombrix::helper {

// The session's drive letters: its own choice, else the machine's standard letters, else "EFG".
std::string sessionDriveLetters();
// The machine's standard letters for sessions, else "EFG".
std::string standardDriveLetters();
// Upper-cased letters A-Z without repeats, or empty when `letters` holds anything else.
std::string normaliseDriveLetters(const std::string& letters);

// The unit number the letter points at, or -1 when it points at no unit.
int unitOfLetter(uint32_t session, char letter);

// Puts the image into the letter's drive; the drive's previous image is taken out first.
// 0 or a result code of the client library.
int mountToDrive(uint32_t session, char letter, const std::string& imagePath,
                 const std::string& password);
// Takes the letter's image out and points the letter at the empty device. 0 or a result code.
int dismountDrive(uint32_t session, char letter);
// The image in the letter's drive, empty when none; false when the service cannot be asked.
bool mountedFile(uint32_t session, char letter, std::string& imagePath);

// Points every letter of the session that holds no image at the empty device and refreshes the
// user's folder of drive links.
void prepareDrives(uint32_t session);
// The session uses `letters` from now on (and every session, with `allSessions`): drives that
// are dropped are emptied and unlinked. 0 or a result code.
int setDriveLetters(uint32_t session, const std::string& letters, bool allSessions);

struct DriveInUse {
    char letter;
    int unit;
};
// The session's drives that hold an image.
std::vector<DriveInUse> drivesInUse(uint32_t session);

}  // namespace ombrix::helper
