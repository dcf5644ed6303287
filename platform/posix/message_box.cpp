// MessageBoxA for the POSIX layer: SDL2's simple message box on a display,
// else one line on standard output.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/win32.h"

namespace {

// SDL is loaded only when a box can be shown, so that a run without a
// display, or a machine without SDL, pays nothing for it.
typedef int (*ShowSimpleMessageBox)(std::uint32_t flags, const char* title, const char* message, void* window);

bool show_sdl_box(const char* text, const char* caption) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) return false;
    void* sdl = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (sdl == nullptr) return false;
    const auto show = reinterpret_cast<ShowSimpleMessageBox>(dlsym(sdl, "SDL_ShowSimpleMessageBox"));
    // SDL stays loaded: it may have registered exit handlers of its own.
    return show != nullptr && show(0, caption, text, nullptr) == 0;
}

void write_all(const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(STDOUT_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Writes text with every control character shown as '?': a file name in the
// text must neither break the one line nor send escape sequences to the
// terminal.
void write_printable(const char* text) {
    char buffer[256];
    std::size_t used = 0;
    for (; *text != '\0'; ++text) {
        const unsigned char c = static_cast<unsigned char>(*text);
        buffer[used++] = c < 0x20 || c == 0x7F ? '?' : *text;
        if (used == sizeof buffer) {
            write_all(buffer, used);
            used = 0;
        }
    }
    write_all(buffer, used);
}

}  // namespace

int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
    if (show_sdl_box(lpText, lpCaption)) return IDOK;
    // No box could be shown: the message still reaches the user, as the
    // line "CAPTION: TEXT", and the result says no box was closed.
    write_printable(lpCaption);
    write_all(": ", 2);
    write_printable(lpText);
    write_all("\n", 1);
    return 0;
}
