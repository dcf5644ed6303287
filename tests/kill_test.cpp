// The installer killed in the middle of its work, at random moments and
// just before each of its file system calls: after every kill, each file of
// the kit is whole under its own name in the start directory or in INCLUDE
// or LIB, nothing torn sits under a final name, and a second run completes
// the job.
//
// The random moments come from a seed that is printed; set
// KORIMBA_KILL_SEED to replay a run, KORIMBA_KILLS to change how many kills
// are tried (KORIMBA_KILL_SECONDS bounds the time they may take).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/system_tools.h"
#include "tests/test_support.h"

namespace {

const char kConfirmation[] = "setup: Korimba successfully installed!\n";

struct KitFile {
    std::string name;
    std::string target;  // "INCLUDE" or "LIB"
    std::string content;
    std::string old_content;  // an older version already in the target, when not empty
};

// What the checks have seen, over all kills.
struct Tally {
    long kills = 0;
    long completed_before_the_kill = 0;
    long files_checked = 0;
    long temporaries_left = 0;
    long partial_temporaries_left = 0;
};

// Whether the file at path holds exactly content; the kit is compared many
// times over, so the file is mapped rather than copied.
bool holds(const std::string& path, const std::string& content) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool same = fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) == content.size();
    if (same && !content.empty()) {
        void* mapped = mmap(nullptr, content.size(), PROT_READ, MAP_PRIVATE, fd, 0);
        same = mapped != MAP_FAILED && std::memcmp(mapped, content.data(), content.size()) == 0;
        if (mapped != MAP_FAILED) munmap(mapped, content.size());
    }
    close(fd);
    return same;
}

class Kit {
   public:
    explicit Kit(std::vector<KitFile> files) : files_(std::move(files)) {
        for (const KitFile& f : files_) {
            names_.insert(f.target + "/" + f.name);
            contents_.insert(f.target + "/" + std::to_string(std::hash<std::string>()(f.content)));
        }
    }
    std::size_t size() const { return files_.size(); }

    // Lays the kit out afresh in dir: the sources, and the older versions
    // in INCLUDE and LIB; the subdirectories only when with_subdirectories.
    void lay_out(const std::string& dir, bool with_subdirectories) const {
        for (const std::string& name : list_dir(dir)) {
            if (name == "INCLUDE" || name == "LIB") {
                for (const std::string& inner : list_dir(dir + "/" + name))
                    unlink((dir + "/" + name + "/" + inner).c_str());
                rmdir((dir + "/" + name).c_str());
            } else {
                unlink((dir + "/" + name).c_str());
            }
        }
        if (with_subdirectories) {
            mkdir((dir + "/INCLUDE").c_str(), 0755);
            mkdir((dir + "/LIB").c_str(), 0755);
        }
        for (const KitFile& f : files_) {
            write_file(dir + "/" + f.name, f.content);
            if (with_subdirectories && !f.old_content.empty())
                write_file(dir + "/" + f.target + "/" + f.name, f.old_content);
        }
    }

