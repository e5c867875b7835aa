#pragma once

// Marks a function a shared library offers to its callers: C linkage, visible outside the library.
#define OMX_EXPORT extern "C" __attribute__((visibility("default")))
