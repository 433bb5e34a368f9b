#include "utf8.h"

#include "reel_name.h"

#include <string>
#include <utility>

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
    // clang-format off
    const Utf8Case cases[] = {
        {"", true, ""},
        {"plain", true, "plain"},
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac", true, "\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac"},
        {"\xf4\x8f\xbf\xbf", true, "\xf4\x8f\xbf\xbf"},          // U+10FFFF
        {std::string("a\0b", 3), true, std::string("a\0b", 3)},
        {"a\xff" "b", false, "a" + r + "b"},
        {"\x80", false, r},                                        // lone continuation
        {"\x80\x80", false, r + r},                                // one replacement each
        {"\xc0\xaf", false, r + r},                                // overlong "/"
        {"\xe0\x80\xaf", false, r + r + r},                        // overlong, three bytes
        {"\xed\xa0\x80", false, r + r + r},                        // surrogate U+D800
        {"\xf4\x90\x80\x80", false, r + r + r + r},                // above U+10FFFF
        {"\xe2\x82", false, r},                                    // truncated at the end
        {"\xe2\x82" "x", false, r + "x"},                          // truncated in the middle
        {"\xf0\x9f\x8e", false, r},
        {"\xc3", false, r},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        EXPECT_EQ(decode_utf8_lossy(c.bytes), c.lossy) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8, ReelNamesAreShortPrintableText) {
    // clang-format off
    const std::pair<std::string, bool> cases[] = {
        {"A", true},
        {std::string(32, 'R'), true},
        {std::string(33, 'R'), false},
        {"", false},
        {"A001\tC002", false},
        {std::string("A\0", 2), false},
        {"A\x7f", false},
        {"A\xc2\x85", false},                                          // C1 NEL
        {"A\xc2\xa0", true},                                           // no-break space
        {"Caf\xc3\xa9 " + std::string(26, 'x'), true},                  // 32 bytes, 31 characters
        {"Caf\xc3\xa9 " + std::string(27, 'x'), false},                 // 33 bytes
        {"A\xff", false},
    };
    // clang-format on
    for (const auto& [text, valid] : cases) EXPECT_EQ(is_valid_reel_name(text), valid) << testing::PrintToString(text);
}

TEST(Utf8, CountsScalarValuesNotBytes) {
    EXPECT_EQ(count_scalar_values(""), 0u);
    EXPECT_EQ(count_scalar_values("abc"), 3u);
    EXPECT_EQ(count_scalar_values("\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac"), 3u);
    // "e" plus a combining acute accent: two scalar values, one glyph.
    EXPECT_EQ(count_scalar_values("e\xcc\x81"), 2u);
}

// The streaming validator must agree with whole-text validation on every
// case, also when the text stops inside a sequence.
TEST(Utf8, StreamingValidatorAgreesWithWholeText) {
    const std::string cases[] = {
        "",         "a\xc3\xa9", "\xe2\x82", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x8f\xbf\xbf",
        "\xf4\x90", "\xc1\xbf",  "\xf5"};
    for (const std::string& bytes : cases) {
        Utf8Validator validator;
        for (const char c : bytes) validator.feed(static_cast<unsigned char>(c));
        EXPECT_EQ(validator.at_boundary(), is_valid_utf8(bytes)) << testing::PrintToString(bytes);
    }
}

TEST(Utf8, TrimsUnicodeWhiteSpaceAndCutsOnBoundaries) {
    EXPECT_EQ(trim_whitespace("\xe3\x80\x80 \t\xc2\xa0x y\n\xe2\x80\xa8"), "x y");
    EXPECT_EQ(trim_whitespace("\xc3\xa9"), "\xc3\xa9");
    EXPECT_EQ(trim_whitespace(" \r\n"), "");
    EXPECT_EQ(complete_utf8_prefix_length("ab"), 2u);
    EXPECT_EQ(complete_utf8_prefix_length("a\xe2\x82"), 1u);
    EXPECT_EQ(complete_utf8_prefix_length("a\xe2\x82\xac"), 4u);
    EXPECT_EQ(complete_utf8_prefix_length("\xf0\x9f\x8e"), 0u);
}

}  // namespace
}  // namespace velmora
