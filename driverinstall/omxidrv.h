#pragma once

// Installs and removes the root-enumerated adapter device of the virtual drives. Each call
// leaves its result code and error text below the result key and appends its steps to
// "drvinst.log" beside the calling program.
//
// Result codes: 0 done, 1 running, 2 failed (see the error text), 3 installed, restart needed.
#ifdef __cplusplus
extern "C" {
#endif

// `infPath` null: the INF file in the Windows folder's "inf" folder. `remove` non-zero removes.
int InstallDriver(const char* infPath, int remove);

// Installer custom actions: install or remove with the default INF file. They always answer 0;
// the outcome is in the registry. The handle is not used.
unsigned int MSIInstallDriver(unsigned long installHandle);
unsigned int MSIUnInstallDriver(unsigned long installHandle);

#ifdef __cplusplus
}
#endif
