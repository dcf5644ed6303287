// The caption a command line yields.
#include <gtest/gtest.h>

#include <string>

#include "messages/show_message.h"

namespace {

struct CaptionCase {
    const char* command_line;
    const char* caption;
};

const CaptionCase kCases[] = {
    {"\"C:\\kits\\k\\setup.exe\" ", "setup.exe"},         // quoted path, trailing blank
    {"C:\\kits\\k\\setup.exe", "setup.exe"},              // plain path
    {"\"C:\\kits\\k\\setup.exe\" /s", "setup.exe\" /s"},  // an argument stays in
    {"\"C:\\kits\\k\\setup.exe\" D:\\tmp\\x", "x"},       // a backslash in an argument
    {"C:\\kits\\k\\", "Error"},                           // ends in a backslash
    {"\"", "Error"},                                      // a lone quote
    {" ", "Error"},                                       // a lone space
    {"", "Error"},                                        // nothing at all
    {"C:\\name\"  ", "name\" "},                          // quote and two spaces: one space goes
    {"C:\\name\"\t", "name\"\t"},                         // a tab is not a space
    {"12setup.exe", "setup.exe"},                         // a leading number is passed over
    {"  -7setup.exe", "setup.exe"},                       // with blanks and a sign
    {"-setup.exe", "-setup.exe"},                         // a sign without digits is text
    {"99999999999999999999999setup.exe", "setup.exe"},    // a number too long for long
    {"12\\34\\5", "5"},                                   // backslashes behind the number
    {"C:/kits/k/setup.exe", "C:/kits/k/setup.exe"},       // a slash is not a separator
    {"\\ \"", " "},                                       // the space is kept after the quote goes
    // 40 characters are cut to 32, and the rules apply to the 32nd.
    {"C:\\0123456789012345678901234567890123456789", "01234567890123456789012345678901"},
    {"C:\\0123456789012345678901234567890\"        ", "0123456789012345678901234567890"},
    {"C:\\012345678901234567890123456789\" 12345678", "012345678901234567890123456789"},
};

TEST(DeriveCaption, Table) {
    for (const CaptionCase& c : kCases) {
        EXPECT_EQ(std::string(c.caption), derive_caption(c.command_line).text)
            << "command line [" << c.command_line << "]";
    }
}

TEST(DeriveCaption, NeverLongerThan32) {
    const std::string long_name(5000, 'n');
    const Caption caption = derive_caption(long_name.c_str());
    EXPECT_EQ(std::string(32, 'n'), caption.text);
}

}  // namespace
