// Whole runs over kits whose names and entries are meant to trip the
// installer up: odd bytes, long names, links, special files, unreadable
// files, and names that look like paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/system_tools.h"
#include "tests/test_support.h"

namespace {

using Files = std::vector<std::string>;

const char kConfirmation[] = "setup: Korimba successfully installed!\n";
const char kNotMovedIntro[] = "setup: These files could not be moved and are still in the start directory: ";

ProgramRun install(const std::string& dir) { return run_program(SETUP_PATH, {"/opt/korimba/setup"}, dir); }

bool is_regular_file(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TEST(HostileNames, OddNamesAreMovedWholeUnderTheirOwnNames) {
    TempDir kit;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"with space.h", "INCLUDE"},
        {" leading space.h", "INCLUDE"},
        {"two  spaces.lib", "LIB"},
        {"\xE9t\xE9.h", "INCLUDE"},  // Latin-1, not UTF-8
        {"\xFF\xFE\x80.LIB", "LIB"},
        {"-rf.h", "INCLUDE"},
        {"--help.lib", "LIB"},
        {"-.h", "INCLUDE"},
        {"quote\"d.h", "INCLUDE"},
        {"new\nline.h", "INCLUDE"},
        {std::string(253, 'n') + ".h", "INCLUDE"},  // 255 bytes, the longest name
        {std::string(251, 'L') + ".lib", "LIB"},
    };
    for (const auto& [name, _] : files) write_file(kit / name, "content of " + name);

    // A link named like a header that leads to a regular file: its content
    // is moved, the file it leads to stays.
    write_file(kit / "real.txt", "linked content");
    ASSERT_EQ(0, symlink("real.txt", (kit / "link.h").c_str()));
    // A destination that is a link: replaced, never written through.
    mkdir((kit / "INCLUDE").c_str(), 0755);
    write_file(kit / "outside.txt", "must not change");
    ASSERT_EQ(0, symlink("../outside.txt", (kit / "INCLUDE/dest.h").c_str()));
    write_file(kit / "dest.h", "new dest");

    const ProgramRun run = install(kit.path());
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(kConfirmation, run.output);
    for (const auto& [name, target] : files) {
        EXPECT_EQ("content of " + name, read_file(kit / target + "/" + name)) << name;
        EXPECT_FALSE(exists(kit / name)) << name;
    }
    EXPECT_TRUE(is_regular_file(kit / "INCLUDE/link.h"));
    EXPECT_EQ("linked content", read_file(kit / "INCLUDE/link.h"));
    EXPECT_EQ("linked content", read_file(kit / "real.txt"));
    EXPECT_TRUE(is_regular_file(kit / "INCLUDE/dest.h"));
    EXPECT_EQ("new dest", read_file(kit / "INCLUDE/dest.h"));
    EXPECT_EQ("must not change", read_file(kit / "outside.txt"));
    EXPECT_EQ((Files{"INCLUDE", "LIB", "outside.txt", "real.txt"}), list_dir(kit.path()));
}

TEST(HostileNames, SpecialEntriesStayAndAreReported) {
    TempDir kit, elsewhere;
    ASSERT_EQ(0, mkfifo((elsewhere / "fifo").c_str(), 0600));
    ASSERT_EQ(0, symlink((elsewhere / "fifo").c_str(), (kit / "to-fifo.h").c_str()));
    ASSERT_EQ(0, symlink("/dev/null", (kit / "device.lib").c_str()));
    ASSERT_TRUE(make_socket(kit / "socket.h"));
    ASSERT_EQ(0, symlink("/nowhere", (kit / "dangling.h").c_str()));
    ASSERT_EQ(0, symlink(elsewhere.path().c_str(), (kit / "to-dir.h").c_str()));  // passed over, as a directory is
    write_file(kit / "ok.h", "ok");

    const ProgramRun run = install(kit.path());  // a run that blocked on the FIFO would be killed
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::string(kNotMovedIntro) + "dangling.h, socket.h, to-fifo.h, device.lib.\n" + kConfirmation,
              run.output);
    EXPECT_EQ((Files{"INCLUDE", "LIB", "dangling.h", "device.lib", "socket.h", "to-dir.h", "to-fifo.h"}),
              list_dir(kit.path()));
    EXPECT_EQ(Files{"ok.h"}, list_dir(kit / "INCLUDE"));
    EXPECT_EQ(Files{}, list_dir(kit / "LIB"));
    EXPECT_EQ(Files{"fifo"}, list_dir(elsewhere.path()));
}

// Without a display the messages go to the terminal: a reported name must
// not break the one line or carry an escape sequence there.
TEST(HostileNames, ControlCharactersInAReportedNameAreNotPrinted) {
    TempDir kit;
    write_file(kit / "INCLUDE", "a plain file, so every header is reported");
    write_file(kit / "\x1b]0;owned\x07\x1b[2J\nx.h", "x");

    const ProgramRun run = install(kit.path());
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::string(kNotMovedIntro) + "?]0;owned??[2J?x.h.\n" + kConfirmation, run.output);
}

