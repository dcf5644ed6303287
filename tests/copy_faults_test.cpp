// CopyFileA when a step of the copy fails, as it would on a failing or full
// disk: the failure is reported, the source and any old destination stay
// whole, and no temporary file is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/layer.h"
#include "tests/fault_injection.h"
#include "tests/test_support.h"

namespace {

struct Fault {
    Call call;
    int nth;
    int error;
};

class CopyFaults : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_NE(nullptr, getcwd(previous_, sizeof previous_));
        ASSERT_EQ(0, chdir(dir_.path().c_str()));
        ASSERT_EQ(0, mkdir("INCLUDE", 0755));
        write_file("a.h", source_);
    }
    void TearDown() override {
        clear_faults();
        ASSERT_EQ(0, chdir(previous_));
    }
    // Copies a.h into INCLUDE with the faults armed.
    bool copy_with(const std::vector<Fault>& faults) {
        clear_faults();
        for (const Fault& f : faults) fail_call(f.call, f.nth, f.error);
        const bool ok = CopyFileA("a.h", "INCLUDE\\a.h", FALSE);
        error_ = GetLastError();
        clear_faults();
        return ok;
    }

    TempDir dir_;
    char previous_[4096];
    // Larger than one buffer of the read and write loop.
    const std::string source_ = std::string(200000, 'n') + "end";
    DWORD error_ = 0;
};

// Unnamed files unsupported: the copy is written under a temporary name.
const Fault kNoUnnamedFiles{Call::openat, 1, EOPNOTSUPP};
// The kernel declines to copy: the read and write loop does it.
const Fault kNoKernelCopy{Call::copy_file_range, 1, EXDEV};

TEST_F(CopyFaults, AFailedStepKeepsEverythingAndLeavesNoTrace) {
    struct Case {
        const char* what;
        std::vector<Fault> faults;
        bool old_destination;
        DWORD code;
        const char* destination_after;  // nullptr: absent
    } cases[] = {
        {"kernel copy runs out of space", {{Call::copy_file_range, 1, ENOSPC}}, true, ERROR_DISK_FULL, "old"},
        {"write runs out of space", {kNoKernelCopy, {Call::write, 2, ENOSPC}}, false, ERROR_DISK_FULL, nullptr},
        {"read fails", {kNoKernelCopy, {Call::read, 1, EIO}}, true, ERROR_GEN_FAILURE, "old"},
        {"data flush fails", {{Call::fsync, 1, EIO}}, true, ERROR_GEN_FAILURE, "old"},
        {"data flush fails, no old file", {{Call::fsync, 1, EIO}}, false, ERROR_GEN_FAILURE, nullptr},
        {"naming fails", {{Call::linkat, 1, EIO}}, false, ERROR_GEN_FAILURE, nullptr},
        {"naming the temporary fails", {{Call::linkat, 1, ENOSPC}}, true, ERROR_DISK_FULL, "old"},
        {"replacing fails", {{Call::renameat, 1, EIO}}, true, ERROR_GEN_FAILURE, "old"},
        {"temporary name: data flush fails", {kNoUnnamedFiles, {Call::fsync, 1, EIO}}, true, ERROR_GEN_FAILURE, "old"},
        {"temporary name: write fails",
         {kNoUnnamedFiles, kNoKernelCopy, {Call::write, 1, ENOSPC}},
         false,
         ERROR_DISK_FULL,
         nullptr},
        {"temporary name: renaming fails",
         {kNoUnnamedFiles, {Call::renameat, 1, EIO}},
         false,
         ERROR_GEN_FAILURE,
         nullptr},
        {"unnamed file cannot be made", {{Call::openat, 1, ENOSPC}}, true, ERROR_DISK_FULL, "old"},
        // The copy is in place but not yet durable: the source must stay.
        {"directory flush fails", {{Call::fsync, 2, EIO}}, true, ERROR_GEN_FAILURE, "new"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unlink("INCLUDE/a.h");
        if (c.old_destination) write_file("INCLUDE/a.h", "old");

        EXPECT_FALSE(copy_with(c.faults));
        EXPECT_EQ(c.code, error_);
        EXPECT_EQ(source_, read_file("a.h"));
        if (c.destination_after == nullptr) {
            EXPECT_EQ(std::vector<std::string>{}, list_dir("INCLUDE"));
        } else {
            EXPECT_EQ(std::vector<std::string>{"a.h"}, list_dir("INCLUDE")) << "no temporary file left";
            const std::string expected = std::string(c.destination_after) == "new" ? source_ : c.destination_after;
            EXPECT_EQ(expected, read_file("INCLUDE/a.h"));
        }
    }
}

TEST_F(CopyFaults, FallbackPathsStillCopy) {
    struct Case {
        const char* what;
        std::vector<Fault> faults;
        bool old_destination;
    } cases[] = {
        {"temporary name, new file", {kNoUnnamedFiles}, false},
        {"temporary name over an old file", {kNoUnnamedFiles}, true},
        {"read and write loop", {kNoKernelCopy}, true},
        {"interrupted calls are retried", {{Call::copy_file_range, 1, EINTR}}, false},
        {"interrupted writes are retried", {kNoKernelCopy, {Call::write, 1, EINTR}, {Call::read, 2, EINTR}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unlink("INCLUDE/a.h");
        if (c.old_destination) write_file("INCLUDE/a.h", "old");
        EXPECT_TRUE(copy_with(c.faults));
        EXPECT_EQ(source_, read_file("INCLUDE/a.h"));
        EXPECT_EQ(std::vector<std::string>{"a.h"}, list_dir("INCLUDE"));
        EXPECT_EQ(source_, read_file("a.h"));
    }
}

// Opening a device can do something by itself (a tape rewinds, a watchdog
// starts), so a source that is not a regular file must not even be opened,
// whatever a link named like a header leads to.
TEST_F(CopyFaults, NeverOpensASourceThatIsNotARegularFile) {
    ASSERT_EQ(0, symlink("/dev/null", "device.h"));
    ASSERT_EQ(0, mkfifo("pipe.h", 0600));
    ASSERT_EQ(0, symlink("pipe.h", "to-pipe.h"));
    for (const char* source : {"device.h", "pipe.h", "to-pipe.h", "INCLUDE"}) {
        SCOPED_TRACE(source);
        clear_faults();
        EXPECT_FALSE(CopyFileA(source, "INCLUDE\\x.h", FALSE));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        EXPECT_EQ(0, calls_made(Call::open));
    }
    EXPECT_EQ(std::vector<std::string>{}, list_dir("INCLUDE"));
}

}  // namespace
