// Linked into a variant of the installer with -Wl,--wrap=openat: every
// request for an unnamed file (O_TMPFILE) fails as it does on file systems
// that have none, so that whole runs take the layer's other path, a copy
// under a temporary name.
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>

extern "C" int __real_openat(int dirfd, const char* path, int flags, ...);

extern "C" int __wrap_openat(int dirfd, const char* path, int flags, ...) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return __real_openat(dirfd, path, flags, mode);
}
