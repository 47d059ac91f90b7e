#pragma once

/// @file
/// The export macros and the C++20 check that every public header makes first.

// Every public header comes here first: the headers are C++20 (<span>, concepts in variant.h),
// and an older standard would fail far inside them.
#if !defined(__cplusplus) || __cplusplus < 202002L
#error "VexComm5 needs C++20: compile with -std=c++20 (pkg-config --cflags vexcomm5 gives it)"
#endif

/// Marks what the shared library exports; everything else is hidden.
#define VEXCOMM_EXPORT __attribute__((visibility("default")))
/// Marks a member of an exported class that only the library itself calls.
#define VEXCOMM_NO_EXPORT __attribute__((visibility("hidden")))
