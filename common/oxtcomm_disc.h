#pragma once

// Questions about the disc inside an image file, answered without inserting it.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One session of a disc (200 bytes).
typedef struct OmxSessionInfo {
    int32_t kind;  // 1 one data track, no audio; 2 audio only; 3 data and audio; 4 anything else
    int32_t firstTrack;
    int32_t lastTrack;
    int32_t firstDataTrack;  // 0 when none
    int32_t startAddress;    // LBA of that track
    char label[50];
    char date[127];
    char reserved[3];
} OmxSessionInfo;

int OMXGetISOLabel(const char* imagePath, char* buffer, int size, int* changeable);
int OMXChangeIsoLabel(unsigned char* block, int blockSize, const char* label);
int OMXChangeIsoLabelFile(const char* imagePath, const char* label);
int OMXGetComment(const char* imagePath, char* buffer, int size);
int OMXSetComment(const char* imagePath, const char* text);
int OMXGetTrkTable(const char* imagePath, void* buffer, int size);
int OMXIsAnyTrackCompressed(const char* imagePath);
int OMXGetSessions(const char* imagePath, OmxSessionInfo* sessions, int size);
// 1 when the image in the session's drive has an audio track.
int OMXIsAnalogAudio(char drive);
// Opens the image in the image editor; the shell's result (above 32 on success).
long OMXBuildOMX(const char* imagePath);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(OmxSessionInfo) == 200);
#endif
