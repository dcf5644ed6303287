// The command-line tail that the Windows start-up hands to WinMain.
#ifndef KORIMBA_PLATFORM_WIN32_COMMAND_TAIL_H
#define KORIMBA_PLATFORM_WIN32_COMMAND_TAIL_H

// What follows the program name in command_line and the spaces and tabs
// behind it. The program name ends at the first space or tab outside double
// quotes, so a quoted path with blanks in it counts as one name.
char* command_tail(char* command_line);

#endif
