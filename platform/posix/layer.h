// What the POSIX layer shares among its own files and with its tests: the
// last-error value, the path mapping and the wildcard matcher.
#ifndef KORIMBA_PLATFORM_POSIX_LAYER_H
#define KORIMBA_PLATFORM_POSIX_LAYER_H

#include <cstddef>

#include "platform/win32.h"

// Windows error codes the layer reports, mapped once from errno.
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_PROTECT 19
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_FILE_EXISTS 80
#define ERROR_DISK_FULL 112
#define ERROR_NO_MORE_FILES 18
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206

extern "C" DWORD WINAPI GetLastError(void);

namespace posix_layer {

// Longest path the layer accepts, with its NUL.
constexpr std::size_t kPathMax = 4096;

void set_last_error(DWORD code);
// Records the Windows code for errno and returns FALSE, for failing calls.
BOOL fail_with_errno(int error);

// Copies a Windows-form path to its POSIX form (every backslash a slash).
// False, with ERROR_FILENAME_EXCED_RANGE set, when it does not fit.
bool to_posix_path(const char* windows_path, char* out, std::size_t out_size);

// Windows' matching of a file name against a pattern of `*` and `?`,
// ignoring case.
bool wildcard_match(const char* pattern, const char* name);

// Records argv as the Windows command line and returns its tail: what
// follows the program name and the blanks behind it.
char* set_command_line(int argc, char** argv);

}  // namespace posix_layer

#endif
