// Feeds arbitrary patterns and names to the layer's wildcard matcher and,
// where they are short, checks it against a plain recursive matcher.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/layer.h"

namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr std::size_t kShortPattern = 16;
constexpr std::size_t kShortName = 32;

// `*` takes any run of characters, `?` exactly one, anything else itself,
// ASCII letters regardless of case. Answers are remembered per position so
// that runs of stars stay cheap.
struct Reference {
    const char* pattern;
    const char* name;
    signed char known[kShortPattern + 1][kShortName + 1];  // 0 unknown, 1 no, 2 yes

    bool match(std::size_t p, std::size_t n) {
        signed char& answer = known[p][n];
        if (answer == 0) answer = decide(p, n) ? 2 : 1;
        return answer == 2;
    }
    bool decide(std::size_t p, std::size_t n) {
        if (pattern[p] == '\0') return name[n] == '\0';
        if (pattern[p] == '*') return match(p + 1, n) || (name[n] != '\0' && match(p, n + 1));
        if (name[n] == '\0') return false;
        if (pattern[p] != '?' && fold(pattern[p]) != fold(name[n])) return false;
        return match(p + 1, n + 1);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The pattern runs up to the first NUL, the name is the rest, cut at its
    // own first NUL: a file name never holds one.
    const std::uint8_t* split = static_cast<const std::uint8_t*>(std::memchr(data, '\0', size));
    const std::size_t pattern_size = split != nullptr ? static_cast<std::size_t>(split - data) : size;
    const std::size_t name_offset = split != nullptr ? pattern_size + 1 : size;
    char* pattern = static_cast<char*>(std::malloc(pattern_size + 1));
    char* name = static_cast<char*>(std::malloc(size - name_offset + 1));
    std::memcpy(pattern, data, pattern_size);
    pattern[pattern_size] = '\0';
    std::memcpy(name, data + name_offset, size - name_offset);
    name[size - name_offset] = '\0';

    const bool matched = posix_layer::wildcard_match(pattern, name);
    if (std::strlen(pattern) <= kShortPattern && std::strlen(name) <= kShortName) {
        Reference reference{pattern, name, {}};
        if (matched != reference.match(0, 0)) {
            std::fprintf(stderr, "pattern [%s] name [%s]: matcher says %d, reference %d\n", pattern, name, matched,
                         !matched);
            std::abort();
        }
    }

    std::free(pattern);
    std::free(name);
    return 0;
}
