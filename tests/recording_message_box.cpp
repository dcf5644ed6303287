// A MessageBoxA that records what it was shown and the floating-point state
// it ran under, and then disturbs that state as careless code would.
#include "tests/recording_message_box.h"

#include "platform/win32.h"

RecordedBox recorded_box;

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    ++recorded_box.calls;
    recorded_box.caption = lpCaption;
    recorded_box.text = lpText;
    recorded_box.type = uType;
    recorded_box.has_owner = hWnd != nullptr;
#if defined(__i386__) || defined(__x86_64__)
    std::uint8_t environment[28];
    __asm__ volatile("fnstenv %0\n\tfldenv %0" : "=m"(environment));
    recorded_box.x87_control = static_cast<std::uint16_t>(environment[0] | environment[1] << 8);
    recorded_box.x87_status = static_cast<std::uint16_t>(environment[4] | environment[5] << 8);
    recorded_box.x87_tag = static_cast<std::uint16_t>(environment[8] | environment[9] << 8);
    __asm__ volatile("stmxcsr %0" : "=m"(recorded_box.mxcsr));

    const std::uint16_t careless_control = 0x0C40;
    const std::uint32_t careless_mxcsr = 0x7F80;
    const long double leftover = 42.0L;
    __asm__ volatile("fldcw %0\n\tfldt %1\n\tldmxcsr %2" : : "m"(careless_control), "m"(leftover), "m"(careless_mxcsr));
#endif
    return IDOK;
}
