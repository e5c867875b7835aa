#pragma once

#include <string>

// The calling session's record of its drives ("OMX_Drive_%c" in the session store) and the
// insert and eject that keep it in step with the drives.
namespace ombrix::drives {

std::string recordedImage(char letter);
void recordImage(char letter, const std::string& imagePath);

// The insert and eject behind every public call: no drive-lock or readability check; the eject
// checks the right to insert and eject unless it is forced.
int internalInsert(char letter, const char* imagePath, const char* password);
int internalEject(char letter, bool forced);

}  // namespace ombrix::drives
