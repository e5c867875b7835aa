#pragma once

#include <string>

namespace ombrix::platform {

// The folder of the executable or shared library that holds `address`, links resolved; empty
// when it cannot be told. Callers pass an address of their own module (a function or object
// with internal linkage), so that the answer names the module their code was linked into even
// where the same static library is linked into several modules.
std::string moduleFolderOf(const void* address);

}  // namespace ombrix::platform
