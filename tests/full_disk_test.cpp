// Whole runs where LIB is a small file system of its own that fills up: a
// tmpfs mounted in a mount namespace private to the test process, so that
// nothing stays mounted whatever happens to the test.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using Files = std::vector<std::string>;

const char kConfirmation[] = "setup: Korimba successfully installed!\n";
const char kNotMovedIntro[] = "setup: These files could not be moved and are still in the start directory: ";

// A file's content for a failure message: short ones whole, long ones as
// their size.
std::string shown(const std::string& content) {
    return content.size() <= 64 ? content : "<" + std::to_string(content.size()) + " bytes>";
}

// Mounts a tmpfs with options at directory; "" on success, else why not.
std::string mount_tmpfs(const std::string& directory, const std::string& options) {
    static bool namespace_made = false;
    if (!namespace_made) {
        if (unshare(CLONE_NEWNS) != 0) return std::string("no mount namespace: ") + std::strerror(errno);
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("cannot make mounts private: ") + std::strerror(errno);
        namespace_made = true;
    }
    if (mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    return "";
}

TEST(FullDisk, TheLibraryThatDoesNotFitStaysWholeAndIsReported) {
    struct Case {
        const char* what;
        const char* options;
    } cases[] = {
        {"no room for the data", "size=1m,nr_inodes=64"},
        {"no inode for the copy", "size=16m,nr_inodes=2"},  // the root and the old k.lib take both
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir kit;
        // Four MiB of a pattern that no short prefix repeats.
        std::string library(4 << 20, '\0');
        for (std::size_t i = 0; i < library.size(); ++i) library[i] = static_cast<char>(i * 2654435761u >> 13);
        write_file(kit / "k.lib", library);
        write_file(kit / "a.h", "a");
        mkdir((kit / "LIB").c_str(), 0755);
        const std::string why = mount_tmpfs(kit / "LIB", c.options);
        if (!why.empty()) GTEST_SKIP() << why << " (needs root)";
        write_file(kit / "LIB/k.lib", "old k");

        const ProgramRun run = run_program(SETUP_PATH, {"/opt/korimba/setup"}, kit.path());
        EXPECT_EQ(0, run.exit_code);
        EXPECT_EQ(std::string(kNotMovedIntro) + "k.lib.\n" + kConfirmation, run.output);
        EXPECT_TRUE(library == read_file(kit / "k.lib")) << "the source is whole";
        EXPECT_EQ("old k", shown(read_file(kit / "LIB/k.lib")));
        EXPECT_EQ(Files{"k.lib"}, list_dir(kit / "LIB")) << "no temporary file is left";
        EXPECT_EQ(Files{"a.h"}, list_dir(kit / "INCLUDE"));

        // With room made, a second run moves it.
        ASSERT_EQ(0, mount(nullptr, (kit / "LIB").c_str(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV,
                           "size=16m,nr_inodes=64"));
        const ProgramRun again = run_program(SETUP_PATH, {"/opt/korimba/setup"}, kit.path());
        EXPECT_EQ(kConfirmation, again.output);
        EXPECT_TRUE(library == read_file(kit / "LIB/k.lib"));
        EXPECT_EQ(Files{"k.lib"}, list_dir(kit / "LIB"));
        EXPECT_EQ((Files{"INCLUDE", "LIB"}), list_dir(kit.path()));
        umount2((kit / "LIB").c_str(), MNT_DETACH);
    }
}

}  // namespace
