// A WinMain for our start-up that shows what it was given: the x87 control
// word it finds, its four arguments, and then it returns 7, which the
// start-up must pass on as the exit code.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
    unsigned short control;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    // Bit 6 is reserved and reads back as one on some processors only.
    char text[1024];
    wsprintfA(text, "control word %04x, instance %s, previous %s, show %d, tail [%.900s]", control & ~0x40,
              instance == GetModuleHandleA(nullptr) ? "this module" : "wrong", previous == nullptr ? "null" : "set",
              show, tail);
    MessageBoxA(nullptr, text, "start probe", MB_OK);
    return 7;
}
