// CopyFileA for the POSIX layer.
//
// Stricter than Windows on purpose, because the caller deletes the source as
// soon as the copy succeeds: the copy is written to an unnamed file in the
// target directory, flushed, and only then given the destination's name in
// one step, and the directory is flushed before success is reported. A kill,
// a crash or a full disk therefore never leaves a torn file under a final
// name and never harms an old destination. A destination that is a symbolic
// link is replaced, never written through.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/layer.h"

using namespace posix_layer;

namespace {

// Splits path in place into its directory and its last component.
void split(char* path, const char** directory, const char** name) {
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        *directory = ".";
        *name = path;
    } else {
        *slash = '\0';
        *directory = slash == path ? "/" : path;
        *name = slash + 1;
    }
}

// Copies the whole of in to out. The kernel copies when it can; where it
// refuses (another file system, an old kernel), a buffer does.
bool copy_data(int in, int out, off_t size) {
    off_t done = 0;
    while (done < size) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == 0) break;  // the source shrank; what is left is read below
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EPERM) break;
        return false;
    }
    // Whatever the kernel did not copy, and anything the source grew by.
    static char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = write(out, buffer + put, static_cast<size_t>(got - put));
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            put += n;
        }
    }
}

struct Fds {
    int source = -1;
    int directory = -1;
    int copy = -1;
    ~Fds() {
        if (source >= 0) close(source);
        if (directory >= 0) close(directory);
        if (copy >= 0) close(copy);
    }
};

// Whether two paths name one and the same directory entry, which Windows
// refuses to copy onto itself; here it would delete the only copy next.
bool same_entry(const char* source, const struct stat& destination, int destination_dir, const char* destination_name) {
    struct stat source_st;
    if (lstat(source, &source_st) != 0) return false;
    if (source_st.st_dev != destination.st_dev || source_st.st_ino != destination.st_ino) return false;
    char copy[kPathMax];
    std::strcpy(copy, source);
    const char* directory;
    const char* name;
    split(copy, &directory, &name);
    struct stat a, b;
    if (stat(directory, &a) != 0 || fstat(destination_dir, &b) != 0) return true;  // be safe
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && std::strcmp(name, destination_name) == 0;
}

// A name that no pattern of the installer matches and no other run picks.
void temporary_name(char* out, std::size_t size) {
    static unsigned serial;
    std::snprintf(out, size, ".korimba-%ld-%u.tmp", static_cast<long>(getpid()), serial++);
}

// Links the unnamed file open as fd into directory under name.
bool give_name(int fd, int directory, const char* name) {
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, directory, name, AT_SYMLINK_FOLLOW) == 0) return true;
    // Without /proc, the direct form, which needs privilege.
    return errno == ENOENT && linkat(fd, "", directory, name, AT_EMPTY_PATH) == 0;
}

}  // namespace

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    char source[kPathMax], destination[kPathMax];
    if (!to_posix_path(lpExistingFileName, source, sizeof source)) return FALSE;
    if (!to_posix_path(lpNewFileName, destination, sizeof destination)) return FALSE;

    // Only a regular file is opened at all: opening a device can act by
    // itself (a tape rewinds, a watchdog starts). The same test after the
    // open catches a name that changed in between.
    struct stat source_st;
    if (stat(source, &source_st) != 0) return fail_with_errno(errno);
    if (!S_ISREG(source_st.st_mode)) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }

    Fds fd;
    // Non-blocking, so that a FIFO named like a file cannot hold the copy.
    fd.source = open(source, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd.source < 0) return fail_with_errno(errno);
    if (fstat(fd.source, &source_st) != 0) return fail_with_errno(errno);
    if (!S_ISREG(source_st.st_mode)) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    fcntl(fd.source, F_SETFL, 0);

    const char* directory;
    const char* name;
    split(destination, &directory, &name);
    if (*name == '\0') {
        set_last_error(ERROR_INVALID_NAME);
        return FALSE;
    }
    fd.directory = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd.directory < 0) return fail_with_errno(errno == ENOENT ? ENOTDIR : errno);

    struct stat existing;
    const bool exists = fstatat(fd.directory, name, &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        if (bFailIfExists) {
            set_last_error(ERROR_FILE_EXISTS);
            return FALSE;
        }
        if (same_entry(source, existing, fd.directory, name)) {
            set_last_error(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        // Windows does not replace a read-only file or a directory.
        if (S_ISDIR(existing.st_mode) || (S_ISREG(existing.st_mode) && (existing.st_mode & S_IWUSR) == 0)) {
            set_last_error(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }

    // The copy has no name until it is complete and on disk. Where the file
    // system cannot make unnamed files, a temporary name that no pattern of
    // the installer matches stands in, and is removed on failure.
    char temporary[64] = "";
    fd.copy = openat(fd.directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd.copy < 0) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return fail_with_errno(errno);
        for (int attempt = 0; fd.copy < 0 && attempt < 100; ++attempt) {
            temporary_name(temporary, sizeof temporary);
            fd.copy = openat(fd.directory, temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd.copy < 0 && errno != EEXIST) break;
        }
        if (fd.copy < 0) return fail_with_errno(errno);
    }

    // Windows carries the attributes and the last-write time over. The
    // permission bits stand in for the attributes; set-user-ID and the like
    // are not carried to a file with a new owner.
    const struct timespec times[2] = {source_st.st_atim, source_st.st_mtim};
    bool ok = copy_data(fd.source, fd.copy, source_st.st_size) && fchmod(fd.copy, source_st.st_mode & 0777) == 0 &&
              futimens(fd.copy, times) == 0 && fsync(fd.copy) == 0;

    if (ok && temporary[0] == '\0') {
        // Name the finished copy: straight under the destination's name when
        // that is free, else under a temporary name renamed over it below.
        if (!exists && give_name(fd.copy, fd.directory, name)) {
            // in place, nothing to rename
        } else if (!exists && errno != EEXIST) {
            ok = false;
        } else {
            temporary_name(temporary, sizeof temporary);
            ok = give_name(fd.copy, fd.directory, temporary);
            if (!ok) temporary[0] = '\0';
        }
    }
    if (ok && temporary[0] != '\0') ok = renameat(fd.directory, temporary, fd.directory, name) == 0;
    const int error = errno;
    if (!ok) {
        if (temporary[0] != '\0') unlinkat(fd.directory, temporary, 0);
        return fail_with_errno(error);
    }
    // The new name is durable only once its directory is.
    if (fsync(fd.directory) != 0) return fail_with_errno(errno);
    return TRUE;
}
