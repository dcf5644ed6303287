// The reporter: its caption, its box, and the floating-point state around it.
#include "messages/show_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "platform/posix/layer.h"
#include "tests/recording_message_box.h"

namespace {

void set_command_line(std::initializer_list<const char*> args) {
    static char storage[8][64];
    char* argv[8];
    int argc = 0;
    for (const char* a : args) {
        std::snprintf(storage[argc], sizeof storage[argc], "%s", a);
        argv[argc] = storage[argc];
        ++argc;
    }
    posix_layer::set_command_line(argc, argv);
}

TEST(ShowMessage, ShowsTextUnderTheProgramsNameWithOneOkButton) {
    recorded_box = RecordedBox();
    set_command_line({"/opt/k/setup", "D:/not-a-separator"});
    show_message("Korimba successfully installed!");
    EXPECT_EQ(1, recorded_box.calls);
    EXPECT_EQ("setup D:/not-a-separator", recorded_box.caption);
    EXPECT_EQ("Korimba successfully installed!", recorded_box.text);
    EXPECT_EQ(static_cast<unsigned>(MB_OK), recorded_box.type);
    EXPECT_FALSE(recorded_box.has_owner);

    set_command_line({"/opt/k/setup"});
    show_message("x");
    EXPECT_EQ("setup", recorded_box.caption);
}

#if defined(__i386__) || defined(__x86_64__)
TEST(ShowMessage, BoxRunsInTheInitialStateAndTheCallersStateSurvives) {
    recorded_box = RecordedBox();
    set_command_line({"/opt/k/setup"});

    // The state the start-up leaves, with a value on the stack and a changed
    // SSE rounding mode.
    const std::uint16_t start_up_control = 0x1332;
    const std::uint32_t caller_mxcsr = 0x3F80;  // round down
    const long double kept = 2.5L;
    __asm__ volatile("fninit\n\tfldcw %0\n\tfldt %1\n\tldmxcsr %2"
                     :
                     : "m"(start_up_control), "m"(kept), "m"(caller_mxcsr));

    show_message("Korimba successfully installed!");

    std::uint8_t environment[28];
    std::uint32_t mxcsr_after;
    long double top;
    __asm__ volatile("fnstenv %0\n\tfldenv %0\n\tstmxcsr %1" : "=m"(environment), "=m"(mxcsr_after));
    const std::uint16_t control_after = static_cast<std::uint16_t>(environment[0] | environment[1] << 8);
    const std::uint16_t tag_after = static_cast<std::uint16_t>(environment[8] | environment[9] << 8);
    __asm__ volatile("fstpt %0" : "=m"(top));
    const std::uint32_t default_mxcsr = 0x1F80;
    __asm__ volatile("fninit\n\tldmxcsr %0" : : "m"(default_mxcsr));

    EXPECT_EQ(0x037F, recorded_box.x87_control);
    EXPECT_EQ(0, recorded_box.x87_status);
    EXPECT_EQ(0xFFFF, recorded_box.x87_tag);
#if defined(__x86_64__)
    EXPECT_EQ(0x1F80u, recorded_box.mxcsr);
    EXPECT_EQ(caller_mxcsr, mxcsr_after);
#endif
    EXPECT_EQ(0x1332 | 0x0040, control_after) << "bit 6 is reserved and always stored as 1";
    EXPECT_EQ(0x3FFF, tag_after) << "one register in use, the rest empty";
    EXPECT_EQ(2.5L, top);
}
#endif

}  // namespace
