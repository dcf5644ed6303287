// Temporary directories, small files and runs of the installer for tests.
#ifndef KORIMBA_TESTS_TEST_SUPPORT_H
#define KORIMBA_TESTS_TEST_SUPPORT_H

#include <string>
#include <vector>

// A fresh directory under $TMPDIR, removed with everything in it.
class TempDir {
   public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

   private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
// The names in a directory, sorted; "." and ".." left out.
std::vector<std::string> list_dir(const std::string& path);

// The result of one run of a program.
struct ProgramRun {
    int exit_code = -1;  // -1 when it had to be killed
    std::string output;  // its standard output
};

// In a child process: enters directory, leaves the display out of the
// environment, so that message boxes arrive on standard output, and becomes
// program with argv.
[[noreturn]] void exec_without_display(const std::string& program, const std::vector<std::string>& argv,
                                       const std::string& directory);

// Runs program with argv in directory, with no display, so that message
// boxes arrive on standard output; kills it after timeout_seconds.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& argv, const std::string& directory,
                       int timeout_seconds = 30);

#endif
