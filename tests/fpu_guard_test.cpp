// The floating-point guard, checked bit for bit on the x87 unit itself.
#include "messages/fpu_guard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)

namespace {

// The x87 save image: environment, then the eight registers.
struct X87Image {
    std::uint8_t bytes[108];
    std::uint16_t control() const { return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8); }
    std::uint16_t status() const { return static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8); }
    std::uint16_t tag() const { return static_cast<std::uint16_t>(bytes[8] | bytes[9] << 8); }
};

// Bit 6 of the control word is reserved and always stored as 1.
constexpr std::uint16_t kReservedBit = 0x0040;

// Reads the whole x87 state without changing it.
void capture(X87Image* image) { __asm__ volatile("fnsave %0\n\tfrstor %0" : "+m"(*image)); }

// Bytes 12 to 27 of the image are the instruction and operand pointers. The
// operating system does not always keep them across a context switch (AMD
// processors reload them only with an exception pending), so a comparison
// that differs there alone is run again: the guard's own fault would show
// every time, a preemption only now and then.
bool same_image(const X87Image& a, const X87Image& b) { return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0; }
bool same_but_pointers(const X87Image& a, const X87Image& b) {
    return std::memcmp(a.bytes, b.bytes, 12) == 0 && std::memcmp(a.bytes + 28, b.bytes + 28, sizeof a.bytes - 28) == 0;
}
constexpr int kAttempts = 5;

std::uint32_t read_mxcsr() {
    std::uint32_t value;
    __asm__ volatile("stmxcsr %0" : "=m"(value));
    return value;
}
void load_mxcsr(std::uint32_t value) { __asm__ volatile("ldmxcsr %0" : : "m"(value)); }
void load_control(std::uint16_t value) { __asm__ volatile("fldcw %0" : : "m"(value)); }
void push(long double value) { __asm__ volatile("fldt %0" : : "m"(value)); }
void reset_unit() { __asm__ volatile("fninit"); }

// A caller's state worth keeping: the start-up's control word, values on
// the stack and a pending (masked) precision flag from an inexact divide.
void make_caller_state() {
    reset_unit();
    load_control(0x1332);
    push(1.5L);
    push(-2.25L);
    push(3.0L);
    __asm__ volatile("fld1\n\tfdiv %%st(1), %%st\n\tfstp %%st(0)" ::: "st");  // 1/3: inexact
    load_mxcsr(0x1F80 & ~0x0200u);                                            // SSE divide-by-zero unmasked
}

// What shielded code might do: round toward zero at 24-bit precision with
// every exception unmasked, leave values behind, and raise flags.
void disturb_unit() {
    load_control(0x0C40);
    push(7.0L);
    push(8.0L);
    load_mxcsr(0x7F80 | 0x003F);  // round toward zero, all SSE flags raised
}

class FpuGuard : public ::testing::Test {
   protected:
    void TearDown() override {
        reset_unit();
        load_mxcsr(0x1F80);
    }
};

TEST_F(FpuGuard, SaveThenRestoreChangesNothing) {
    X87Image before, after;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        make_caller_state();
        capture(&before);
        FpuStateBlock block;
        save_fpu_state(&block);
        restore_fpu_state(&block);
        capture(&after);
        if (same_image(before, after) || !same_but_pointers(before, after)) break;
    }
    EXPECT_TRUE(same_image(before, after));
    EXPECT_EQ(0x1F80u & ~0x0200u, read_mxcsr());
    EXPECT_EQ(0x1332 | kReservedBit, after.control());
    EXPECT_NE(0, after.status() & 0x0020) << "the pending precision flag is back";
}

TEST_F(FpuGuard, ShieldedCodeStartsInitialAndLeavesNoTrace) {
    X87Image before, inside, after;
    std::uint32_t mxcsr_before = 0, mxcsr_inside = 0, mxcsr_after = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        make_caller_state();
        capture(&before);
        mxcsr_before = read_mxcsr();
        FpuStateBlock block;
        save_fpu_state(&block);
        capture(&inside);
        mxcsr_inside = read_mxcsr();
        disturb_unit();
        restore_fpu_state(&block);
        capture(&after);
        mxcsr_after = read_mxcsr();
        if (same_image(before, after) || !same_but_pointers(before, after)) break;
    }

    EXPECT_EQ(0x037F, inside.control()) << "every exception masked, 64-bit precision, nearest";
    EXPECT_EQ(0, inside.status());
    EXPECT_EQ(0xFFFF, inside.tag()) << "all registers empty";
#if defined(__x86_64__)
    EXPECT_EQ(0x1F80u, mxcsr_inside);
#else
    (void)mxcsr_inside;
#endif

    EXPECT_TRUE(same_image(before, after));
    EXPECT_EQ(mxcsr_before, mxcsr_after);

    // The caller's values come back off the stack unchanged.
    long double top, second, third;
    __asm__ volatile("fstpt %0" : "=m"(top));
    __asm__ volatile("fstpt %0" : "=m"(second));
    __asm__ volatile("fstpt %0" : "=m"(third));
    EXPECT_EQ(3.0L, top);
    EXPECT_EQ(-2.25L, second);
    EXPECT_EQ(1.5L, third);
}

TEST_F(FpuGuard, BlockHoldsTheSaveImage) {
    X87Image before, saved;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        make_caller_state();
        capture(&before);
        FpuStateBlock block;
        save_fpu_state(&block);
        FpuStateBlock copy = block;  // a block may be moved between save and restore
        std::memset(&block, 0xAA, sizeof block);
        restore_fpu_state(&copy);
        std::memcpy(saved.bytes, &copy, sizeof saved.bytes);
        if (same_image(before, saved) || !same_but_pointers(before, saved)) break;
    }
    EXPECT_TRUE(same_image(before, saved));
}

}  // namespace

#endif