    // Checks dir after a kill; adds to tally. Failures are reported through
    // gtest, with context, and stop the check early.
    void check_after_kill(const std::string& dir, Tally* tally) const {
        std::set<std::string> expected_names = {"INCLUDE", "LIB"};
        for (const KitFile& f : files_) {
            const std::string source = dir + "/" + f.name;
            const std::string destination = dir + "/" + f.target + "/" + f.name;
            const bool source_there = exists(source);
            const bool destination_there = exists(destination);
            if (source_there) {
                ASSERT_TRUE(holds(source, f.content)) << f.name << ": the source was changed";
                expected_names.insert(f.name);
            }
            bool moved_whole = false;
            if (destination_there) {
                moved_whole = holds(destination, f.content);
                ASSERT_TRUE(moved_whole || (!f.old_content.empty() && holds(destination, f.old_content)))
                    << f.name << ": torn under its final name in " << f.target << " (" << read_file(destination).size()
                    << " of " << f.content.size() << " bytes)";
            }
            ASSERT_TRUE(source_there || moved_whole)
                << f.name << ": lost, neither in the start directory nor whole in " << f.target;
            ++tally->files_checked;
        }
        for (const std::string& name : list_dir(dir))
            ASSERT_TRUE(expected_names.count(name) != 0) << "unexpected entry in the start directory: " << name;
        for (const char* target : {"INCLUDE", "LIB"}) {
            for (const std::string& name : list_dir(dir + "/" + target)) {
                if (names_.count(std::string(target) + "/" + name) != 0) continue;
                // A copy under a temporary name: finished and about to
                // replace an older file, or, where unnamed files are not
                // available, cut short. It is not under a final name.
                ASSERT_EQ(0u, name.rfind(".korimba-", 0)) << "unexpected entry in " << target << ": " << name;
                const std::string content = read_file(dir + "/" + target + "/" + name);
                if (contents_.count(std::string(target) + "/" + std::to_string(std::hash<std::string>()(content))) == 0)
                    ++tally->partial_temporaries_left;
                ++tally->temporaries_left;
            }
        }
    }

    // Checks that a run that finished has moved everything.
    void check_complete(const std::string& dir, const std::string& output) const {
        ASSERT_EQ(kConfirmation, output);
        for (const std::string& name : list_dir(dir))
            ASSERT_TRUE(name == "INCLUDE" || name == "LIB") << "left in the start directory: " << name;
        for (const KitFile& f : files_)
            ASSERT_TRUE(holds(dir + "/" + f.target + "/" + f.name, f.content)) << f.name << " not moved whole";
    }

   private:
    std::vector<KitFile> files_;
    std::set<std::string> names_;     // "INCLUDE/a.h"
    std::set<std::string> contents_;  // "INCLUDE/" and the hash of a file's content
};

std::string random_content(std::mt19937_64& random, std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = random();
        for (std::size_t j = 0; j < 8 && i + j < size; ++j) content[i + j] = static_cast<char>(word >> (8 * j));
    }
    return content;
}

// How one run of a program ended.
struct Ending {
    bool killed = false;
    std::string output;
};

