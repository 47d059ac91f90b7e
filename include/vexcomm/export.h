#pragma once

// Marks what the shared library exports; everything else is hidden.
#define VEXCOMM_EXPORT __attribute__((visibility("default")))
// For members of an exported class that only the library calls.
#define VEXCOMM_NO_EXPORT __attribute__((visibility("hidden")))
