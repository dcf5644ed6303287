// The wrappers behind fault_injection.h: each counts its calls and fails the
// chosen one, else hands over to the real call.
#include "tests/fault_injection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace {

struct Fault {
    int calls = 0;
    int fail_at = 0;  // 0: never
    int error = 0;
};
Fault faults[static_cast<int>(Call::count)];

// Counts a call and says whether it is the one to fail, with errno set.
bool fails(Call call) {
    Fault& fault = faults[static_cast<int>(call)];
    if (++fault.calls != fault.fail_at) return false;
    errno = fault.error;
    return true;
}

}  // namespace

void fail_call(Call call, int nth, int error) {
    Fault& fault = faults[static_cast<int>(call)];
    fault.fail_at = fault.calls + nth;
    fault.error = error;
}

void clear_faults() {
    for (Fault& fault : faults) fault = Fault();
}

int calls_made(Call call) { return faults[static_cast<int>(call)].calls; }

extern "C" {

int __real_fsync(int fd);
int __real_openat(int dirfd, const char* path, int flags, ...);
int __real_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags);
int __real_renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath);
ssize_t __real_copy_file_range(int in, off64_t* in_off, int out, off64_t* out_off, size_t length, unsigned flags);
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_write(int fd, const void* buffer, size_t count);
int __real_open(const char* path, int flags, ...);

int __wrap_fsync(int fd) { return fails(Call::fsync) ? -1 : __real_fsync(fd); }

int __wrap_openat(int dirfd, const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if ((flags & O_TMPFILE) == O_TMPFILE && fails(Call::openat)) return -1;
    return __real_openat(dirfd, path, flags, mode);
}

int __wrap_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
    return fails(Call::linkat) ? -1 : __real_linkat(olddirfd, oldpath, newdirfd, newpath, flags);
}

int __wrap_renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
    return fails(Call::renameat) ? -1 : __real_renameat(olddirfd, oldpath, newdirfd, newpath);
}

ssize_t __wrap_copy_file_range(int in, off64_t* in_off, int out, off64_t* out_off, size_t length, unsigned flags) {
    return fails(Call::copy_file_range) ? -1 : __real_copy_file_range(in, in_off, out, out_off, length, flags);
}

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    return fails(Call::read) ? -1 : __real_read(fd, buffer, count);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
    return fails(Call::write) ? -1 : __real_write(fd, buffer, count);
}

int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return fails(Call::open) ? -1 : __real_open(path, flags, mode);
}

}  // extern "C"
