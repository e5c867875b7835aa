#pragma once

// The helper library: rights, the session's mount requests and re-reads of the shared files.

#ifdef __cplusplus
extern "C" {
#endif

// Non-zero when the calling user holds the right (2 insert/eject, 4 drive letters,
// 8 administration, 16 bound by the administrator's drive lock).
int OMXTSHasRight(int right);

// The image's password digest (32 hexadecimal digits), empty when it has none; non-zero when the
// image could be read.
int OMXTSVerifyPWD(const char* imagePath, char* buffer, int size);

// The session's virtual drive letters, e.g. "EFG"; returns their number.
int OMXTSGetOMXDriveLetters(char* buffer, int size);

// Puts the image into the session's drive "%C:" through the management service: 0 when it is
// there, else a result code of the client library.
int OMXTSMountToDrive(const char* drive, const char* imagePath, const char* password);
// Empties the session's drive "%C:": 0 when it is empty, else a result code.
int OMXTSDisMountDrive(const char* drive);
// The image path in the drive (empty for an empty drive); non-zero on success.
int OMXTSGetMountedFileFromDrive(char letter, char* buffer, int size);
// The machine's standard drive letters for sessions; the first three arguments are unused.
int OMXTSGetStdDriveLetters(int reserved1, int reserved2, int reserved3, char* buffer, int size);
// The session uses these drive letters from now on (and every session, with allSessions set);
// non-zero on success.
int OMXTSSetDriveLetters(const char* letters, int allSessions);

// Ask the network access service to re-read one shared file and publish it anew.
void OMXTSReReadAdmFile(void);
void OMXTSReReadImgFile(void);
void OMXTSReReadTreeFile(void);
void OMXTSReReadEnvFile(void);
void OMXTSReReadSecurityFile(void);

// Starts the rights dialog (the installation's profile editor "oxtprfed") for the calling
// session: 0 when it was started, 2 when no editor is installed, 3 without an installation
// folder, else the shell's result.
int OMXTSEditRights(void* parent);

// Every published catalogue entry (local and shared), in the order of their numbers:
// callback(context, number, entry text). The walk goes on while the callback answers non-zero.
// Returns the number of entries handed to the callback.
typedef int (*OMXTSImageCallback)(void* context, int number, const char* entry);
int OMXTSEnumImages(void* context, OMXTSImageCallback callback);

// Every published tree line, from 1: callback(context, line number, line); non-zero goes on.
typedef int (*OMXTSTreeLineCallback)(long context, int number, const char* line);
int OMXTSEnumTreeLines(long context, OMXTSTreeLineCallback callback);

#ifdef __cplusplus
}
#endif