// Starts argv[0] with argv in dir without a display, and kills it with
// SIGKILL after delay unless it has ended by then (delay < 0: never).
Ending run_and_kill(const std::vector<std::string>& argv, const std::string& program, const std::string& dir,
                    std::chrono::microseconds delay, const std::string& output_file) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(126);
        exec_without_display(program, argv, dir);
    }
    Ending ending;
    if (pid < 0) return ending;
    if (delay.count() >= 0) {
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        pollfd watch{pidfd, POLLIN, 0};
        const timespec timeout{static_cast<time_t>(delay.count() / 1000000),
                               static_cast<long>(delay.count() % 1000000) * 1000};
        if (pidfd < 0 || ppoll(&watch, 1, &timeout, nullptr) == 0) kill(pid, SIGKILL);
        if (pidfd >= 0) close(pidfd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    // strace passes on the signal that ended its tracee as an exit code.
    ending.killed = (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                    (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL);
    ending.output = read_file(output_file);
    return ending;
}

long from_environment(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

// A kit of a few hundred headers and some libraries of several MiB; a few
// have older versions waiting in INCLUDE and LIB, to be replaced.
Kit large_kit(std::mt19937_64& random) {
    std::vector<KitFile> files;
    for (int i = 0; i < 300; ++i) {
        KitFile f{"header" + std::to_string(i) + ".h", "INCLUDE", random_content(random, 64 + random() % 16384), ""};
        if (i % 25 == 0) f.old_content = "old " + f.name;
        files.push_back(f);
    }
    const std::size_t mib = 1 << 20;
    files.push_back({"core.lib", "LIB", random_content(random, 5 * mib + 17), "old core"});
    files.push_back({"math.lib", "LIB", random_content(random, 3 * mib), ""});
    files.push_back({"IO.LIB", "LIB", random_content(random, 2 * mib + 4095), ""});
    files.push_back({"tiny.lib", "LIB", "t", "old tiny"});
    return Kit(files);
}

TEST(Killed, AtRandomMomentsNothingIsLostOrTorn) {
    const unsigned long long seed = static_cast<unsigned long long>(
        from_environment("KORIMBA_KILL_SEED", static_cast<long>(std::random_device()() & 0x7fffffff)));
    const long kills_wanted = from_environment("KORIMBA_KILLS", 200);
    const auto time_allowed = std::chrono::seconds(from_environment("KORIMBA_KILL_SECONDS", 45));
    std::cout << "kill seed " << seed << " (replay with KORIMBA_KILL_SEED=" << seed << ")" << std::endl;
    RecordProperty("kill_seed", std::to_string(seed));
    std::mt19937_64 random(seed);

    TempDir kit_dir, scratch;
    const std::string output = scratch / "output";
    const Kit kit = large_kit(random);
    const std::vector<std::string> argv = {"/opt/korimba/setup"};

    // One whole run gives the span over which the kills are spread.
    kit.lay_out(kit_dir.path(), true);
    const auto start = std::chrono::steady_clock::now();
    const Ending whole = run_and_kill(argv, SETUP_PATH, kit_dir.path(), std::chrono::microseconds(-1), output);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_FALSE(whole.killed);
    ASSERT_NO_FATAL_FAILURE(kit.check_complete(kit_dir.path(), whole.output));

    Tally tally;
    long kits = 0;
    const long kit_size = static_cast<long>(kit.size());
    const auto deadline = std::chrono::steady_clock::now() + time_allowed;
    while (tally.kills < kills_wanted && std::chrono::steady_clock::now() < deadline) {
        // Every other kit starts without INCLUDE and LIB.
        kit.lay_out(kit_dir.path(), kits++ % 2 == 0);
        // Kills in a row on the same kit, each at a random moment of what is
        // left of the work, until a run gets to the end or the kit has had
        // enough; then a run to the end.
        for (int k = 0; k < 8 && tally.kills < kills_wanted; ++k) {
            const long left = span.count() * static_cast<long>(list_dir(kit_dir.path()).size()) / kit_size;
            const std::chrono::microseconds delay(
                static_cast<long>(random() % static_cast<unsigned long long>(left + 1)));
            const Ending ending = run_and_kill(argv, SETUP_PATH, kit_dir.path(), delay, output);
            SCOPED_TRACE("kit " + std::to_string(kits) + ", killed after " + std::to_string(delay.count()) + " us");
            if (!ending.killed) {
                ++tally.completed_before_the_kill;
                ASSERT_NO_FATAL_FAILURE(kit.check_complete(kit_dir.path(), ending.output));
                break;
            }
            ++tally.kills;
            ASSERT_NO_FATAL_FAILURE(kit.check_after_kill(kit_dir.path(), &tally));
        }
        const Ending last = run_and_kill(argv, SETUP_PATH, kit_dir.path(), std::chrono::microseconds(-1), output);
        SCOPED_TRACE("kit " + std::to_string(kits) + ", the run after the kills");
        ASSERT_FALSE(last.killed);
        ASSERT_NO_FATAL_FAILURE(kit.check_complete(kit_dir.path(), last.output));
    }
    std::cout << tally.kills << " kills over " << kits << " kits (a whole run took " << span.count() / 1000 << " ms; "
              << tally.completed_before_the_kill << " runs ended before their kill), " << tally.files_checked
              << " files checked; " << tally.temporaries_left << " temporaries left behind, "
              << tally.partial_temporaries_left << " of them cut short" << std::endl;
    EXPECT_GT(tally.kills, 0);
}

// Kills a run just before the nth call of each kind, for every n the run
// makes, by strace's fault injection: every step of every move is cut once.
TEST(Killed, BeforeEachFileSystemCallNothingIsLostOrTorn) {
    const std::string strace = find_program("strace");
    if (strace.empty()) GTEST_SKIP() << "strace is not installed";

    std::vector<KitFile> files = {
        {"a.h", "INCLUDE", "int a;\n", ""},
        {"b.h", "INCLUDE", "int b;\n", "int old_b;\n"},
        {"with space.h", "INCLUDE", std::string(70000, 's'), ""},
        {"empty.h", "INCLUDE", "", ""},
        {"k.lib", "LIB", std::string(300000, 'k'), "old k"},
        {"Z.LIB", "LIB", std::string(1 << 20, 'z'), ""},
    };
    const Kit kit(files);
    TempDir kit_dir, scratch;
    const std::string output = scratch / "output";
    const std::string calls = "mkdir,openat,copy_file_range,write,fsync,linkat,renameat,unlink";

    const std::vector<std::string> traced = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0"};
    Tally tally;
    // Both ways the layer makes a copy: as an unnamed file, and under a
    // temporary name where the file system has no unnamed files; making
    // INCLUDE and LIB is the same either way.
    const struct {
        const char* setup;
        bool with_subdirectories;
    } configurations[] = {{SETUP_PATH, true}, {SETUP_PATH, false}, {SETUP_WITHOUT_UNNAMED_FILES_PATH, true}};
    for (const auto& [setup, with_subdirectories] : configurations) {
        SCOPED_TRACE(std::string(setup) +
                     (with_subdirectories ? ", INCLUDE and LIB there" : ", INCLUDE and LIB to be made"));
        // How many calls of each kind a whole run makes.
        kit.lay_out(kit_dir.path(), with_subdirectories);
        std::vector<std::string> argv = traced;
        for (const std::string& a : {std::string("-o"), scratch / "trace", std::string("-e"), "trace=" + calls})
            argv.push_back(a);
        argv.push_back(setup);
        ASSERT_FALSE(run_and_kill(argv, strace, kit_dir.path(), std::chrono::microseconds(-1), output).killed);
        std::map<std::string, int> made;
        const std::string text = read_file(scratch / "trace");
        for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            const std::size_t paren = text.find('(', start);
            if (paren < end) ++made[text.substr(start, paren - start)];
        }
        ASSERT_GT(made["unlink"], 0) << text;

        for (const auto& [call, count] : made) {
            for (int n = 1; n <= count; ++n) {
                SCOPED_TRACE("killed before " + call + " number " + std::to_string(n));
                kit.lay_out(kit_dir.path(), with_subdirectories);
                argv = traced;
                for (const std::string& a :
                     {std::string("-o"), std::string("/dev/null"), std::string("-e"), "trace=" + call,
                      std::string("-e"), "inject=" + call + ":signal=KILL:when=" + std::to_string(n)})
                    argv.push_back(a);
                argv.push_back(setup);
                if (run_and_kill(argv, strace, kit_dir.path(), std::chrono::microseconds(-1), output).killed) {
                    ++tally.kills;
                    ASSERT_NO_FATAL_FAILURE(kit.check_after_kill(kit_dir.path(), &tally));
                }
                const Ending last =
                    run_and_kill({"/opt/korimba/setup"}, setup, kit_dir.path(), std::chrono::microseconds(-1), output);
                ASSERT_FALSE(last.killed);
                ASSERT_NO_FATAL_FAILURE(kit.check_complete(kit_dir.path(), last.output));
            }
        }
    }
    std::cout << tally.kills << " kills before single calls, " << tally.files_checked << " files checked; "
              << tally.temporaries_left << " temporaries left behind, " << tally.partial_temporaries_left
              << " of them cut short" << std::endl;
    EXPECT_GT(tally.kills, 0);
}

}  // namespace
