// Times the installer against what a user would do instead: coreutils with
// the same safety (copy, one flush, delete) and a plain rename, on kits it
// generates, alternating the tools and taking medians.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct File {
    std::string name;
    long long size;
};

struct Kit {
    std::string name;
    std::string what;
    std::vector<File> files;  // every file of the kit, matching or not
};

struct Options {
    int reps = 5;
    int empty_reps = 31;
    bool quick = false;
    std::string kits = "small,large,mixed,empty";
    std::string parent;
    std::string installer;
    std::string startup;
};

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

bool ends_with(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// What the installer moves and where; the kits use lower-case names only, so
// the case-sensitive shell globs see the same files.
const char* target_of(const std::string& name) {
    if (ends_with(name, ".h")) return "INCLUDE";
    if (ends_with(name, ".lib")) return "LIB";
    return nullptr;
}

// A fast generator: the data only has to be incompressible and distinct.
unsigned long long next_random(unsigned long long& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

void write_file(const std::string& path, long long size, unsigned long long seed) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) die("create " + path);
    static unsigned long long block[1 << 13];  // 64 KiB
    unsigned long long state = seed * 2654435761ULL + 1;
    for (long long done = 0; done < size;) {
        for (auto& word : block) word = next_random(state);
        const std::size_t n = static_cast<std::size_t>(std::min<long long>(size - done, sizeof block));
        if (write(fd, block, n) != static_cast<ssize_t>(n)) die("write " + path);
        done += static_cast<long long>(n);
    }
    close(fd);
}

// Runs argv quietly and waits; false when it fails.
bool run_quiet(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid < 0) die("fork");
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Flushes the whole file system of path, so that every timed run starts with
// nothing dirty of its own preparation.
void flush_file_system(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || syncfs(fd) != 0) die("syncfs " + path);
    close(fd);
}

Kit small_kit(bool quick) {
    Kit kit{"small headers", "", {}};
    const int count = quick ? 200 : 2000;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "part%04d.h", i);
        kit.files.push_back({name, 4096});
    }
    kit.what = std::to_string(count) + " x 4 KiB";
    return kit;
}

Kit large_kit(bool quick) {
    Kit kit{"large libraries", "", {}};
    const int count = quick ? 2 : 6;
    const long long size = quick ? (1LL << 20) : (48LL << 20);
    for (int i = 0; i < count; ++i) kit.files.push_back({"engine" + std::to_string(i) + ".lib", size});
    kit.what = std::to_string(count) + " x " + std::to_string(size >> 20) + " MiB";
    return kit;
}

// Shaped like a real distribution: many headers of spread-out sizes, a
// handful of libraries from small import libraries to large static ones, and
// files that stay where they are.
Kit mixed_kit(bool quick) {
    Kit kit{"mixed distribution", "", {}};
    unsigned long long state = 0x9e3779b97f4a7c15ULL;
    const int headers = quick ? 40 : 400;
    for (int i = 0; i < headers; ++i) {
        // 200 B to about 200 KiB, most of them a few KiB.
        const double spread = static_cast<double>(next_random(state) % 1000) / 1000.0;
        const long long size = static_cast<long long>(200.0 * std::pow(1000.0, spread * spread));
        kit.files.push_back({"api" + std::to_string(i) + ".h", size});
    }
    const long long libs[] = {16 << 10, 96 << 10, 700 << 10, 3 << 20, 12 << 20, 40 << 20};
    int i = 0;
    for (long long size : libs) {
        if (quick && size > (1 << 20)) size >>= 6;
        kit.files.push_back({"korlib" + std::to_string(i++) + ".lib", size});
    }
    kit.files.push_back({"readme.txt", 6 << 10});
    kit.files.push_back({"license.txt", 11 << 10});
    kit.files.push_back({"korlib.dll", quick ? 64 << 10 : 5 << 20});
    long long matching = 0, bytes = 0;
    for (const auto& f : kit.files)
        if (target_of(f.name)) ++matching, bytes += f.size;
    kit.what = std::to_string(headers) + " .h, " + std::to_string(std::size(libs)) + " .lib, 3 others; " +
               std::to_string(bytes >> 20) + " MiB moved";
    return kit;
}

