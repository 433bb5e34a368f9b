#include "utf8.h"

#include <string>

#include <gtest/gtest.h>

namespace velmora {
namespace {

struct Utf8Case {
    std::string bytes;
    bool valid;
    std::string lossy;
};

TEST(Utf8, ValidationAndLossyDecoding) {
    const std::string r = "\xef\xbf\xbd";  // U+FFFD
    const Utf8Case cases[] = {
        {"", true, ""},
        {"plain", true, "plain"},
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac", true, "\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac"},
        {"\xf4\x8f\xbf\xbf", true, "\xf4\x8f\xbf\xbf"},          // U+10FFFF
        {std::string("a\0b", 3), true, std::string("a\0b", 3)},
        {"a\xff" "b", false, "a" + r + "b"},
        {"\x80", false, r},                                        // lone continuation
        {"\xc0\xaf", false, r + r},                                // overlong "/"
        {"\xe0\x80\xaf", false, r + r + r},                        // overlong, three bytes
        {"\xed\xa0\x80", false, r + r + r},                        // surrogate U+D800
        {"\xf4\x90\x80\x80", false, r + r + r + r},                // above U+10FFFF
        {"\xe2\x82", false, r},                                    // truncated at the end
        {"\xe2\x82" "x", false, r + "x"},                          // truncated in the middle
        {"\xf0\x9f\x8e", false, r},
        {"\xc3", false, r},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        EXPECT_EQ(decode_utf8_lossy(c.bytes), c.lossy) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8, CountsScalarValuesNotBytes) {
    EXPECT_EQ(count_scalar_values(""), 0u);
    EXPECT_EQ(count_scalar_values("abc"), 3u);
    EXPECT_EQ(count_scalar_values("\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac"), 3u);
    // "e" plus a combining acute accent: two scalar values, one glyph.
    EXPECT_EQ(count_scalar_values("e\xcc\x81"), 2u);
}

}  // namespace
}  // namespace velmora
