// Whole runs of the installer, started as a user starts it, in temporary
// kit directories on the real file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

const char kConfirmation[] = "setup: Korimba successfully installed!\n";
const char kNotMovedIntro[] = "setup: These files could not be moved and are still in the start directory: ";

// Runs the installer binary in dir, invoked by its absolute path.
ProgramRun install(const std::string& dir) { return run_program(SETUP_PATH, {"/opt/korimba/setup"}, dir); }

using Files = std::vector<std::string>;

TEST(Installer, SortsAKitAndConfirms) {
    TempDir kit;
    write_file(kit / "a.h", "int a;\n");
    write_file(kit / "b.h", "int b;\n");
    write_file(kit / "k.lib", std::string("\0\1lib", 5));
    // The installer inside its own kit, started by its own path.
    ASSERT_EQ(0, link(SETUP_PATH, (kit / "setup").c_str()) == 0 ? 0 : symlink(SETUP_PATH, (kit / "setup").c_str()));

    const ProgramRun run = run_program(kit / "setup", {kit / "setup"}, kit.path());
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(kConfirmation, run.output);
    EXPECT_EQ((Files{"INCLUDE", "LIB", "setup"}), list_dir(kit.path()));
    EXPECT_EQ((Files{"a.h", "b.h"}), list_dir(kit / "INCLUDE"));
    EXPECT_EQ((Files{"k.lib"}), list_dir(kit / "LIB"));
    EXPECT_EQ("int a;\n", read_file(kit / "INCLUDE/a.h"));
    EXPECT_EQ(std::string("\0\1lib", 5), read_file(kit / "LIB/k.lib"));

    // A second run finds nothing to move and confirms again.
    const ProgramRun again = run_program(kit / "setup", {kit / "setup"}, kit.path());
    EXPECT_EQ(0, again.exit_code);
    EXPECT_EQ(kConfirmation, again.output);
    EXPECT_EQ((Files{"a.h", "b.h"}), list_dir(kit / "INCLUDE"));
    EXPECT_EQ((Files{"k.lib"}), list_dir(kit / "LIB"));
}

TEST(Installer, EmptyDirectoryStillGainsBothSubdirectories) {
    TempDir kit;
    const ProgramRun run = install(kit.path());
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(kConfirmation, run.output);
    EXPECT_EQ((Files{"INCLUDE", "LIB"}), list_dir(kit.path()));
}

TEST(Installer, ReplacesMovesUpperCaseAndLeavesTheRestAlone) {
    TempDir kit;
    mkdir((kit / "INCLUDE").c_str(), 0755);
    write_file(kit / "INCLUDE/a.h", "old a");
    write_file(kit / "INCLUDE/keep.h", "already installed");
    write_file(kit / "a.h", "new a");
    write_file(kit / "A2.H", "upper");
    write_file(kit / "K.LIB", "upper lib");
    for (const char* other : {"readme.txt", "a.hpp", "x.library", "h", "lib"}) write_file(kit / other, other);
    mkdir((kit / "docs.h").c_str(), 0755);  // a directory named like a header

    const ProgramRun run = install(kit.path());
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(kConfirmation, run.output) << "a matching directory is passed over silently";
    EXPECT_EQ((Files{"A2.H", "a.h", "keep.h"}), list_dir(kit / "INCLUDE"));
    EXPECT_EQ("new a", read_file(kit / "INCLUDE/a.h"));
    EXPECT_EQ((Files{"K.LIB"}), list_dir(kit / "LIB"));
    EXPECT_EQ((Files{"INCLUDE", "LIB", "a.hpp", "docs.h", "h", "lib", "readme.txt", "x.library"}),
              list_dir(kit.path()));
}

TEST(Installer, IncludeAsAPlainFileKeepsTheHeadersAndSaysSo) {
    TempDir kit;
    write_file(kit / "INCLUDE", "not a directory");
    write_file(kit / "a.h", "a");
    write_file(kit / "b.h", "b");
    write_file(kit / "k.lib", "k");

    const ProgramRun run = install(kit.path());
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::string(kNotMovedIntro) + "a.h, b.h.\n" + kConfirmation, run.output);
    EXPECT_EQ("not a directory", read_file(kit / "INCLUDE"));
    EXPECT_EQ("a", read_file(kit / "a.h"));
    EXPECT_EQ("b", read_file(kit / "b.h"));
    EXPECT_EQ((Files{"k.lib"}), list_dir(kit / "LIB"));
}

