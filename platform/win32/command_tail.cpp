// The command-line tail for WinMain, found without the C runtime.
#include "platform/win32/command_tail.h"

char* command_tail(char* command_line) {
    char* p = command_line;
    bool quoted = false;
    for (; *p != '\0'; ++p) {
        if (*p == '"')
            quoted = !quoted;
        else if (!quoted && (*p == ' ' || *p == '\t'))
            break;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}
