// Temporary directories, small files and runs of the installer for tests.
#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/korimba-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    // Give back write and search rights first, so that tests may leave
    // read-only directories behind.
    nftw(
        path_.c_str(),
        [](const char* path, const struct stat* st, int type, FTW*) {
            if (type == FTW_D || type == FTW_DNR) chmod(path, st->st_mode | S_IRWXU);
            return 0;
        },
        16, FTW_PHYS);
    nftw(
        path_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void exec_without_display(const std::string& program, const std::vector<std::string>& argv,
                          const std::string& directory) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(program.c_str(), args.data());
    _exit(127);
}

ProgramRun run_program(const std::string& program, const std::vector<std::string>& argv, const std::string& directory,
                       int timeout_seconds) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        exec_without_display(program, argv, directory);
    }
    close(pipe_fds[1]);
    fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);

    ProgramRun run;
    int status = 0;
    bool finished = false;
    for (int waited_ms = 0; !finished; waited_ms += 10) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, n);
        if (waitpid(pid, &status, WNOHANG) == pid) {
            finished = true;
        } else if (waited_ms > timeout_seconds * 1000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            close(pipe_fds[0]);
            return run;
        } else {
            usleep(10000);
        }
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, n);
    close(pipe_fds[0]);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}
