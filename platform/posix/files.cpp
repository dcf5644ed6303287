// Directories, searches and deletion for the POSIX layer, with the Windows
// contracts the core relies on; also the layer's error value and path mapping.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/layer.h"

namespace posix_layer {

namespace {
DWORD last_error;
}  // namespace

void set_last_error(DWORD code) { last_error = code; }

BOOL fail_with_errno(int error) {
    DWORD code;
    switch (error) {
        case ENOENT: code = ERROR_FILE_NOT_FOUND; break;
        case ENOTDIR: code = ERROR_PATH_NOT_FOUND; break;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ENXIO: code = ERROR_ACCESS_DENIED; break;
        case EBADF: code = ERROR_INVALID_HANDLE; break;
        case ENOMEM: code = ERROR_NOT_ENOUGH_MEMORY; break;
        case EROFS: code = ERROR_WRITE_PROTECT; break;
        case EBUSY:
        case ETXTBSY: code = ERROR_SHARING_VIOLATION; break;
        case EEXIST: code = ERROR_ALREADY_EXISTS; break;
        case ENOSPC:
        case EDQUOT: code = ERROR_DISK_FULL; break;
        case ENOTEMPTY: code = ERROR_DIR_NOT_EMPTY; break;
        case ENAMETOOLONG: code = ERROR_FILENAME_EXCED_RANGE; break;
        case EINVAL: code = ERROR_INVALID_NAME; break;
        default: code = ERROR_GEN_FAILURE; break;
    }
    last_error = code;
    return FALSE;
}

bool to_posix_path(const char* windows_path, char* out, std::size_t out_size) {
    std::size_t i = 0;
    for (; windows_path[i] != '\0'; ++i) {
        if (i + 1 >= out_size) {
            last_error = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        out[i] = windows_path[i] == '\\' ? '/' : windows_path[i];
    }
    out[i] = '\0';
    return true;
}

namespace {
unsigned char fold(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}
}  // namespace

bool wildcard_match(const char* pattern, const char* name) {
    // Greedy matching that returns to the last star on a mismatch: linear in
    // practice and never recursive, whatever the pattern.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = ++pattern;
            resume = name;
        } else if (*pattern != '\0' && (*pattern == '?' || fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

}  // namespace posix_layer

using namespace posix_layer;

extern "C" DWORD WINAPI GetLastError(void) { return last_error; }

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char cwd[kPathMax];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        if (errno == ERANGE || errno == ENAMETOOLONG) {
            // Longer than any path the layer handles; the exact size is
            // unknown, and this is a lower bound of it.
            set_last_error(ERROR_FILENAME_EXCED_RANGE);
            return static_cast<DWORD>(kPathMax + 1);
        }
        fail_with_errno(errno);
        return 0;
    }
    // A backslash in the path has no Windows form: handed out, it would be
    // read as a separator and name another directory.
    if (std::strchr(cwd, '\\') != nullptr) {
        set_last_error(ERROR_INVALID_NAME);
        return 0;
    }
    const std::size_t length = std::strlen(cwd);
    if (length + 1 > nBufferLength) return static_cast<DWORD>(length + 1);
    for (std::size_t i = 0; i <= length; ++i) lpBuffer[i] = cwd[i] == '/' ? '\\' : cwd[i];
    return static_cast<DWORD>(length);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    char path[kPathMax];
    if (!to_posix_path(lpPathName, path, sizeof path)) return FALSE;
    return chdir(path) == 0 ? TRUE : fail_with_errno(errno);
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    char path[kPathMax];
    if (!to_posix_path(lpPathName, path, sizeof path)) return FALSE;
    if (mkdir(path, 0777) != 0) return fail_with_errno(errno);
    // Files are about to be moved into the new directory and deleted from
    // its parent: its own entry must be on disk before they are.
    char* slash = std::strrchr(path, '/');
    while (slash != nullptr && slash[1] == '\0') {  // trailing separators
        *slash = '\0';
        slash = std::strrchr(path, '/');
    }
    const char* parent = ".";
    if (slash == path) {
        parent = "/";
    } else if (slash != nullptr) {
        *slash = '\0';
        parent = path;
    }
    const int parent_fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent_fd < 0) return fail_with_errno(errno);
    const int synced = fsync(parent_fd);
    const int error = errno;
    close(parent_fd);
    return synced == 0 ? TRUE : fail_with_errno(error);
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    char path[kPathMax];
    if (!to_posix_path(lpFileName, path, sizeof path)) return FALSE;
    struct stat st;
    if (lstat(path, &st) != 0) return fail_with_errno(errno);
    // Windows refuses to delete a directory or a read-only file; without an
    // owner write bit a file counts as read-only, for root too.
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0)) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return unlink(path) == 0 ? TRUE : fail_with_errno(errno);
}

