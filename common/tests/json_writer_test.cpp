#include "json_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

TEST(JsonString, EscapesExactly) {
    EXPECT_EQ(json_string(""), "\"\"");
    EXPECT_EQ(json_string("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(json_string(std::string("\x00\x1f\x7f", 3)), "\"\\u0000\\u001f\x7f\"");
    EXPECT_EQ(json_string("\b\f\t\n\r"), "\"\\u0008\\u000c\\t\\n\\r\"");
    // The backend's wire has always written the short forms; its other
    // escapes are the engine's.
    EXPECT_EQ(json_string(std::string("\b\f\x01\t", 4), ControlEscapes::kShortBackspaceAndFormFeed),
              "\"\\b\\f\\u0001\\t\"");
    EXPECT_EQ(json_string("\xC3\xA9\xE2\x82\xAC"), "\"\xC3\xA9\xE2\x82\xAC\"");
}

}  // namespace
}  // namespace velmora
