// The command-line tail that the Windows start-up passes to WinMain.
#include "platform/win32/command_tail.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TailCase {
    const char* command_line;
    const char* tail;
};

const TailCase kCases[] = {
    {"\"C:\\Program Files\\k\\setup.exe\" /s x", "/s x"},  // blanks inside the quotes belong to the name
    {"\"C:\\kits\\k\\setup.exe\" ", ""},                   // trailing blank only
    {"C:\\kits\\k\\setup.exe", ""},                        // no arguments
    {"setup.exe \t  a  b ", "a  b "},                      // spaces and tabs behind the name go
    {"C:\\a\"b c\"d.exe e", "e"},                          // quotes in the middle of the name
    {"\"C:\\unterminated quote arg", ""},                  // an unclosed quote runs to the end
    {"", ""},
    {"  leading", "leading"},  // an empty name
};

TEST(CommandTail, Table) {
    for (const TailCase& c : kCases) {
        std::string line = c.command_line;
        char* tail = command_tail(line.data());
        EXPECT_EQ(std::string(c.tail), tail) << "command line [" << c.command_line << "]";
        EXPECT_TRUE(tail >= line.data() && tail <= line.data() + line.size()) << "the tail points into the line";
    }
}

}  // namespace
