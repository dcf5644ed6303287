// The installer's entry point and its file moves.
#include "installer/installer.h"

#include <cstring>

#include "messages/show_message.h"

char start_directory[500];

namespace {

// start_directory, the subdirectory, "\" and a file name.
char target_path[512];

// The names of the files that stayed behind, for one warning box before the
// confirmation. When a name no longer fits, it is only counted, and the
// count ends the list.
const char kNotMovedIntro[] = "These files could not be moved and are still in the start directory: ";
char not_moved[1024];
unsigned not_moved_length;
unsigned not_moved_count;
unsigned not_moved_overflow;

void append(const char* text, unsigned length) {
    std::memcpy(not_moved + not_moved_length, text, length);
    not_moved_length += length;
    not_moved[not_moved_length] = '\0';
}

// Room kept free for the end of the list: ", and 4294967295 more." and NUL.
constexpr unsigned kListTail = 24;

void note_not_moved(const char* name) {
    if (not_moved_count == 0) append(kNotMovedIntro, sizeof kNotMovedIntro - 1);
    ++not_moved_count;
    const unsigned length = static_cast<unsigned>(std::strlen(name));
    if (not_moved_overflow == 0 && not_moved_length + 2 + length + kListTail <= sizeof not_moved) {
        if (not_moved_count > 1) append(", ", 2);
        append(name, length);
    } else {
        ++not_moved_overflow;
    }
}

void finish_not_moved_list() {
    if (not_moved_overflow != 0) {
        char digits[10];
        unsigned n = 0;
        for (unsigned value = not_moved_overflow; value != 0; value /= 10)
            digits[n++] = static_cast<char>('0' + value % 10);
        append(" and ", 5);
        while (n != 0) append(&digits[--n], 1);
        append(" more", 5);
    }
    append(".", 1);
}

}  // namespace

void move_files(const char* pattern, const char* subdir) {
    const std::size_t directory_length = std::strlen(start_directory);
    const std::size_t subdir_length = std::strlen(subdir);
    // Room for the target directory, the separator and a name of at least
    // one character; start_directory has at most 498 characters, so only an
    // unusually long subdir can fail this.
    if (directory_length + subdir_length + 3 > sizeof target_path) return;
    std::memcpy(target_path, start_directory, directory_length);
    std::memcpy(target_path + directory_length, subdir, subdir_length + 1);

    // Entering the directory probes for it; whether it was entered or had to
    // be created, every search runs from the start directory.
    if (!SetCurrentDirectoryA(target_path)) CreateDirectoryA(target_path, nullptr);
    SetCurrentDirectoryA(start_directory);

    target_path[directory_length + subdir_length] = '\\';
    char* const name_at = target_path + directory_length + subdir_length + 1;
    const std::size_t name_room = sizeof target_path - (name_at - target_path);

    WIN32_FIND_DATA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // A directory whose name matches is not part of the distribution.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::size_t name_length = std::strlen(found.cFileName);
        if (name_length >= name_room) {
            note_not_moved(found.cFileName);
            continue;
        }
        std::memcpy(name_at, found.cFileName, name_length + 1);
        // The source goes only once its copy is in place, so a failure at any
        // step leaves the file where it was.
        if (!CopyFileA(found.cFileName, target_path, FALSE) || !DeleteFileA(found.cFileName))
            note_not_moved(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Without its own directory the installer would build its targets from
    // an empty text, at the root of the drive: better to do nothing.
    const DWORD length = GetCurrentDirectoryA(499, start_directory);
    if (length == 0) {
        show_message("Nothing was installed: the current directory could not be read.");
        return 1;
    }
    if (length >= 499) {
        show_message("Nothing was installed: the path of the current directory is longer than 498 characters.");
        return 1;
    }

    move_files("*.h", "\\INCLUDE");
    move_files("*.lib", "\\LIB");

    if (not_moved_count != 0) {
        finish_not_moved_list();
        show_message(not_moved);
    }
    show_message("Korimba successfully installed!");
    return 0;
}