void generate(const Kit& kit, const std::string& dir) {
    if (mkdir(dir.c_str(), 0755) != 0) die("mkdir " + dir);
    unsigned long long seed = 1;
    for (const auto& f : kit.files) write_file(dir + "/" + f.name, f.size, seed++);
}

// Whether the tool sorted the kit: every matching file in its target with
// its size, nothing matching left behind, every other file in place.
std::string check_sorted(const Kit& kit, const std::string& dir) {
    for (const auto& f : kit.files) {
        const char* target = target_of(f.name);
        struct stat st;
        const std::string moved = dir + "/" + (target ? std::string(target) + "/" : "") + f.name;
        if (stat(moved.c_str(), &st) != 0) return f.name + " is not at " + moved;
        if (st.st_size != f.size) return moved + " has the wrong size";
        if (target && access((dir + "/" + f.name).c_str(), F_OK) == 0) return f.name + " was left behind";
    }
    return "";
}

struct Sample {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds of the tool and its children
    long peak = 0;    // KiB, the largest single process
};

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// A competitor: a program run in the kit, or a function run in a child.
struct Tool {
    std::string name;
    std::vector<std::string> argv;
    void (*function)(const Kit&) = nullptr;
};

// The lower bound the installer's durability sets for each file: write it,
// flush it, flush its directory. Runs in the kit.
void flush_floor(const Kit& kit) {
    mkdir("INCLUDE", 0777);
    const int directory = open("INCLUDE", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    static char data[1 << 16];
    for (const auto& f : kit.files) {
        const int fd = open(("INCLUDE/" + f.name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || write(fd, data, std::min<std::size_t>(f.size, sizeof data)) < 0 || fsync(fd) != 0 ||
            fsync(directory) != 0)
            _exit(1);
        close(fd);
    }
    _exit(0);
}

Sample time_tool(const Tool& tool, const Kit& kit, const std::string& dir, const std::string& output) {
    const double start = now();
    const pid_t pid = fork();
    if (pid < 0) die("fork");
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
        // Without a display the installer's box is one line on stdout.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        if (tool.function) tool.function(kit);
        std::vector<char*> argv;
        for (const auto& a : tool.argv) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status;
    rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) die("wait4");
    Sample s;
    s.wall = now() - start;
    s.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    s.peak = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench: %s failed on the %s kit (status %d); its output is in %s\n", tool.name.c_str(),
                     kit.name.c_str(), status, output.c_str());
        std::exit(1);
    }
    return s;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Result {
    std::vector<Sample> samples;
    double wall() const {
        std::vector<double> v;
        for (const auto& s : samples) v.push_back(s.wall);
        return median(v);
    }
    double cpu() const {
        std::vector<double> v;
        for (const auto& s : samples) v.push_back(s.cpu);
        return median(v);
    }
    double spread() const {  // (max - min) / median of the wall times
        double lo = 1e300, hi = 0;
        for (const auto& s : samples) lo = std::min(lo, s.wall), hi = std::max(hi, s.wall);
        return (hi - lo) / wall();
    }
    long peak() const {
        long p = 0;
        for (const auto& s : samples) p = std::max(p, s.peak);
        return p;
    }
};

// Runs every tool reps times on fresh copies of the kit, in turn and in a
// rotating order, so that a drift in the machine's speed hits all alike.
std::vector<Result> measure(const Kit& kit, const std::vector<Tool>& tools, const std::string& work, int reps) {
    const std::string master = work + "/master";
    const std::string run = work + "/run";
    const std::string output = work + "/output.txt";
    run_quiet({"rm", "-rf", master});
    generate(kit, master);
    std::vector<Result> results(tools.size());
    for (int rep = 0; rep < reps; ++rep) {
        for (std::size_t k = 0; k < tools.size(); ++k) {
            const std::size_t t = (k + static_cast<std::size_t>(rep)) % tools.size();
            if (!run_quiet({"rm", "-rf", run}) || !run_quiet({"cp", "-a", master, run})) die("prepare " + run);
            flush_file_system(run);
            results[t].samples.push_back(time_tool(tools[t], kit, run, output));
            if (tools[t].function) continue;  // the floor does not sort anything
            const std::string problem = check_sorted(kit, run);
            if (!problem.empty()) {
                std::fprintf(stderr, "bench: after %s on the %s kit, %s\n", tools[t].name.c_str(), kit.name.c_str(),
                             problem.c_str());
                std::exit(1);
            }
        }
        std::fprintf(stderr, ".");
    }
    run_quiet({"rm", "-rf", master, run});
    return results;
}

