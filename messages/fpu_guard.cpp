// The floating-point state guard. Its body is per architecture: the x87
// save and restore instructions where they exist, <cfenv> elsewhere.
#include "messages/fpu_guard.h"

#if !defined(__i386__) && !defined(__x86_64__) && !defined(_M_IX86) && !defined(_M_X64)
#include <cfenv>
#include <cstring>
#endif

namespace {

// Every save passes through this block on its way from the processor to
// the caller, and every restore on its way back. It is shared, so a save
// and a restore must not run on two threads at once.
FpuStateBlock scratch;

void copy_block(FpuStateBlock* to, const FpuStateBlock* from) {
    for (int i = 0; i < 32; ++i) to->words[i] = from->words[i];
}

#if defined(__x86_64__) || defined(_M_X64)
// Where the byte after the x87 image keeps MXCSR.
constexpr int kMxcsrWord = 108 / 4;
#endif

}  // namespace

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)

void save_fpu_state(FpuStateBlock* block) {
    // The waiting form of the save delivers a pending unmasked exception
    // before the state is stored; the save then initialises the unit.
    __asm__ volatile("fsave %0\n\tfwait" : "=m"(scratch));
#if defined(__x86_64__) || defined(_M_X64)
    const std::uint32_t default_mxcsr = 0x1F80;
    __asm__ volatile("stmxcsr %0\n\tldmxcsr %1" : "=m"(scratch.words[kMxcsrWord]) : "m"(default_mxcsr));
#endif
    copy_block(block, &scratch);
}

void restore_fpu_state(const FpuStateBlock* block) {
    copy_block(&scratch, block);
    __asm__ volatile("fwait\n\tfrstor %0" : : "m"(scratch));
#if defined(__x86_64__) || defined(_M_X64)
    __asm__ volatile("ldmxcsr %0" : : "m"(scratch.words[kMxcsrWord]));
#endif
}

#else

static_assert(sizeof(std::fenv_t) <= sizeof(FpuStateBlock), "fenv_t fits a state block");

void save_fpu_state(FpuStateBlock* block) {
    std::fenv_t env;
    std::fegetenv(&env);
    std::memcpy(scratch.words, &env, sizeof env);
    std::fesetenv(FE_DFL_ENV);
    copy_block(block, &scratch);
}

void restore_fpu_state(const FpuStateBlock* block) {
    copy_block(&scratch, block);
    std::fenv_t env;
    std::memcpy(&env, scratch.words, sizeof env);
    std::fesetenv(&env);
}

#endif
