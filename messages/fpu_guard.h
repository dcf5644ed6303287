// Keeps a caller's floating-point state away from code that runs between a
// save and its restore: that code starts from the unit's initial state, and
// nothing it does to the unit survives the restore.
#ifndef KORIMBA_MESSAGES_FPU_GUARD_H
#define KORIMBA_MESSAGES_FPU_GUARD_H

#include <cstdint>

// One saved floating-point state. On x86 bytes 0 to 107 are the x87 save
// image (28-byte environment, then the eight 80-bit registers); on x86-64
// bytes 108 to 111 also hold MXCSR, since arithmetic there runs on SSE.
struct FpuStateBlock {
    std::uint32_t words[32];
};
static_assert(sizeof(FpuStateBlock) == 128, "a state block is 128 bytes");

// Saves the complete state into block and leaves the unit initialised, with
// every exception masked and rounding to nearest.
void save_fpu_state(FpuStateBlock* block);

// Reloads exactly the state that save_fpu_state stored into block.
void restore_fpu_state(const FpuStateBlock* block);

#endif
