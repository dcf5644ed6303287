// The installer: sorts a library distribution in place, headers into
// INCLUDE and libraries into LIB, then confirms.
#ifndef KORIMBA_INSTALLER_INSTALLER_H
#define KORIMBA_INSTALLER_INSTALLER_H

#include "platform/win32.h"

// The current directory when WinMain began: at most 498 characters, in the
// platform's absolute form. Every target directory is appended to it, and
// each search runs from it.
extern char start_directory[500];

// Moves every file of the start directory that matches pattern into the
// directory start_directory + subdir (subdir begins with a backslash),
// creating that directory when it is missing and replacing files of the
// same name. A file that cannot be moved stays where it is and is listed
// for the user.
void move_files(const char* pattern, const char* subdir);

#endif
