#pragma once

// The client library: catalogue, image headers and the other calls every program uses.
#include "common/omx_image_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// Catalogue ranges for OMXGetIndexFromImageFile / OMXAddImage.
enum { OMX_RANGE_ALL = 0, OMX_RANGE_LOCAL = 1, OMX_RANGE_SHARED = 2 };

int OMXGetIndexHi(void);
int OMXGetIndexHiNet(void);
int OMXGetNumberOfImages(void);
int OMXGetImageStringFromIndex(int index, char* buffer, int size);
int OMXGetImageInfoFromIndex(int index, OmxImageInfo* info);
int OMXGetIndexFromImageFile(const char* imagePath, int range);
int OMXAddImage(OmxImageInfo* info, int range);
int OMXAddImageCheck(OmxImageInfo* info, int range, int strict);
int OMXSetImageInfoFromIndex(int index, const OmxImageInfo* info);
int OMXRemoveImage(int index);
int OMXReadImagesNetFile(void);

int OMXGetHeader(const char* imagePath, OmxImageHeader* header);
int OMXHasPWD(const char* imagePath);
int OMXSetPWD(const char* imagePath, const char* oldPassword, const char* newPassword);
int OMXSetDescription(const char* imagePath, const char* description);

#ifdef __cplusplus
}
#endif