// On Linux a backslash is an ordinary character in a name, while the
// installer builds Windows paths in which it separates directories: such a
// name must never lead the installer to another file, inside the kit or
// outside it.
TEST(HostileNames, NamesWithABackslashNeverReachOtherFiles) {
    TempDir base;
    const std::string kit = base / "kit";
    mkdir(kit.c_str(), 0755);
    write_file(base / "victim.h", "outside the kit");
    mkdir((kit + "/sub").c_str(), 0755);
    write_file(kit + "/sub/x.h", "in a subdirectory");
    mkdir((kit + "/INCLUDE").c_str(), 0755);
    mkdir((kit + "/INCLUDE/sub").c_str(), 0755);
    write_file(kit + "/..\\victim.h", "up");
    write_file(kit + "/sub\\x.h", "down");
    write_file(kit + "/plain.h", "plain");

    const ProgramRun run = install(kit);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ("outside the kit", read_file(base / "victim.h"));
    EXPECT_EQ("in a subdirectory", read_file(kit + "/sub/x.h"));
    EXPECT_EQ("up", read_file(kit + "/..\\victim.h"));
    EXPECT_EQ("down", read_file(kit + "/sub\\x.h"));
    EXPECT_EQ((Files{"plain.h", "sub"}), list_dir(kit + "/INCLUDE"));
    EXPECT_EQ(Files{}, list_dir(kit + "/INCLUDE/sub"));
    EXPECT_EQ((Files{"..\\victim.h", "INCLUDE", "LIB", "sub", "sub\\x.h"}), list_dir(kit));
}

// Started in a directory whose path holds a backslash, the installer must
// not sort the directory that the path seems to name in Windows form.
TEST(HostileNames, AStartDirectoryWithABackslashInstallsNothing) {
    TempDir base;
    mkdir((base / "my").c_str(), 0755);
    mkdir((base / "my/kit").c_str(), 0755);
    mkdir((base / "my\\kit").c_str(), 0755);
    write_file(base / "my/kit/other.h", "another directory");
    write_file(base / "my\\kit/a.h", "a");

    const ProgramRun run = install(base / "my\\kit");
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ("setup: Nothing was installed: the current directory could not be read.\n", run.output);
    EXPECT_EQ(Files{"other.h"}, list_dir(base / "my/kit"));
    EXPECT_EQ(Files{"a.h"}, list_dir(base / "my\\kit"));
}

// Root reads every file whatever its mode, so the run drops to an
// unprivileged user where it can.
TEST(HostileNames, AnUnreadableSourceStaysAndIsReported) {
    TempDir kit, bin;
    write_file(kit / "a.h", "a");
    write_file(kit / "secret.h", "secret");
    write_file(kit / "k.lib", "k");
    ASSERT_EQ(0, chmod((kit / "secret.h").c_str(), 0200));  // writable, so not read-only, but unreadable

    std::string program = SETUP_PATH;
    std::vector<std::string> argv = {"/opt/korimba/setup"};
    if (geteuid() == 0) {
        const std::string setpriv = find_program("setpriv");
        if (setpriv.empty()) GTEST_SKIP() << "running as root without setpriv: no way to make a file unreadable";
        // The installer runs as nobody from a copy it can reach, in a kit it owns.
        program = setpriv;
        const std::string setup = bin / "setup";
        write_file(setup, read_file(SETUP_PATH));
        chmod(setup.c_str(), 0755);
        chmod(bin.path().c_str(), 0755);
        for (const std::string& path : {kit.path(), kit / "a.h", kit / "secret.h", kit / "k.lib"})
            ASSERT_EQ(0, chown(path.c_str(), kNobody, kNobody));
        argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", setup};
        const ProgramRun probe =
            run_program(setpriv,
                        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
                         "test -x " + setup + " && test -w . || exit 2; cat secret.h >/dev/null 2>&1 || exit 1"},
                        kit.path());
        if (probe.exit_code == 0) GTEST_SKIP() << "nobody can still read the file here";
        if (probe.exit_code != 1) GTEST_SKIP() << "cannot run the installer as nobody in " << kit.path();
    }

    const ProgramRun run = run_program(program, argv, kit.path());
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::string(kNotMovedIntro) + "secret.h.\n" + kConfirmation, run.output);
    EXPECT_EQ((Files{"INCLUDE", "LIB", "secret.h"}), list_dir(kit.path()));
    EXPECT_EQ(Files{"a.h"}, list_dir(kit / "INCLUDE"));
    EXPECT_EQ(Files{"k.lib"}, list_dir(kit / "LIB"));
    chmod((kit / "secret.h").c_str(), 0600);
    EXPECT_EQ("secret", read_file(kit / "secret.h"));
}

}  // namespace
