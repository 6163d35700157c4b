// Text for a Windows console: UTF-8 as UTF-16, any bytes shown.
#include "cli/console.h"

#include <gtest/gtest.h>

namespace torv::cli {
namespace {

TEST(Console, Utf8BecomesUtf16AndBadBytesBecomeReplacements) {
    // ASCII, Cyrillic, CJK and a character beyond the first plane (a pair).
    EXPECT_EQ(utf16_of("a.bin"), u"a.bin");
    EXPECT_EQ(utf16_of("\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE"), u"\u0424\u043E\u0442\u043E");  // Фото
    EXPECT_EQ(utf16_of("\xE5\x86\x99\xE7\x9C\x9F"), u"\u5199\u771F");                      // 写真
    EXPECT_EQ(utf16_of("\xF0\x9F\x98\x80"), u"\U0001F600");
    // What is not UTF-8 is shown, one replacement a broken sequence, and
    // what follows it survives.
    EXPECT_EQ(utf16_of("\x80x"), u"\uFFFDx");              // a lone continuation byte
    EXPECT_EQ(utf16_of("\xE5\x86x"), u"\uFFFDx");          // cut short
    EXPECT_EQ(utf16_of("\xC0\xAF"), u"\uFFFD");            // overlong '/'
    EXPECT_EQ(utf16_of("\xED\xA0\x80"), u"\uFFFD");        // a surrogate
    EXPECT_EQ(utf16_of("\xF4\x90\x80\x80"), u"\uFFFD");    // beyond U+10FFFF
    EXPECT_EQ(utf16_of("\xFF\xD0\xA4"), u"\uFFFD\u0424");  // no lead byte, then a good one
    EXPECT_EQ(utf16_of(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

}  // namespace
}  // namespace torv::cli
