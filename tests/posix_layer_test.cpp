// The POSIX layer keeps the Windows contracts the core relies on, on real
// directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/layer.h"
#include "tests/test_support.h"

namespace {

// Runs the test body with dir as the current directory.
class InDirectory : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_NE(nullptr, getcwd(previous_, sizeof previous_));
        ASSERT_EQ(0, chdir(dir_.path().c_str()));
    }
    void TearDown() override { ASSERT_EQ(0, chdir(previous_)); }
    std::string windows_path(const std::string& posix) const {
        std::string p = posix;
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
    }
    TempDir dir_;
    char previous_[4096];
};

TEST(WildcardMatch, Table) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.h", "a.h", true},          {"*.h", "A.H", true},          {"*.h", ".h", true},
        {"*.h", "a.hpp", false},       {"*.h", "a.h.bak", false},     {"*.h", "a.b.h", true},
        {"*.lib", "k.LiB", true},      {"*.lib", "x.library", false}, {"?.h", "ab.h", false},
        {"?.h", "a.h", true},          {"a*b*c", "aXbYbZc", true},    {"a*b*c", "aXbYbZ", false},
        {"*", "anything", true},       {"**.h", "a.h", true},         {"*.h", "", false},
        {"\xC4*.h", "\xE4x.h", false},  // only ASCII letters fold
        {"*.h", "\xFF\xFE.h", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.matches, posix_layer::wildcard_match(c.pattern, c.name)) << c.pattern << " vs " << c.name;
}

TEST(WildcardMatch, StarsDoNotExplode) {
    const std::string name(4000, 'a');
    EXPECT_FALSE(posix_layer::wildcard_match("*a*a*a*a*a*a*a*a*a*a*a*a*b", name.c_str()));
}

TEST(CommandLine, JoinsArgvTheWindowsWay) {
    struct Case {
        std::vector<const char*> argv;
        const char* line;
        const char* tail;
    } cases[] = {
        {{"/opt/k/setup"}, "\\opt\\k\\setup", ""},
        {{"./setup", "a", "b c", ""}, ".\\setup a \"b c\" \"\"", "a \"b c\" \"\""},
        {{"/my kit/setup", "/s"}, "\"\\my kit\\setup\" /s", "/s"},
        {{"setup", "x\ty"}, "setup \"x\ty\"", "\"x\ty\""},
    };
    for (auto& c : cases) {
        char* tail = posix_layer::set_command_line(static_cast<int>(c.argv.size()), const_cast<char**>(c.argv.data()));
        EXPECT_STREQ(c.line, GetCommandLineA());
        EXPECT_STREQ(c.tail, tail);
    }
}

TEST_F(InDirectory, CurrentDirectoryKeepsTheWindowsContract) {
    const std::string expected = windows_path(dir_.path());
    const DWORD length = static_cast<DWORD>(expected.size());

    char buffer[4096];
    EXPECT_EQ(length, GetCurrentDirectoryA(sizeof buffer, buffer));
    EXPECT_EQ(expected, buffer);
    EXPECT_EQ(length, GetCurrentDirectoryA(length + 1, buffer)) << "exactly fits";

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(length + 1, GetCurrentDirectoryA(length, buffer)) << "one short: the size needed";
    EXPECT_EQ('x', buffer[0]) << "and the buffer untouched";
    EXPECT_EQ(length + 1, GetCurrentDirectoryA(0, nullptr));
}

TEST_F(InDirectory, CurrentDirectoryThatIsGoneFails) {
    ASSERT_EQ(0, mkdir("gone", 0700));
    ASSERT_EQ(0, chdir("gone"));
    ASSERT_EQ(0, rmdir((dir_ / "gone").c_str()));
    char buffer[4096];
    EXPECT_EQ(0u, GetCurrentDirectoryA(sizeof buffer, buffer));
}

