// GetCommandLineA for the POSIX layer: argv joined back into the one string
// a Windows program is given.
#include <cstring>

#include "platform/posix/layer.h"

namespace {

// Windows' limit for a command line, with its NUL; a longer one is cut.
char command_line[32768];

}  // namespace

namespace posix_layer {

char* set_command_line(int argc, char** argv) {
    // The program path as invoked, with '/' shown as '\', then the arguments,
    // one space apart; an argument that is empty or holds a blank is quoted,
    // as Windows and Wine quote them.
    std::size_t length = 0;
    std::size_t tail = 0;
    const std::size_t last = sizeof command_line - 1;
    auto put = [&](char c) {
        if (length < last) command_line[length++] = c;
    };
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i];
        if (i > 0) put(' ');
        if (i == 1) tail = length;
        const bool quoted = *argument == '\0' || std::strpbrk(argument, " \t") != nullptr;
        if (quoted) put('"');
        for (const char* p = argument; *p != '\0'; ++p) put(i == 0 && *p == '/' ? '\\' : *p);
        if (quoted) put('"');
    }
    command_line[length] = '\0';
    return command_line + (argc > 1 ? tail : length);
}

}  // namespace posix_layer

LPSTR WINAPI GetCommandLineA(void) { return command_line; }
