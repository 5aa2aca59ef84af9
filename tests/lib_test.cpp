// Tests of the flag bank and the indentation buffer.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include <tovlib.h>

namespace {

TEST(Flags, SetAndClearOneFlagAtATime) {
    tovLib::clrAll();
    for (int i : {0, 2, 199}) {
        EXPECT_FALSE(tovLib::get(i));
        tovLib::set(i);
        EXPECT_TRUE(tovLib::get(i));
        EXPECT_FALSE(tovLib::get(i == 0 ? 1 : i - 1));
        tovLib::clr(i);
        EXPECT_FALSE(tovLib::get(i));
    }
}

TEST(Flags, ClearAllReachesTheClientsFlagsToo) {
    for (int i = 0; i < 200; ++i) tovLib::set(i);
    tovLib::clrAll();
    for (int i = 0; i < 200; ++i) EXPECT_FALSE(tovLib::get(i)) << i;
}

TEST(Flags, IndexesOutsideTheBankAreIgnored) {
    tovLib::clrAll();
    for (int i : {-1, 200, INT_MAX, INT_MIN}) {
        tovLib::set(i);
        EXPECT_FALSE(tovLib::get(i));
    }
    tovLib::set(199);
    tovLib::clr(200);
    EXPECT_TRUE(tovLib::get(199));
    tovLib::clrAll();
}

TEST(Space, RunsOfBlanksAsLongAsTheMagnitude) {
    EXPECT_STREQ(tovLib::space(0), "");
    EXPECT_STREQ(tovLib::space(1), " ");
    EXPECT_STREQ(tovLib::space(-3), "   ");
    EXPECT_EQ(std::string(tovLib::space(127)), std::string(127, ' '));
    // Wider requests stop at 127 blanks instead of running past the buffer.
    for (int n : {128, -128, 100000, INT_MIN, INT_MAX})
        EXPECT_EQ(std::string(tovLib::space(n)), std::string(127, ' ')) << n;
}

TEST(Space, EveryCallReturnsTheSameBuffer) {
    char* first = tovLib::space(4);
    char* second = tovLib::space(2);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "  ");
}

}  // namespace
