// The order in which a run reaches the disk, read from a system call trace
// of one real run (strace): for every file moved, its copy's data is
// flushed, the copy is given its final name and the target directory is
// flushed, all before the source is unlinked; and a directory the run
// creates is flushed into its parent before anything is moved into it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/system_tools.h"
#include "tests/test_support.h"

namespace {

// One traced call: its name, its arguments as written, and its result.
struct Call {
    std::string name;
    std::vector<std::string> args;
    std::string result;
};

// Splits "openat(AT_FDCWD</k>, \"a,b\", O_RDONLY) = 3</k/a,b>" into its
// parts; commas inside quotes and inside <path> annotations stay.
bool parse_line(const std::string& line, Call* call) {
    const std::size_t open = line.find('(');
    if (open == std::string::npos || open == 0) return false;
    call->name = line.substr(0, open);
    call->args.clear();
    std::string current;
    bool quoted = false;
    int angle = 0, paren = 0;
    std::size_t i = open + 1;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            current += c;
            if (c == '\\' && i + 1 < line.size())
                current += line[++i];
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '"') quoted = true;
        if (c == '<') ++angle;
        if (c == '>' && angle > 0) --angle;
        if (angle == 0 && c == '(') ++paren;
        if (angle == 0 && c == ')') {
            if (paren == 0) break;
            --paren;
        }
        if (c == ',' && angle == 0 && paren == 0) {
            call->args.push_back(current);
            current.clear();
            while (i + 1 < line.size() && line[i + 1] == ' ') ++i;
            continue;
        }
        current += c;
    }
    if (i >= line.size()) return false;
    if (!current.empty()) call->args.push_back(current);
    const std::size_t equals = line.find("= ", i);
    if (equals == std::string::npos) return false;
    call->result = line.substr(equals + 2);
    return true;
}

// The number in front of "3</k/a>" or "-1 ENOENT (...)"; -1 when none.
long number_of(const std::string& text) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) return -1;
    return std::strtol(text.c_str(), nullptr, 10);
}

// The path in "3</k/a>" or "AT_FDCWD</k>".
std::string path_of(const std::string& text) {
    const std::size_t open = text.find('<');
    const std::size_t close = text.rfind('>');
    if (open == std::string::npos || close == std::string::npos || close < open) return "";
    return text.substr(open + 1, close - open - 1);
}

// The text of a quoted argument ("a.h" gives a.h); kit names are plain.
std::string string_of(const std::string& text) {
    return text.size() >= 2 && text.front() == '"' ? text.substr(1, text.size() - 2) : text;
}

std::string parent_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// What became of one file being written: where its data was last written
// and when it was last flushed (indexes into the trace; -1 never).
struct Copy {
    long last_write = -1;
    long flushed = -1;
};

// A final name given to a copy: the copy's state at that moment.
struct Naming {
    long at = -1;
    Copy copy;
};

