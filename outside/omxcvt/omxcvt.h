#pragma once

// The image conversion library: turns ISO 9660 images into image containers with track part
// files beside them.

#ifdef __cplusplus
extern "C" {
#endif

// Called as the conversion proceeds with the percentage done; returning 0 cancels it.
typedef int (*OMXCvtProgressProc)(int percent);

// Track storages of the converted image.
enum { OMXCVT_PLAIN = 0, OMXCVT_LZ = 1, OMXCVT_DEFLATE = 2 };

typedef struct OmxCvtOptions {
    int storage;                  // OMXCVT_PLAIN, OMXCVT_LZ or OMXCVT_DEFLATE
    int sectorSize;               // 2048, or 2352 for mode 1 raw sectors
    unsigned sectorsPerPart;      // sectors per track part file; 0: as many as fit one part
    int overwrite;                // replace an existing container and its part files
    const char* target;           // container path; null: the source with the extension ".om4"
    const char* description;      // null: the disc's volume label
    const char* password;         // null or empty: none
    const char* comment;          // null or empty: none
    OMXCvtProgressProc progress;  // may be null
} OmxCvtOptions;

// Results: 0 converted, 2 not an image this library converts, 5 failed (text from
// OMXGetLastCVTError), 7 cancelled, 87 invalid argument.
int OMXConvertISO2OM4(const char* isoPath, int storage, int overwrite, OMXCvtProgressProc progress);
int OMXConvertISO2OM4Ex(const char* isoPath, const OmxCvtOptions* options);
int OMXConvertZRM2OM4(const char* zrmPath, int storage, int overwrite, OMXCvtProgressProc progress);
// The text of the last failure of this thread; returns its length (0 when none).
int OMXGetLastCVTError(char* text, int size);

#ifdef __cplusplus
}
#endif
