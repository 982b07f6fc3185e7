#include "host/text.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

namespace kvx {
namespace {

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

class Utf8RoundTrip : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8RoundTrip, BothDirections) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
    EXPECT_TRUE(IsValidUtf8(c.utf8));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8RoundTrip,
    ::testing::Values(Utf8Case{"empty", "", u""}, Utf8Case{"ascii", "Abc 123", u"Abc 123"},
                      Utf8Case{"two_bytes", "\xC3\xA9", u"\u00E9"},
                      Utf8Case{"last_two_byte", "\xDF\xBF", u"\u07FF"},
                      Utf8Case{"three_bytes", "\xE2\x82\xAC", u"\u20AC"},
                      Utf8Case{"last_bmp", "\xEF\xBF\xBF", u"\uFFFF"},
                      Utf8Case{"pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
                      Utf8Case{"max", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
                      Utf8Case{"nul_inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3)}),
    [](const auto& param) { return std::string(param.param.name); });

struct BadUtf8Case {
    const char* name;
    std::string bytes;
    std::u16string decoded;
};

class MalformedUtf8 : public ::testing::TestWithParam<BadUtf8Case> {};

TEST_P(MalformedUtf8, BecomesReplacementAndIsInvalid) {
    EXPECT_EQ(FromUtf8(GetParam().bytes), GetParam().decoded);
    EXPECT_FALSE(IsValidUtf8(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedUtf8,
                         ::testing::Values(BadUtf8Case{"lone_continuation", "a\x80z", u"a\uFFFDz"},
                                           BadUtf8Case{"cp1252_byte", "caf\xE9", u"caf\uFFFD"},
                                           BadUtf8Case{"truncated_at_end", "x\xE2\x82", u"x\uFFFD"},
                                           BadUtf8Case{"truncated_inside", "\xE2\x82z", u"\uFFFDz"},
                                           BadUtf8Case{"overlong_slash", "\xC0\xAF",
                                                       u"\uFFFD\uFFFD"},
                                           BadUtf8Case{"overlong_three", "\xE0\x80\xAF", u"\uFFFD"},
                                           BadUtf8Case{"surrogate", "\xED\xA0\x80", u"\uFFFD"},
                                           BadUtf8Case{"above_max", "\xF4\x90\x80\x80", u"\uFFFD"},
                                           BadUtf8Case{"ff_byte", "\xFF", u"\uFFFD"}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ToUtf8, UnpairedSurrogatesBecomeReplacement) {
    EXPECT_EQ(ToUtf8(std::u16string{u'a', char16_t{0xD800}, u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t{0xDC00}}), "\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t{0xDBFF}}), "\xEF\xBF\xBD");
}

TEST(UpperAscii, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(UpperAscii(u"abz AZ 09 `{ \u00E9\u00FF\u0430"), u"ABZ AZ 09 `{ \u00E9\u00FF\u0430");
}

TEST(FixedUtf16, ReadStopsAtTerminatorOrCapacity) {
    const std::array<std::uint16_t, 5> terminated = {'a', 'b', 0, 'c', 'd'};
    EXPECT_EQ(ReadFixedUtf16(terminated), u"ab");
    const std::array<std::uint16_t, 3> full = {'x', 0x20AC, 'z'};
    EXPECT_EQ(ReadFixedUtf16(full), u"x\u20ACz");
    EXPECT_EQ(ReadFixedUtf16(std::span<const std::uint16_t>()), u"");
}

TEST(FixedUtf16, WriteTruncatesTerminatesAndClearsTheRest) {
    std::array<std::uint16_t, 6> array;
    array.fill(0xEEEE);
    WriteFixedUtf16(u"abc", array);
    EXPECT_EQ(array, (std::array<std::uint16_t, 6>{'a', 'b', 'c', 0, 0, 0}));

    WriteFixedUtf16(u"abcdefgh", array);
    EXPECT_EQ(array, (std::array<std::uint16_t, 6>{'a', 'b', 'c', 'd', 'e', 0}));
    EXPECT_EQ(ReadFixedUtf16(array), u"abcde");
}

TEST(FixedUtf16, WriteNeverSplitsAPair) {
    std::array<std::uint16_t, 4> array;
    WriteFixedUtf16(u"ab\U0001F600", array);  // the pair would need units 2 and 3
    EXPECT_EQ(ReadFixedUtf16(array), u"ab");
    std::array<std::uint16_t, 5> roomy;
    WriteFixedUtf16(u"ab\U0001F600", roomy);
    EXPECT_EQ(ReadFixedUtf16(roomy), u"ab\U0001F600");
}

#pragma pack(push, 1)
struct PackedRecord {
    std::uint8_t flag;
    std::uint16_t text[4];  // at an odd offset, as in the request record
    std::uint8_t after;
};
#pragma pack(pop)

TEST(FixedUtf16, PackedFieldAtAnOddAddress) {
    PackedRecord record{};
    record.flag = 0xAA;
    record.after = 0xBB;
    WriteFixedUtf16(u"abcdef", record.text, std::extent_v<decltype(record.text)>);
    EXPECT_EQ(ReadFixedUtf16(record.text, std::extent_v<decltype(record.text)>), u"abc");
    EXPECT_EQ(record.flag, 0xAA);
    EXPECT_EQ(record.after, 0xBB);  // the terminator stays inside the field
    unsigned char raw[sizeof record];
    std::memcpy(raw, &record, sizeof record);
    EXPECT_EQ(raw[1], 'a');
    EXPECT_EQ(raw[7], 0);
    EXPECT_EQ(raw[8], 0);
}

TEST(FixedUtf16, WriteIntoEmptyArrayDoesNothing) {
    WriteFixedUtf16(u"abc", std::span<std::uint16_t>());
    std::array<std::uint16_t, 1> one = {0x41};
    WriteFixedUtf16(u"abc", one);
    EXPECT_EQ(one[0], 0);
}

}  // namespace
}  // namespace kvx
