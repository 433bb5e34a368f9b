#include "json_text.h"

#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using nlohmann::json;

struct ParseErrorCase {
    const char* name;
    std::string text;
    std::string message;
};

void PrintTo(const ParseErrorCase& c, std::ostream* out) { *out << c.name; }

class ParseError : public ::testing::TestWithParam<ParseErrorCase> {};

TEST_P(ParseError, NamesTheDescriptionLineAndColumn) {
    const auto parsed = parse_json(GetParam().text);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseError,
    ::testing::Values(
        ParseErrorCase{"empty", "",
                       "syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal "
                       "at line 1 column 0"},
        ParseErrorCase{"blank", "  \t",
                       "syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal "
                       "at line 1 column 3"},
        ParseErrorCase{"trailing_comma", "{\"a\":1,}",
                       "syntax error while parsing object key - unexpected '}'; expected string literal "
                       "at line 1 column 8"},
        ParseErrorCase{
            "third_line", "[1,\n2,\n x]",
            "syntax error while parsing value - invalid literal; last read: '2,<U+000A> x' at line 3 column 2"},
        ParseErrorCase{"end_after_line_feed", "[1,\n",
                       "syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal "
                       "at line 2 column 0"},
        ParseErrorCase{"second_value", "1 2",
                       "syntax error while parsing value - unexpected number literal; expected end of input "
                       "at line 1 column 3"},
        ParseErrorCase{"number_overflow", "[1, 1e400]", "number overflow parsing '1e400' at line 1 column 9"},
        ParseErrorCase{"nul_after_value", std::string("{}\0[", 4),
                       "syntax error - invalid character U+0000 at line 1 column 3"},
        ParseErrorCase{"nul_in_string", std::string("[\"a\0\"]", 6),
                       "syntax error - invalid character U+0000 at line 1 column 4"},
        ParseErrorCase{"byte_order_mark", "\xef\xbb\xbf{}",
                       "syntax error while parsing value - unexpected byte order mark; expected '[', '{', or a "
                       "literal at line 1 column 1"},
        ParseErrorCase{"too_deep", std::string(513, '['), "recursion limit exceeded at line 1 column 513"},
        ParseErrorCase{"too_deep_over_lines", "{\"a\":\n" + std::string(512, '['),
                       "recursion limit exceeded at line 2 column 512"}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(ParseJson, AcceptsSurroundingWhiteSpaceAndTheDeepestAllowedNesting) {
    EXPECT_EQ(parse_json(" \t\r\n{\"b\":1,\"a\":[true,null]}\r\n "), json::parse(R"({"a":[true,null],"b":1})"));
    const std::string deepest = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    EXPECT_TRUE(parse_json(deepest).has_value());
}

TEST(ParseJson, ByteOrderMarkInsideAStringIsText) { EXPECT_EQ(parse_json("\"\xef\xbb\xbf\""), json("\xef\xbb\xbf")); }

TEST(ParseJson, BracketsInsideStringsDoNotCountAsNesting) {
    const std::string text = "[\"" + std::string(2000, '[') + "\\\"" + std::string(2000, '{') + "\"]";
    const auto parsed = parse_json(text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ((*parsed)[0].get<std::string>().size(), 4001u);
}

TEST(ParseJson, DuplicateKeysKeepTheLastValue) {
    EXPECT_EQ(parse_json(R"({"id":1,"id":2})"), json::parse(R"({"id":2})"));
}

struct DescribeCase {
    json value;
    std::string text;
};

TEST(DescribeJsonValue, NamesKindAndValue) {
    const DescribeCase cases[] = {
        {nullptr, "null"},
        {true, "boolean `true`"},
        {false, "boolean `false`"},
        {5, "integer `5`"},
        {-5, "integer `-5`"},
        {json::parse("18446744073709551615"), "integer `18446744073709551615`"},
        {1.5, "floating point `1.5`"},
        {1.0, "floating point `1.0`"},
        {-0.25, "floating point `-0.25`"},
        {1e21, "floating point `1000000000000000000000.0`"},
        {1e-7, "floating point `0.0000001`"},
        {"x", "string \"x\""},
        {"a\"b\\c\n\t\r", "string \"a\\\"b\\\\c\\n\\t\\r\""},
        {std::string("\x01\x7f", 2), "string \"\\u{1}\\u{7f}\""},
        {"\xc3\xa9", "string \"\xc3\xa9\""},
        {json::array({1}), "sequence"},
        {json::object(), "map"},
    };
    for (const auto& c : cases) EXPECT_EQ(describe_json_value(c.value), c.text) << c.value.dump();
}

TEST(TypedDecoding, StringArray) {
    EXPECT_EQ(decode_string_array(json::parse(R"(["a","",  "b"])")), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(decode_string_array(json::array()), std::vector<std::string>{});
    const std::pair<json, std::string> failures[] = {
        {nullptr, "invalid type: null, expected a sequence"},
        {"x", "invalid type: string \"x\", expected a sequence"},
        {json::object(), "invalid type: map, expected a sequence"},
        {json::parse(R"(["a",5,true])"), "invalid type: integer `5`, expected a string"},
        {json::parse(R"([["a"]])"), "invalid type: sequence, expected a string"},
        {json::parse(R"(["a",null])"), "invalid type: null, expected a string"},
    };
    for (const auto& [value, message] : failures) {
        const auto decoded = decode_string_array(value);
        ASSERT_FALSE(decoded.has_value()) << value.dump();
        EXPECT_EQ(decoded.error(), message);
    }
}

TEST(TypedDecoding, StringMap) {
    EXPECT_EQ(decode_string_map(json::parse(R"({"b":"2","a":"1"})")),
              (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
    const std::pair<json, std::string> failures[] = {
        {nullptr, "invalid type: null, expected a map"},
        {json::array(), "invalid type: sequence, expected a map"},
        {json::parse(R"({"a":"1","b":false})"), "invalid type: boolean `false`, expected a string"},
        {json::parse(R"({"a":{}})"), "invalid type: map, expected a string"},
    };
    for (const auto& [value, message] : failures) {
        const auto decoded = decode_string_map(value);
        ASSERT_FALSE(decoded.has_value()) << value.dump();
        EXPECT_EQ(decoded.error(), message);
    }
}

TEST(MemberOrNull, FindsOnlyMembersOfObjects) {
    const json object = json::parse(R"({"a":[1],"n":null})");
    EXPECT_EQ(member_or_null(object, "a"), json::array({1}));
    EXPECT_TRUE(member_or_null(object, "b").is_null());
    EXPECT_TRUE(member_or_null(json::array({"a"}), "a").is_null());
    EXPECT_TRUE(member_or_null(json("a"), "a").is_null());
}

TEST(Serialisation, CompactHasNoSpacesAndSortedKeys) {
    const json value = json::parse(R"({"b":[1, 2.5, "x y"], "a": {"z": null, "B": true}, "é": "ü"})");
    EXPECT_EQ(to_compact_json(value),
              "{\"a\":{\"B\":true,\"z\":null},\"b\":[1,2.5,\"x y\"],\"\xc3\xa9\":\"\xc3\xbc\"}");
    EXPECT_EQ(to_compact_json(json("line\nbreak\x01")), "\"line\\nbreak\\u0001\"");
}

TEST(Serialisation, PrettyUsesTwoSpacesAndNoTrailingNewline) {
    const json value = json::parse(R"({"b":[1,{}],"a":{"c":[]},"d":null})");
    EXPECT_EQ(to_pretty_json(value),
              "{\n  \"a\": {\n    \"c\": []\n  },\n  \"b\": [\n    1,\n    {}\n  ],\n  \"d\": null\n}");
    EXPECT_EQ(to_pretty_json(json::object()), "{}");
}

// Floating-point numbers are written with the fewest digits that read back
// as the same double, positionally up to 16 integer digits or down to four
// leading zeros after the point, otherwise as digits, "e" and a bare exponent.
TEST(Serialisation, FloatsUseTheShortestDigitsAndExponentLayout) {
    const std::pair<const char*, const char*> cases[] = {
        {"5.522183333333333", "5.522183333333333"},  // a longer form also reads back as this double
        {"57450.21412746848", "57450.21412746848"},
        {"32.99966633299967", "32.99966633299967"},
        {"10.01", "10.01"},
        {"2.0", "2.0"},
        {"1e5", "100000.0"},
        {"-0.5", "-0.5"},
        {"0.0", "0.0"},
        {"-0.0", "-0.0"},
        {"1e15", "1000000000000000.0"},
        {"1234567890123456.0", "1234567890123456.0"},
        {"1e16", "1e16"},
        {"12345678901234567.0", "1.2345678901234568e16"},
        {"123456789012345678901234567890", "1.2345678901234568e29"},
        {"0.0001234", "0.0001234"},
        {"0.00001", "0.00001"},
        {"0.000012345", "0.000012345"},
        {"1e-6", "1e-6"},
        {"1.5e-7", "1.5e-7"},
        {"-2.5e-300", "-2.5e-300"},
        {"1.7976931348623157e308", "1.7976931348623157e308"},
        {"5e-324", "5e-324"},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = parse_json(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        ASSERT_TRUE(parsed->is_number_float()) << text;
        EXPECT_EQ(to_compact_json(*parsed), expected) << text;
        EXPECT_EQ(to_pretty_json(json::array({*parsed})), std::string("[\n  ") + expected + "\n]") << text;
    }
    EXPECT_EQ(to_compact_json(json(std::numeric_limits<double>::quiet_NaN())), "null");
    EXPECT_EQ(to_compact_json(json(-std::numeric_limits<double>::infinity())), "null");
}

TEST(Serialisation, IntegersAndEscapesAreWrittenExactly) {
    const json value = json::parse(
        R"({"max":18446744073709551615,"min":-9223372036854775808,"zero":0,"s":"\"\\\b\f\n\r\t\u0000\u001f\u007f/\u00e9\u2028"})");
    EXPECT_EQ(to_compact_json(value),
              "{\"max\":18446744073709551615,\"min\":-9223372036854775808,"
              "\"s\":\"\\\"\\\\\\b\\f\\n\\r\\t\\u0000\\u001f\x7f/\xc3\xa9\xe2\x80\xa8\",\"zero\":0}");
    EXPECT_EQ(to_pretty_json(json::parse(R"({"a":[[],{},[{"b":null}]],"c":"x"})")),
              "{\n  \"a\": [\n    [],\n    {},\n    [\n      {\n        \"b\": null\n      }\n    ]\n  ],\n  \"c\": "
              "\"x\"\n}");
}

TEST(Serialisation, InvalidUtf8InAStringIsReplacedInsteadOfThrowing) {
    const json value = {{"k", std::string("a\xff"
                                          "b")}};
    EXPECT_EQ(to_compact_json(value),
              "{\"k\":\"a\xef\xbf\xbd"
              "b\"}");
    EXPECT_EQ(to_pretty_json(value),
              "{\n  \"k\": \"a\xef\xbf\xbd"
              "b\"\n}");
}

}  // namespace
}  // namespace velmora
