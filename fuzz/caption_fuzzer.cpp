// Feeds arbitrary command lines to derive_caption and checks each caption
// against a plain, independent reading of the rules.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "messages/show_message.h"

namespace {

bool is_c_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The caption, worked out step by step on a std::string.
std::string expected_caption(const std::string& line) {
    // Where a base-10 number (blanks, a sign, digits) ends; the start when
    // there is none.
    std::size_t i = 0;
    while (i < line.size() && is_c_space(line[i])) ++i;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
    std::size_t digits_end = i;
    while (digits_end < line.size() && is_digit(line[digits_end])) ++digits_end;
    const std::size_t start = digits_end > i ? digits_end : 0;

    std::string name = line.substr(start);
    const std::size_t backslash = name.rfind('\\');
    if (backslash != std::string::npos) name = name.substr(backslash + 1);
    if (name.size() > 32) name.resize(32);
    if (!name.empty() && name.back() == ' ') name.pop_back();
    if (!name.empty() && name.back() == '"') name.pop_back();
    return name.empty() ? "Error" : name;
}

[[noreturn]] void fail(const char* what, const char* line, const char* got) {
    std::fprintf(stderr, "%s\n  command line [%s]\n  caption      [%s]\n", what, line, got);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A command line is one NUL-terminated string; it ends at the first NUL.
    char* line = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(line, data, size);
    line[size] = '\0';

    const Caption caption = derive_caption(line);
    const std::size_t length = strnlen(caption.text, sizeof caption.text);
    if (length > 32 || length == 0) fail("caption empty or longer than 32 characters", line, "");
    const std::string got(caption.text, length);
    // The caption is "Error" or a piece of the command line itself.
    if (got != "Error" && std::strstr(line, caption.text) == nullptr)
        fail("caption not taken from the command line", line, caption.text);
    if (got != expected_caption(line)) fail("caption differs from the plain reading", line, caption.text);

    std::free(line);
    return 0;
}
