#pragma once

// The configuration stores: named string values in a global store of the machine and a session
// store of the calling process's session. Keys compare without regard to case.

#ifdef __cplusplus
extern "C" {
#endif

int EnvSetUserValue(const char* key, const char* value);
int EnvGetUserValue(const char* key, char* buffer, int size);
int EnvSetGlobalValue(const char* key, const char* value);
int EnvGetGlobalValue(const char* key, char* buffer, int size);
int EnvLockUser(int timeoutMs);
int EnvUnlockUser(void);
int EnvLockGlobal(int timeoutMs);
int EnvUnlockGlobal(void);
int EnvLoadSecurity(const void* data, int length);
int EnvGetSetting(const char* key, char* buffer, int size);

// Beyond the ten calls above: what the helper library, the services and the administration
// command need.
// Copies the rights data last taken over by EnvLoadSecurity; returns its full length (which may
// exceed `size`; nothing is copied then), 0 when there is none.
int EnvGetSecurity(void* buffer, int size);
// Remove a key; non-zero when it existed.
int EnvDeleteUserValue(const char* key);
int EnvDeleteGlobalValue(const char* key);
// Calls `callback(context, key, value)` for every value of the store in key order; a zero
// answer stops. Returns the number of values visited.
typedef int (*EnvEnumCallback)(void* context, const char* key, const char* value);
int EnvEnumUserValues(void* context, EnvEnumCallback callback);
int EnvEnumGlobalValues(void* context, EnvEnumCallback callback);

#ifdef __cplusplus
}
#endif
