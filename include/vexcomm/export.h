#pragma once

// Marks what the shared library exports; everything else is hidden.
#define VEXCOMM_EXPORT __attribute__((visibility("default")))