TEST(Installer, ReadOnlyAndSpecialSourcesStayAndAreReported) {
    TempDir kit;
    write_file(kit / "ro.h", "read-only");
    chmod((kit / "ro.h").c_str(), 0444);
    ASSERT_EQ(0, mkfifo((kit / "pipe.h").c_str(), 0600));
    ASSERT_EQ(0, symlink("nowhere", (kit / "dangling.lib").c_str()));
    write_file(kit / "ok.h", "ok");

    const ProgramRun run = install(kit.path());  // a FIFO that blocked would time out here
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::string(kNotMovedIntro) + "pipe.h, ro.h, dangling.lib.\n" + kConfirmation, run.output);
    EXPECT_EQ("read-only", read_file(kit / "ro.h")) << "copied, but kept";
    EXPECT_EQ("read-only", read_file(kit / "INCLUDE/ro.h"));
    EXPECT_TRUE(exists(kit / "pipe.h"));
    EXPECT_TRUE(exists(kit / "dangling.lib"));
    EXPECT_EQ((Files{"ok.h", "ro.h"}), list_dir(kit / "INCLUDE"));
    EXPECT_EQ(Files{}, list_dir(kit / "LIB"));
}

TEST(Installer, ALongListOfFailuresEndsWithACount) {
    TempDir kit;
    write_file(kit / "INCLUDE", "blocks every header");
    for (int i = 0; i < 200; ++i) write_file(kit / (std::string(20, 'h') + std::to_string(1000 + i) + ".h"), "x");

    const ProgramRun run = install(kit.path());
    EXPECT_EQ(0, run.exit_code);
    const std::string first_line = run.output.substr(0, run.output.find('\n'));
    EXPECT_LE(first_line.size(), sizeof "setup: " + 1023u);
    EXPECT_EQ(0u, first_line.find(kNotMovedIntro));
    // Names are listed while they fit; the rest is counted.
    const std::size_t listed = std::count(first_line.begin(), first_line.end(), ',') + 1;
    EXPECT_NE(std::string::npos, first_line.find(" and " + std::to_string(200 - listed) + " more."));
    EXPECT_EQ(200u + 2, list_dir(kit.path()).size()) << "the headers, INCLUDE and LIB";
}

// A directory path of at least length characters under base, made of
// nested directories of 100 characters.
std::string deep_directory(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        path += "/" + std::string(std::min<std::size_t>(99, std::max<std::size_t>(1, length - path.size() - 1)), 'd');
        mkdir(path.c_str(), 0755);
    }
    return path;
}

TEST(Installer, ADirectoryPathOver498CharactersInstallsNothing) {
    TempDir base;
    const std::string kit = deep_directory(base.path(), 499);
    ASSERT_EQ(499u, kit.size());
    write_file(kit + "/a.h", "a");

    const ProgramRun run = install(kit);
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ("setup: Nothing was installed: the path of the current directory is longer than 498 characters.\n",
              run.output);
    EXPECT_EQ(Files{"a.h"}, list_dir(kit));

    // At 498 characters it still works.
    TempDir base2;
    const std::string kit2 = deep_directory(base2.path(), 498);
    write_file(kit2 + "/a.h", "a");
    EXPECT_EQ(0, install(kit2).exit_code);
    EXPECT_EQ(Files{"a.h"}, list_dir(kit2 + "/INCLUDE"));
}

TEST(Installer, ATargetPathOver511CharactersLeavesThatFileInPlace) {
    TempDir base;
    const std::string kit = deep_directory(base.path(), 480);
    // 480 + "\INCLUDE\" is 489: names of up to 22 characters fit.
    const std::string fits = std::string(20, 'f') + ".h";
    const std::string too_long = std::string(21, 'g') + ".h";
    write_file(kit + "/" + fits, "fits");
    write_file(kit + "/" + too_long, "too long");

    const ProgramRun run = install(kit);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::string(kNotMovedIntro) + too_long + ".\n" + kConfirmation, run.output);
    EXPECT_EQ(Files{fits}, list_dir(kit + "/INCLUDE"));
    EXPECT_EQ("too long", read_file(kit + "/" + too_long));
}

TEST(Installer, AnUnreadableCurrentDirectoryInstallsNothing) {
    TempDir base;
    const std::string gone = base / "gone";
    mkdir(gone.c_str(), 0755);
    // The installer starts in a directory that was removed: getcwd fails.
    const ProgramRun run = run_program(
        "/bin/bash",
        {"bash", "-c", "cd '" + gone + "' && rmdir '" + gone + "' && exec -a /opt/korimba/setup '" SETUP_PATH "'"},
        base.path());
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ("setup: Nothing was installed: the current directory could not be read.\n", run.output);
    EXPECT_EQ(Files{}, list_dir(base.path()));
}

}  // namespace
