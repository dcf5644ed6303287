// The message reporter: caption from the command line, the box, and the
// floating-point guard around it.
#include "messages/show_message.h"

#include <cstdlib>

#include "messages/fpu_guard.h"
#include "platform/win32.h"

Caption derive_caption(const char* command_line) {
    // A leading number is passed over, where strtol stops reading it; for a
    // number too long for a long that is still behind all of its digits.
    char* start = nullptr;
    std::strtol(command_line, &start, 10);

    const char* name = start;
    for (const char* p = start; *p != '\0'; ++p)
        if (*p == '\\') name = p + 1;

    Caption caption;
    int length = 0;
    while (length < 32 && name[length] != '\0') {
        caption.text[length] = name[length];
        ++length;
    }
    // One trailing space, then one trailing quote: what is left of a quoted
    // program path whose command line ends in a blank.
    if (length > 0 && caption.text[length - 1] == ' ') --length;
    if (length > 0 && caption.text[length - 1] == '"') --length;
    caption.text[length] = '\0';

    if (length == 0) {
        const char fallback[] = "Error";
        for (int i = 0; i < static_cast<int>(sizeof fallback); ++i) caption.text[i] = fallback[i];
    }
    return caption;
}

void show_message(const char* text) {
    const Caption caption = derive_caption(GetCommandLineA());
    FpuStateBlock caller_state;
    save_fpu_state(&caller_state);
    MessageBoxA(nullptr, text, caption.text, MB_OK);
    restore_fpu_state(&caller_state);
}