// The coreutils way with the same safety: copy each pattern, flush once,
// then delete the originals.
std::vector<std::string> coreutils_command(const Kit& kit) {
    bool h = false, lib = false;
    for (const auto& f : kit.files) {
        if (ends_with(f.name, ".h")) h = true;
        if (ends_with(f.name, ".lib")) lib = true;
    }
    std::string script = "mkdir -p INCLUDE LIB";
    if (h) script += " && cp -f -- *.h INCLUDE/";
    if (lib) script += " && cp -f -- *.lib LIB/";
    script += " && sync -f . && rm -f -- *.h *.lib";
    return {"sh", "-c", script};
}

std::vector<std::string> mv_command(const Kit& kit) {
    bool h = false, lib = false;
    for (const auto& f : kit.files) {
        if (ends_with(f.name, ".h")) h = true;
        if (ends_with(f.name, ".lib")) lib = true;
    }
    std::string script = "mkdir -p INCLUDE LIB";
    if (h) script += " && mv -f -- *.h INCLUDE/";
    if (lib) script += " && mv -f -- *.lib LIB/";
    return {"sh", "-c", script};
}

std::string read_line(const char* command) {
    std::string text;
    if (FILE* p = popen(command, "r")) {
        char buffer[256];
        if (std::fgets(buffer, sizeof buffer, p)) text = buffer;
        pclose(p);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

void print_machine(const std::string& work) {
    utsname u;
    uname(&u);
    std::string cpu = read_line("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'");
    std::string fs = read_line(("df -T '" + work + "' | awk 'NR==2 {print $2 \" on \" $1}'").c_str());
    std::string coreutils = read_line("cp --version | head -n1");
    std::printf("machine: %s, %ld cores, %ld MiB; %s %s; kits on %s (%s); %s\n", cpu.c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), sysconf(_SC_PHYS_PAGES) / 1024 * sysconf(_SC_PAGESIZE) / 1024, u.sysname,
                u.release, fs.c_str(), work.c_str(), coreutils.c_str());
}

// Whether the kit, known by the first word of its name, was asked for.
bool wanted(const Options& o, const std::string& kit) {
    const std::string word = kit.substr(0, kit.find(' '));
    return ("," + o.kits + ",").find("," + word + ",") != std::string::npos;
}

void usage() {
    std::fprintf(stderr,
                 "usage: bench --installer PATH --startup PATH [--reps N] [--dir PARENT] [--kits LIST] [--quick]\n"
                 "  --installer  the installer built for this system (build/native/setup)\n"
                 "  --startup    a program that only starts and exits, linked like the installer\n"
                 "  --reps N     runs of each tool on each kit (default 5)\n"
                 "  --dir PARENT where the kits are made (default $TMPDIR, else /var/tmp): use a real disk\n"
                 "  --kits LIST  which kits, of small,large,mixed,empty (default all)\n"
                 "  --quick      tiny kits and one run each, to check that everything works\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--installer" && has_value)
            o.installer = argv[++i];
        else if (a == "--startup" && has_value)
            o.startup = argv[++i];
        else if (a == "--reps" && has_value)
            o.reps = std::max(1, std::atoi(argv[++i]));
        else if (a == "--dir" && has_value)
            o.parent = argv[++i];
        else if (a == "--kits" && has_value)
            o.kits = argv[++i];
        else if (a == "--quick")
            o.quick = true;
        else
            usage();
    }
    if (o.installer.empty() || o.startup.empty()) usage();
    if (o.quick) o.reps = 1, o.empty_reps = 3;
    for (std::string* path : {&o.installer, &o.startup}) {
        char* real = realpath(path->c_str(), nullptr);
        if (real == nullptr) die(*path);
        *path = real;
        std::free(real);
    }
    if (o.parent.empty()) o.parent = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/var/tmp";
    std::string work = o.parent + "/korimba-bench-XXXXXX";
    if (mkdtemp(work.data()) == nullptr) die("mkdtemp in " + o.parent);

    print_machine(work);
    std::printf("median of %d alternating runs per tool; each run on a fresh copy of the kit, flushed before\n\n",
                o.reps);
    std::fflush(stdout);

    const Tool installer{"installer", {o.installer}};
    std::printf(
        "| kit | files | installer s | coreutils s | mv s | installer / coreutils | installer cpu s | installer peak "
        "KiB |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    double small_per_file[3] = {0, 0, 0};
    double small_cpu_per_file[2] = {0, 0};  // installer, flush floor
    std::size_t small_count = 0;
    double worst_spread = 0;
    long peak = 0;
    for (const Kit& kit : {small_kit(o.quick), large_kit(o.quick), mixed_kit(o.quick)}) {
        if (!wanted(o, kit.name)) continue;
        std::vector<Tool> tools = {installer, {"coreutils", coreutils_command(kit)}, {"mv", mv_command(kit)}};
        const bool small = kit.name == "small headers";
        if (small) tools.push_back({"flush floor", {}, flush_floor});
        const auto r = measure(kit, tools, work, o.reps);
        std::fprintf(stderr, "\n");
        for (const auto& each : r) worst_spread = std::max(worst_spread, each.spread());
        peak = std::max(peak, r[0].peak());
        std::printf("| %s | %s | %.3f | %.3f | %.3f | %.2f | %.3f | %ld |\n", kit.name.c_str(), kit.what.c_str(),
                    r[0].wall(), r[1].wall(), r[2].wall(), r[0].wall() / r[1].wall(), r[0].cpu(), r[0].peak());
        std::fflush(stdout);
        if (small) {
            small_count = kit.files.size();
            for (int t = 0; t < 3; ++t) small_per_file[t] = (t == 2 ? r[3].wall() : r[t].wall()) / small_count;
            small_cpu_per_file[0] = r[0].cpu() / small_count;
            small_cpu_per_file[1] = r[3].cpu() / small_count;
        }
    }

    // The empty kit: what a run costs beyond starting a process at all.
    Kit empty{"empty", "no files", {}};
    std::vector<Result> e(2);
    if (wanted(o, empty.name)) {
        e = measure(empty, {installer, {"start-up", {o.startup}}}, work, o.empty_reps);
        std::fprintf(stderr, "\n");
    }
    unlink((work + "/output.txt").c_str());
    rmdir(work.c_str());

    if (small_count != 0)
        std::printf(
            "\nsmall headers, per file: installer %.3f ms, coreutils %.3f ms, flush floor %.3f ms "
            "(write, flush the file, flush its directory); installer / floor %.2f; "
            "cpu per file: installer %.3f ms, floor %.3f ms\n",
            small_per_file[0] * 1e3, small_per_file[1] * 1e3, small_per_file[2] * 1e3,
            small_per_file[0] / small_per_file[2], small_cpu_per_file[0] * 1e3, small_cpu_per_file[1] * 1e3);
    if (!e[0].samples.empty())
        std::printf(
            "empty kit (%d runs): installer cpu %.3f ms, wall %.3f ms; bare start-up cpu %.3f ms, wall %.3f ms; "
            "beyond start-up cpu %.3f ms; installer peak %ld KiB (start-up alone %ld KiB)\n",
            o.empty_reps, e[0].cpu() * 1e3, e[0].wall() * 1e3, e[1].cpu() * 1e3, e[1].wall() * 1e3,
            (e[0].cpu() - e[1].cpu()) * 1e3, e[0].peak(), e[1].peak());
    std::printf(
        "largest installer peak over all kits: %ld KiB; widest spread of one tool's runs: %.0f%% of its median\n",
        std::max(peak, e[0].peak()), worst_spread * 100);
    return 0;
}