namespace {

// A search holds its whole listing, sorted, so that entries come in name
// order and deleting entries during the search changes nothing. A listing
// has no fixed bound, so this is the one place where the layer allocates.
struct Search {
    DIR* directory;
    char* names;           // the matching names, each with its NUL
    std::size_t* offsets;  // where each name begins, in name order
    std::size_t count;
    std::size_t next;
};

const char* sort_base;

int by_name(const void* a, const void* b) {
    return std::strcmp(sort_base + *static_cast<const std::size_t*>(a),
                       sort_base + *static_cast<const std::size_t*>(b));
}

void close_search(Search* search) {
    closedir(search->directory);
    std::free(search->names);
    std::free(search->offsets);
    std::free(search);
}

DWORD to_filetime_part(const struct timespec& t, bool high) {
    // 100-nanosecond intervals since 1601-01-01.
    const unsigned long long ticks = (static_cast<unsigned long long>(t.tv_sec) + 11644473600ULL) * 10000000ULL +
                                     static_cast<unsigned long long>(t.tv_nsec) / 100;
    return static_cast<DWORD>(high ? ticks >> 32 : ticks);
}

void deliver(Search* search, LPWIN32_FIND_DATAA found) {
    const char* name = search->names + search->offsets[search->next++];
    std::memset(found, 0, sizeof *found);
    std::strncpy(found->cFileName, name, sizeof found->cFileName - 1);

    // Attributes describe what a name leads to; a dangling link is shown as
    // the plain file it pretends to be, and its copy will fail.
    struct stat st;
    const int dir_fd = dirfd(search->directory);
    if (fstatat(dir_fd, name, &st, 0) != 0 && fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        found->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        return;
    }
    if (S_ISDIR(st.st_mode))
        found->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        found->dwFileAttributes = FILE_ATTRIBUTE_DEVICE;
    else if ((st.st_mode & S_IWUSR) == 0)
        found->dwFileAttributes = FILE_ATTRIBUTE_READONLY;
    else
        found->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    const unsigned long long size = static_cast<unsigned long long>(st.st_size);
    found->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    found->nFileSizeLow = static_cast<DWORD>(size);
    found->ftLastWriteTime.dwLowDateTime = to_filetime_part(st.st_mtim, false);
    found->ftLastWriteTime.dwHighDateTime = to_filetime_part(st.st_mtim, true);
    found->ftLastAccessTime.dwLowDateTime = to_filetime_part(st.st_atim, false);
    found->ftLastAccessTime.dwHighDateTime = to_filetime_part(st.st_atim, true);
    found->ftCreationTime = found->ftLastWriteTime;
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    char path[kPathMax];
    if (!to_posix_path(lpFileName, path, sizeof path)) return INVALID_HANDLE_VALUE;
    const char* directory = ".";
    const char* pattern = path;
    if (char* slash = std::strrchr(path, '/')) {
        *slash = '\0';
        directory = slash == path ? "/" : path;
        pattern = slash + 1;
    }

    DIR* dir = opendir(directory);
    if (dir == nullptr) {
        fail_with_errno(errno == ENOENT ? ENOTDIR : errno);
        return INVALID_HANDLE_VALUE;
    }
    Search* search = static_cast<Search*>(std::calloc(1, sizeof(Search)));
    if (search == nullptr) {
        closedir(dir);
        set_last_error(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    search->directory = dir;

    std::size_t used = 0, capacity = 0, offsets_capacity = 0;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        // "." and ".." are never part of a listing handed to the caller.
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        // The caller's paths use the backslash as separator, so a name that
        // holds one has no Windows form: handed out, it would be read as a
        // path to another file, even outside the directory. It is left out,
        // and the file stays where it is.
        if (std::strchr(name, '\\') != nullptr) continue;
        if (!wildcard_match(pattern, name)) continue;
        const std::size_t length = std::strlen(name) + 1;
        if (used + length > capacity || search->count == offsets_capacity) {
            capacity = (capacity + length) * 2;
            offsets_capacity = offsets_capacity * 2 + 16;
            char* names = static_cast<char*>(std::realloc(search->names, capacity));
            if (names != nullptr) search->names = names;
            std::size_t* offsets =
                static_cast<std::size_t*>(std::realloc(search->offsets, offsets_capacity * sizeof(std::size_t)));
            if (offsets != nullptr) search->offsets = offsets;
            if (names == nullptr || offsets == nullptr) {
                close_search(search);
                set_last_error(ERROR_NOT_ENOUGH_MEMORY);
                return INVALID_HANDLE_VALUE;
            }
        }
        std::memcpy(search->names + used, name, length);
        search->offsets[search->count++] = used;
        used += length;
    }
    if (errno != 0) {
        const int error = errno;
        close_search(search);
        fail_with_errno(error);
        return INVALID_HANDLE_VALUE;
    }
    if (search->count == 0) {
        close_search(search);
        set_last_error(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    sort_base = search->names;
    std::qsort(search->offsets, search->count, sizeof(std::size_t), by_name);
    deliver(search, lpFindFileData);
    return search;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    if (hFindFile == INVALID_HANDLE_VALUE || hFindFile == nullptr) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Search* search = static_cast<Search*>(hFindFile);
    if (search->next == search->count) {
        set_last_error(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    deliver(search, lpFindFileData);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (hFindFile == INVALID_HANDLE_VALUE || hFindFile == nullptr) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    close_search(static_cast<Search*>(hFindFile));
    return TRUE;
}
