#pragma once

#include "pipes/mountrequest.h"

// The image header checks of the network pipe, answered in place on the record.
namespace netsvc {

// Request 32: the password digest of the image named by the text replaces the text; the image
// must be of the current format. On failure the request is -8 with the error in the data word
// (87 no name, 38 short file, 1208 not the current format, else the file error).
void GetPasswordDigest(CMountRequest& record);

// Request 33: the password of the record against the image's digest. Echo when it matches or
// the image has none (older formats carry none); -7 for a wrong password; -8 with the error
// when the header cannot be read.
void CheckPassword(CMountRequest& record);

}  // namespace netsvc
