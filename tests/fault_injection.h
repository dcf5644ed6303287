// Makes one chosen system call fail, as a failing disk would, in test
// programs linked with -Wl,--wrap for each call listed here. Only calls made
// by our own code pass through the wrapper.
#ifndef KORIMBA_TESTS_FAULT_INJECTION_H
#define KORIMBA_TESTS_FAULT_INJECTION_H

enum class Call { fsync, openat, linkat, renameat, copy_file_range, read, write, open, count };

// The nth call (from 1) of that kind from now on fails with error; later
// calls go through again. For openat only the opening of an unnamed file
// (O_TMPFILE) counts and fails.
void fail_call(Call call, int nth, int error);
// Disarms every fault and resets the counts.
void clear_faults();
// How many calls of that kind were made since the last clear_faults.
int calls_made(Call call);

#endif
