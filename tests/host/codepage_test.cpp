#include "host/codepage.h"

#include <string>

#include <gtest/gtest.h>

namespace kvx {
namespace {

struct CodePageCase {
    const char* name;
    std::u16string text;
    std::string bytes;
};

class Cp1252Mapped : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(Cp1252Mapped, RoundTrips) {
    EXPECT_EQ(ToCp1252(GetParam().text), GetParam().bytes);
    EXPECT_EQ(FromCp1252(GetParam().bytes), GetParam().text);
}

// Values from the published Windows-1252 table.
INSTANTIATE_TEST_SUITE_P(
    Table, Cp1252Mapped,
    ::testing::Values(CodePageCase{"ascii", u"Key=1 ~", "Key=1 ~"},
                      CodePageCase{"e_acute", u"caf\u00E9", "caf\xE9"},
                      CodePageCase{"euro", u"\u20AC", "\x80"},
                      CodePageCase{"quotes", u"\u201Ea\u201C",
                                   "\x84"
                                   "a\x93"},
                      CodePageCase{"s_caron", u"\u0160\u0161", "\x8A\x9A"},
                      CodePageCase{"y_diaeresis", u"\u0178\u00FF", "\x9F\xFF"},
                      CodePageCase{"nbsp_and_top", u"\u00A0\u00FE", "\xA0\xFE"},
                      CodePageCase{"undefined_slots", u"\u0081\u008D\u008F\u0090\u009D",
                                   "\x81\x8D\x8F\x90\x9D"},
                      CodePageCase{"nul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)}),
    [](const auto& param) { return std::string(param.param.name); });

struct UnmappableCase {
    const char* name;
    std::u16string text;
    std::string bytes;
};

class Cp1252Unmappable : public ::testing::TestWithParam<UnmappableCase> {};

TEST_P(Cp1252Unmappable, BecomesOneQuestionMarkPerCharacter) {
    EXPECT_EQ(ToCp1252(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Cp1252Unmappable,
    ::testing::Values(UnmappableCase{"a_macron", u"\u0100", "?"},
                      UnmappableCase{"cyrillic", u"\u0416x", "?x"},
                      UnmappableCase{"c1_control_with_a_cp1252_glyph", u"\u0080", "?"},
                      UnmappableCase{"pair", u"a\U0001F600b", "a?b"},
                      UnmappableCase{"lone_surrogate", std::u16string{u'a', char16_t{0xD800}},
                                     "a?"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(FromCp1252, EveryByteDecodesAndEncodesBack) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    const std::u16string text = FromCp1252(all);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(text.find(u'?'), std::u16string::size_type{'?'});  // no byte decodes to '?' but '?'
    EXPECT_EQ(ToCp1252(text), all);
}

}  // namespace
}  // namespace kvx
