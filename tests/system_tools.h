// What the whole-run tests need from the system beyond files: programs on
// the PATH, special entries, and a user without privileges.
#ifndef KORIMBA_TESTS_SYSTEM_TOOLS_H
#define KORIMBA_TESTS_SYSTEM_TOOLS_H

#include <string>

// The full path of a program on the PATH, or "" when there is none.
std::string find_program(const std::string& name);

// Leaves a Unix socket entry at path (relative paths are fine).
bool make_socket(const std::string& path);

// The user and group an unprivileged run uses ("nobody").
constexpr unsigned kNobody = 65534;

#endif
