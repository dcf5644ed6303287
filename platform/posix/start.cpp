// The program's start-up on POSIX systems: what the Windows start-up for GUI
// programs does before and after WinMain.
#include <csignal>

#include "platform/posix/layer.h"

extern "C" char __executable_start;

int main(int argc, char** argv) {
    char* tail = posix_layer::set_command_line(argc, argv);
    // A closed standard output must not end the run between two moves.
    std::signal(SIGPIPE, SIG_IGN);
#if defined(__i386__) || defined(__x86_64__)
    // The x87 setting the Windows start-up leaves for WinMain: invalid
    // operation, zero divide and overflow unmasked, 64-bit precision.
    const unsigned short control_word = 0x1332;
    __asm__ volatile("fninit\n\tfldcw %0" : : "m"(control_word));
#endif
    return WinMain(reinterpret_cast<HINSTANCE>(&__executable_start), nullptr, tail, SW_SHOWDEFAULT);
}
