#include "format/names.h"

#include <gtest/gtest.h>

namespace torv {
namespace {

struct naming_case {
    const char* argument;
    const char* drive;
    const char* input_name;
    const char* prefix;
};

TEST(Names, InputNameAndPrefixFollowFirstDotAndLastBackslash) {
    const naming_case cases[] = {
        {"pics.old.dat", "e", "pics.bin", "e:pics"},
        {"pics", "e", "pics.bin", "e:pics"},
        {"dir.old\\pic.dat", "e", "dir.bin", "e:dir"},  // the first dot is in the folder
        {"sub\\pic.dat", "e", "sub\\pic.bin", "e:pic"},
        {"a\\b\\c.dat", "e", "a\\b\\c.bin", "e:c"},
        {"sub/pic.dat", "e", "sub/pic.bin", "e:sub/pic"},  // '/' is an ordinary character
        {"c:pic.dat", "e", "c:pic.bin", "e:c:pic"},        // and so is ':'
        {".\\pics\\a.dat", "e", ".bin", "e:"},
        {"dir\\.hidden", "e", "dir\\.bin", "e:"},      // stem ends in the backslash
        {"pic.dat", "f:\\out\\", "pic.bin", "f:pic"},  // only the first byte counts
        {"pic.dat", "", "pic.bin", "pic"},             // no drive, no colon
        {"", "e", ".bin", "e:"},
    };
    for (const naming_case& c : cases) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(derive_input_name(c.argument), c.input_name);
        EXPECT_EQ(name_prefix(c.argument, c.drive), c.prefix);
    }
}

TEST(Names, ScansAreBytewise) {
    // 0x5C inside a double-byte character still separates; bytes above 0x7F
    // pass through untouched.
    EXPECT_EQ(name_prefix("\x83\x5C\xE9t\xE9.dat", "e"), "e:\xE9t\xE9");
    EXPECT_EQ(derive_input_name("\xE9t\xE9\\x"), "\xE9t\xE9\\x.bin");
}

TEST(Names, LongNamesAreKeptWhole) {
    const std::string folder(3000, 'd');
    const std::string base(500, 'b');
    const std::string argument = folder + "\\" + base + ".dat";
    EXPECT_EQ(derive_input_name(argument), folder + "\\" + base + ".bin");
    EXPECT_EQ(name_prefix(argument, "e"), "e:" + base);
}

}  // namespace
}  // namespace torv
