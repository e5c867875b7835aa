#pragma once

// Insert, eject and drive queries of the client library: the checks around the helper library's
// mount calls, the session's record of its drives, and starting programs.
#ifdef __cplusplus
extern "C" {
#endif

// Checked insert: drive lock (21), right 2 (600), readable file (5), then the insert itself.
// The last three arguments are accepted for compatibility and change nothing.
int OMXInsert(char drive, const char* imagePath, const char* password, int reserved1, int reserved2,
              int reserved3);
// Inserts the image of a catalogue entry: asks for its password and starts its program.
int OMXInsertIndex(char drive, int index);
// Checked eject: drive lock (21), right 2 (600).
int OMXEject(char drive);
// Kept for programs written for the single-user edition: only notes the call in the log.
void OMXReInitializeScsi(void);
// The administration tool's player: no drive lock, right or readability check.
int OMXInsertPlayer(char drive, const char* imagePath, const char* password);
int OMXEjectPlayer(char drive);

// The letter of the session drive that holds the image, or 0.
char OMXGetMountDrive(const char* imagePath);
// Catalogue index of the drive's image; -1 for an empty drive or an uncatalogued image, 0 for an
// image this session did not record.
int OMXGetDriveIndex(char drive);
// Image path in the drive (empty for an empty drive); non-zero on success.
int OMXGetMountedFileFromDrive(char drive, char* buffer, int size);
// Rebuilds the session's record of its drives from the drives themselves.
void OMXCheckMountedDrives(void);
// 1 when the session helper program runs or could be started.
int OMXCheckOMXPlay(void);
// Starts a program (no shell); above 32 on success, else an error value of the shell's kind.
long OMXExecute(const char* commandLine, const char* workingDirectory);
// Replaces every "%OMXDrive%" (any case) in place by the drive letter.
void OMXReplaceDriveVar(char* text, char drive);
// Opens the existing file with the access (OMX_ACCESS_READ/WRITE) and closes it: 0 or the error.
int OMXCheckAccessFile(const char* path, unsigned desiredAccess);
// 1 when a physical drive's medium was ejected.
int OMXEjectPhysicalDrive(char drive);

enum { OMX_ACCESS_READ = 0x80000000u, OMX_ACCESS_WRITE = 0x40000000u };

#ifdef __cplusplus
}
#endif
