// The project's one assertion for internal conditions: a broken condition is a
// bug in the program, never something a file or a caller's data can cause.
// On failure it writes "Assertion failed: COND, file FILE, line N" and a line
// end on standard error and aborts. It is active in every build type.
#pragma once

[[noreturn]] void MapsmithAssertFail(const char* condition, const char* file, int line) noexcept;

#define MAPSMITH_ASSERT(cond) \
  ((cond) ? static_cast<void>(0) : MapsmithAssertFail(#cond, __FILE__, __LINE__))
