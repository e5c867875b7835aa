#pragma once

// Administration mode and the paths of the client library, for the library's own use and its
// programs.
#ifdef __cplusplus
extern "C" {
#endif

int OMXMapErrorCode(int code, char* buffer, int size);
void OMXReportError(int textId);
void OMXReportInsertError(int code);

int OMXGetInstallPath(char* buffer, int size);
int OMXGetImagePath(char* buffer, int size);
int OMXGetImagePathNet(char* buffer, int size);
int OMXGetGlobalImageFileName(char* buffer, int size);
int OMXGetGlobalTreeFileName(char* buffer, int size);
int OMXGetAdminFileName(char* buffer, int size);

int OMXGetAdminMode(void);
int OMXEnterAdmin(void);
int OMXLeaveAdmin(void);
int OMXSetAdminPWD(const char* oldPassword, const char* newPassword);
int OMXGetAdminDriveLetters(char* buffer, int size);
int OMXGetAdminComputer(char* buffer, int size);
int OMXGetOMXDriveLetters(char* buffer, int size);
int OMXVerifyPWD(const char* imagePath, char* password, int size);
int OMXServiceDrivesSet(int seconds);
// 21 when the administrator's drive lock keeps the calling session from drive `letter`: the
// session is an ordinary user while administration mode is in use, it holds the right bound by
// the lock (16), and the administrator locked that drive; else 0.
int OMXAdminDriveLockCode(char letter);

#ifdef __cplusplus
}
#endif