TEST_F(InDirectory, SetAndCreateDirectoryTakeWindowsPaths) {
    const std::string root = windows_path(dir_.path());
    EXPECT_FALSE(SetCurrentDirectoryA((root + "\\INCLUDE").c_str()));
    EXPECT_TRUE(CreateDirectoryA((root + "\\\\INCLUDE").c_str(), nullptr)) << "a doubled separator is one";
    EXPECT_TRUE(SetCurrentDirectoryA((root + "\\INCLUDE\\").c_str()));
    char buffer[4096];
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_EQ(root + "\\INCLUDE", buffer);
    EXPECT_FALSE(CreateDirectoryA((root + "\\INCLUDE").c_str(), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
}

std::vector<std::string> search(const char* pattern, std::vector<DWORD>* attributes = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATA found;
    HANDLE handle = FindFirstFileA(pattern, &found);
    if (handle == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(found.cFileName);
        if (attributes) attributes->push_back(found.dwFileAttributes);
    } while (FindNextFileA(handle, &found));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_TRUE(FindClose(handle));
    return names;
}

TEST_F(InDirectory, SearchMatchesNamesInOrderIgnoringCase) {
    for (const char* name : {"b.h", "A.H", "c.hpp", "k.lib", "x.library", "notes.txt", "a.h"}) write_file(name, "x");
    ASSERT_EQ(0, mkdir("dir.h", 0700));
    ASSERT_EQ(0, mkfifo("pipe.h", 0600));
    ASSERT_EQ(0, symlink("b.h", "link.h"));
    ASSERT_EQ(0, symlink("missing", "dangling.h"));
    write_file("ro.h", "x");
    ASSERT_EQ(0, chmod("ro.h", 0444));

    std::vector<DWORD> attributes;
    EXPECT_EQ((std::vector<std::string>{"A.H", "a.h", "b.h", "dangling.h", "dir.h", "link.h", "pipe.h", "ro.h"}),
              search("*.h", &attributes));
    EXPECT_EQ((std::vector<DWORD>{FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL,
                                  FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_NORMAL,
                                  FILE_ATTRIBUTE_DEVICE, FILE_ATTRIBUTE_READONLY}),
              attributes);
    EXPECT_EQ(std::vector<std::string>{"k.lib"}, search("*.LIB"));

    WIN32_FIND_DATA found;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("*.none", &found));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("missing\\*.h", &found));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(InDirectory, SearchIsASnapshot) {
    for (const char* name : {"a.h", "b.h", "c.h"}) write_file(name, "x");
    WIN32_FIND_DATA found;
    HANDLE handle = FindFirstFileA("*.h", &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    std::vector<std::string> names{found.cFileName};
    unlink(found.cFileName);  // as the installer deletes what it moved
    write_file("aa.h", "x");
    while (FindNextFileA(handle, &found)) {
        names.push_back(found.cFileName);
        unlink(found.cFileName);
    }
    FindClose(handle);
    EXPECT_EQ((std::vector<std::string>{"a.h", "b.h", "c.h"}), names);
}

TEST_F(InDirectory, DeleteRefusesReadOnlyFilesAndDirectories) {
    write_file("ro.h", "x");
    chmod("ro.h", 0444);
    EXPECT_FALSE(DeleteFileA("ro.h"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(exists("ro.h"));
    mkdir("d.h", 0700);
    EXPECT_FALSE(DeleteFileA("d.h"));
    EXPECT_TRUE(exists("d.h"));
    EXPECT_FALSE(DeleteFileA("missing.h"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    write_file("w.h", "x");
    EXPECT_TRUE(DeleteFileA("w.h"));
    EXPECT_FALSE(exists("w.h"));
}

class Copy : public InDirectory {
   protected:
    void SetUp() override {
        InDirectory::SetUp();
        ASSERT_EQ(0, mkdir("INCLUDE", 0755));
    }
    // Only the files the test made: a failed copy leaves nothing behind.
    void expect_include_holds(std::vector<std::string> names) { EXPECT_EQ(names, list_dir(dir_ / "INCLUDE")); }
};

TEST_F(Copy, CopiesContentModeAndTimes) {
    const std::string content(300000, 'k');  // more than one buffer's worth
    write_file("a.h", content);
    chmod("a.h", 0640);
    const struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, "a.h", times, 0));

    ASSERT_TRUE(CopyFileA("a.h", "INCLUDE\\a.h", FALSE));
    EXPECT_EQ(content, read_file("INCLUDE/a.h"));
    struct stat st;
    ASSERT_EQ(0, stat("INCLUDE/a.h", &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(1234567890, st.st_mtim.tv_sec);
    EXPECT_EQ(123456789, st.st_mtim.tv_nsec);
    expect_include_holds({"a.h"});
    EXPECT_EQ(content, read_file("a.h")) << "the source is untouched";
}

TEST_F(Copy, ReplacesAnExistingFileAndALinkButNeverWritesThroughALink) {
    write_file("a.h", "new");
    write_file("INCLUDE/a.h", "old, and longer than the new one");
    ASSERT_TRUE(CopyFileA("a.h", "INCLUDE\\a.h", FALSE));
    EXPECT_EQ("new", read_file("INCLUDE/a.h"));

    write_file("elsewhere.txt", "must stay");
    ASSERT_EQ(0, symlink("../elsewhere.txt", "INCLUDE/b.h"));
    write_file("b.h", "b");
    ASSERT_TRUE(CopyFileA("b.h", "INCLUDE\\b.h", FALSE));
    struct stat st;
    ASSERT_EQ(0, lstat("INCLUDE/b.h", &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ("b", read_file("INCLUDE/b.h"));
    EXPECT_EQ("must stay", read_file("elsewhere.txt"));
    expect_include_holds({"a.h", "b.h"});
}

TEST_F(Copy, FailsWithoutHarmWhereWindowsFails) {
    write_file("a.h", "new");
    write_file("INCLUDE/ro.h", "old");
    chmod("INCLUDE/ro.h", 0444);
    EXPECT_FALSE(CopyFileA("a.h", "INCLUDE\\ro.h", FALSE)) << "a read-only destination";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("old", read_file("INCLUDE/ro.h"));

    mkdir("INCLUDE/d.h", 0755);
    EXPECT_FALSE(CopyFileA("a.h", "INCLUDE\\d.h", FALSE)) << "a directory destination";

    write_file("INCLUDE/e.h", "old");
    EXPECT_FALSE(CopyFileA("a.h", "INCLUDE\\e.h", TRUE)) << "replacement not allowed";
    EXPECT_EQ("old", read_file("INCLUDE/e.h"));

    EXPECT_FALSE(CopyFileA("missing.h", "INCLUDE\\m.h", FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(CopyFileA("a.h", "NOWHERE\\a.h", FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());

    EXPECT_FALSE(CopyFileA("INCLUDE", "INCLUDE\\x.h", FALSE)) << "a directory source";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    expect_include_holds({"d.h", "e.h", "ro.h"});
}

TEST_F(Copy, NeverBlocksOnSpecialFiles) {
    ASSERT_EQ(0, mkfifo("pipe.h", 0600));
    EXPECT_FALSE(CopyFileA("pipe.h", "INCLUDE\\pipe.h", FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "sock.h");
    ASSERT_EQ(0, bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address));
    EXPECT_FALSE(CopyFileA("sock.h", "INCLUDE\\sock.h", FALSE));
    close(sock);

    EXPECT_FALSE(CopyFileA("/dev/zero", "INCLUDE\\zero.h", FALSE)) << "a device";
    expect_include_holds({});
}

TEST_F(Copy, RefusesToCopyAFileOntoItself) {
    // INCLUDE leading back to the start directory: copying a.h to
    // INCLUDE\a.h would replace a.h with itself, and the delete that follows
    // would lose it.
    rmdir("INCLUDE");
    ASSERT_EQ(0, symlink(".", "INCLUDE"));
    write_file("a.h", "only copy");
    EXPECT_FALSE(CopyFileA("a.h", "INCLUDE\\a.h", FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_EQ("only copy", read_file("a.h"));

    // A hard link is another name, and copying over it is harmless.
    mkdir("LIB", 0755);
    write_file("k.lib", "k");
    ASSERT_EQ(0, link("k.lib", "LIB/k.lib"));
    EXPECT_TRUE(CopyFileA("k.lib", "LIB\\k.lib", FALSE));
    EXPECT_EQ("k", read_file("LIB/k.lib"));
}

TEST_F(Copy, FollowsASourceLink) {
    write_file("real.txt", "target");
    ASSERT_EQ(0, symlink("real.txt", "l.h"));
    ASSERT_TRUE(CopyFileA("l.h", "INCLUDE\\l.h", FALSE));
    struct stat st;
    ASSERT_EQ(0, lstat("INCLUDE/l.h", &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ("target", read_file("INCLUDE/l.h"));
    ASSERT_EQ(0, symlink("nothing", "dangling.h"));
    EXPECT_FALSE(CopyFileA("dangling.h", "INCLUDE\\dangling.h", FALSE));
}

}  // namespace