// Checks the trace of one run of the installer in kit; names is what was
// in the kit. Returns the files whose move was checked.
std::set<std::string> check_trace(const std::vector<std::string>& lines, const std::string& kit,
                                  const std::set<std::string>& names) {
    std::map<long, long> copy_of_fd;  // fd -> index in copies
    std::vector<Copy> copies;
    std::map<long, std::string> directory_of_fd;
    std::map<std::string, std::vector<long>> directory_flushes;
    std::map<std::string, long> directory_made;
    std::map<std::string, long> temporary_copy;  // a named copy, by path -> copy
    std::map<std::string, Naming> named;
    std::set<std::string> checked;

    auto copy_at_fd = [&](const std::string& arg) -> Copy* {
        auto it = copy_of_fd.find(number_of(arg));
        return it == copy_of_fd.end() ? nullptr : &copies[it->second];
    };

    for (long i = 0; i < static_cast<long>(lines.size()); ++i) {
        Call call;
        if (!parse_line(lines[i], &call)) continue;
        const long result = number_of(call.result);
        const auto& a = call.args;
        if (call.name == "openat" && a.size() >= 3 && result >= 0) {
            copy_of_fd.erase(result);
            directory_of_fd.erase(result);
            if (a[2].find("O_TMPFILE") != std::string::npos) {
                copy_of_fd[result] = static_cast<long>(copies.size());
                copies.push_back(Copy());
            } else if (a[2].find("O_CREAT") != std::string::npos) {
                // A copy made under a temporary name where unnamed files are
                // not supported.
                copy_of_fd[result] = static_cast<long>(copies.size());
                copies.push_back(Copy());
                temporary_copy[path_of(a[0]) + "/" + string_of(a[1])] = copy_of_fd[result];
            } else if (a[2].find("O_DIRECTORY") != std::string::npos) {
                directory_of_fd[result] = path_of(call.result);
            }
        } else if ((call.name == "write" || call.name == "pwrite64") && !a.empty() && result > 0) {
            if (Copy* copy = copy_at_fd(a[0])) copy->last_write = i;
        } else if (call.name == "copy_file_range" && a.size() >= 3 && result > 0) {
            if (Copy* copy = copy_at_fd(a[2])) copy->last_write = i;
        } else if ((call.name == "fsync" || call.name == "fdatasync") && !a.empty() && result == 0) {
            if (Copy* copy = copy_at_fd(a[0])) copy->flushed = i;
            auto dir = directory_of_fd.find(number_of(a[0]));
            if (dir != directory_of_fd.end()) directory_flushes[dir->second].push_back(i);
        } else if (call.name == "linkat" && a.size() >= 4 && result == 0) {
            const std::string source = string_of(a[1]);
            long copy_index = -1;
            if (source.rfind("/proc/self/fd/", 0) == 0) {
                auto it = copy_of_fd.find(std::stol(source.substr(14)));
                if (it != copy_of_fd.end()) copy_index = it->second;
            } else if (source.empty()) {
                auto it = copy_of_fd.find(number_of(a[0]));
                if (it != copy_of_fd.end()) copy_index = it->second;
            }
            if (copy_index < 0) continue;
            const std::string target = path_of(a[2]) + "/" + string_of(a[3]);
            temporary_copy[target] = copy_index;
            named[target] = Naming{i, copies[copy_index]};
        } else if ((call.name == "renameat" || call.name == "renameat2") && a.size() >= 4 && result == 0) {
            const std::string from = path_of(a[0]) + "/" + string_of(a[1]);
            const std::string to = path_of(a[2]) + "/" + string_of(a[3]);
            auto it = temporary_copy.find(from);
            if (it == temporary_copy.end()) continue;
            named[to] = Naming{i, copies[it->second]};
            temporary_copy[to] = it->second;
            temporary_copy.erase(it);
            named.erase(from);
        } else if (call.name == "mkdir" && !a.empty() && result == 0) {
            directory_made[string_of(a[0])] = i;
        } else if ((call.name == "unlink" ||
                    (call.name == "unlinkat" && a.size() >= 2 && a[0].rfind("AT_FDCWD", 0) == 0)) &&
                   result == 0) {
            const std::string name = string_of(call.name == "unlink" ? a[0] : a[1]);
            if (names.count(name) == 0) continue;
            SCOPED_TRACE("moving " + name + ", unlinked at trace line " + std::to_string(i + 1));
            const bool header = name.size() > 2 && name.substr(name.size() - 2) == ".h";
            const std::string directory = kit + (header ? "/INCLUDE" : "/LIB");
            const std::string destination = directory + "/" + name;
            auto it = named.find(destination);
            if (it == named.end()) {
                ADD_FAILURE() << "the source was unlinked, but its copy was never named " << destination;
                continue;
            }
            const Naming& naming = it->second;
            EXPECT_GT(naming.copy.flushed, naming.copy.last_write) << "the copy's data is flushed after it is written";
            EXPECT_GE(naming.copy.flushed, 0) << "the copy's data is flushed";
            EXPECT_LT(naming.copy.flushed, naming.at) << "and before the copy is named";
            bool directory_flushed = false;
            for (long f : directory_flushes[directory]) directory_flushed |= f > naming.at && f < i;
            EXPECT_TRUE(directory_flushed) << "the target directory is flushed after the naming, before the unlink";
            auto made = directory_made.find(directory);
            if (made != directory_made.end()) {
                bool parent_flushed = false;
                for (long f : directory_flushes[parent_of(directory)]) parent_flushed |= f > made->second && f < i;
                EXPECT_TRUE(parent_flushed) << "the new directory is flushed into its parent first";
            }
            checked.insert(name);
        }
    }
    return checked;
}

// Both ways the layer makes a copy: as an unnamed file, and under a
// temporary name where the file system has no unnamed files.
TEST(DurabilityOrder, EveryCopyIsOnDiskBeforeItsSourceIsRemoved) {
    const std::string strace = find_program("strace");
    if (strace.empty()) GTEST_SKIP() << "strace is not installed";

    for (const char* setup : {SETUP_PATH, SETUP_WITHOUT_UNNAMED_FILES_PATH}) {
        SCOPED_TRACE(setup);
        TempDir kit, out;
        std::set<std::string> names;
        for (int i = 0; i < 12; ++i) names.insert("h" + std::to_string(i) + ".h");
        names.insert("with space.h");
        names.insert("k.lib");
        names.insert("big.lib");
        names.insert("empty.lib");
        for (const std::string& name : names) write_file(kit / name, name == "empty.lib" ? "" : "content of " + name);
        write_file(kit / "big.lib", std::string(3 << 20, 'b'));
        // LIB exists and holds an older k.lib, which is replaced; INCLUDE is new.
        mkdir((kit / "LIB").c_str(), 0755);
        write_file(kit / "LIB/k.lib", "old");

        const std::string trace = out / "trace";
        const ProgramRun run =
            run_program(strace,
                        {"strace", "-qq", "-y", "-o", trace, "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
                         "trace=openat,write,pwrite64,copy_file_range,fsync,fdatasync,linkat,"
                         "renameat,renameat2,unlink,unlinkat,mkdir",
                         setup},
                        kit.path());
        ASSERT_EQ(0, run.exit_code) << run.output;
        ASSERT_EQ((std::vector<std::string>{"INCLUDE", "LIB"}), list_dir(kit.path()));
        ASSERT_EQ((std::vector<std::string>{"big.lib", "empty.lib", "k.lib"}), list_dir(kit / "LIB"));

        std::vector<std::string> lines;
        const std::string text = read_file(trace);
        for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(start, end - start));
        }
        const std::set<std::string> checked = check_trace(lines, kit.path(), names);
        EXPECT_EQ(names, checked) << "every file's move was found in the trace";
    }
}

}  // namespace
