// The program's start-up on Windows, in place of the C runtime's: the
// installer needs none of what that start-up prepares, and it would leave
// the x87 unit in a state other than the one WinMain is written for.
#include "platform/win32.h"
#include "platform/win32/command_tail.h"

// The image's entry point (the linker is told its name). Nothing runs
// before it, so there are no static constructors, and the core has none.
// Windows may enter with the stack aligned to four bytes only on x86, so
// the function realigns it for the code it calls.
extern "C" __attribute__((noreturn, force_align_arg_pointer)) void start_setup() {
    // The x87 setting WinMain starts from: invalid operation, zero divide
    // and overflow unmasked, 64-bit precision, round to nearest.
    const unsigned short control_word = 0x1332;
    __asm__ volatile("fninit\n\tfldcw %0" : : "m"(control_word));
    char* tail = command_tail(GetCommandLineA());
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWDEFAULT)));
}
