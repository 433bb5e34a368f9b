#include "descriptor.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "flush.h"

namespace velmora {
namespace {

class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-common-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/file";
    }
    void TearDown() override {
        ::unlink(path_.c_str());
        ::rmdir(folder_.c_str());
    }
    std::string folder_;
    std::string path_;
};

// The engine's messages for short reads and the file-exists refusal reach
// the user unchanged.
TEST_F(Scratch, ExactWritesReadsAndExclusiveCreate) {
    auto created = create_exclusive(path_, 0600);
    ASSERT_TRUE(created.has_value()) << created.error();
    const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
    ASSERT_TRUE(write_all_at(created->get(), 2, bytes).has_value());
    ASSERT_TRUE(full_flush(*created).has_value());
    ASSERT_TRUE(flush_folder(folder_).has_value());

    const UniqueFd reader(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(reader);
    std::array<std::uint8_t, 3> got{};
    ASSERT_TRUE(read_exact_at(reader.get(), 3, got).has_value());
    EXPECT_EQ(got, (std::array<std::uint8_t, 3>{2, 3, 4}));
    std::array<std::uint8_t, 4> past_end{};
    const Status short_read = read_exact_at(reader.get(), 3, past_end);
    ASSERT_FALSE(short_read.has_value());
    EXPECT_EQ(short_read.error(), "failed to fill whole buffer");

    const auto again = create_exclusive(path_, 0600);
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error(), "File exists (os error 17)");
    EXPECT_TRUE(created->close().has_value());
    EXPECT_FALSE(static_cast<bool>(*created));
}

}  // namespace
}  // namespace velmora
