#pragma once

// The helper library: rights, the session's mount requests and re-reads of the shared files.

#ifdef __cplusplus
extern "C" {
#endif

// Ask the network access service to re-read one shared file and publish it anew.
void OMXTSReReadAdmFile(void);
void OMXTSReReadImgFile(void);
void OMXTSReReadTreeFile(void);
void OMXTSReReadEnvFile(void);
void OMXTSReReadSecurityFile(void);

#ifdef __cplusplus
}
#endif
