// The key decoder on its own: byte sequences in, keys out, and how many bytes each key takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/console.h"
#include "common/terminal_keys.h"

namespace kvx::test {
namespace {

using ui::Key;

struct Decoded {
    Key key;
    std::u16string text;
    std::size_t used;  // bytes the key took
};

// Decodes one key from `bytes`; the input ends after them.
Decoded DecodeOne(const std::string& bytes) {
    std::size_t at = 0;
    const ui::KeyInput input = ui::DecodeKey(
        [&](int) -> std::optional<int> {
            if (at == bytes.size()) {
                return ui::kEndOfInput;
            }
            return static_cast<unsigned char>(bytes[at++]);
        },
        0);
    return {input.key, input.text, at};
}

TEST(TerminalKeys, SequencesGiveTheirKeys) {
    struct Case {
        std::string bytes;
        Key key;
        std::u16string text;
        std::size_t used;
    };
    const Case cases[] = {
        {"a", Key::kChar, u"a", 1},
        {"\t", Key::kTab, u"", 1},
        {"\r", Key::kEnter, u"", 1},
        {"\n", Key::kEnter, u"", 1},
        {"\x7f", Key::kBackspace, u"", 1},
        {" ", Key::kSpace, u" ", 1},
        {"\x01", Key::kAbout, u"", 1},
        {"\x03", Key::kInterrupt, u"", 1},
        {"\x1b", Key::kEscape, u"", 1},  // the end of input ends the sequence
        {"\x1bh", Key::kAlt, u"h", 2},
        {"\x1b[Z", Key::kBackTab, u"", 3},
        {"\x1b[A", Key::kBackTab, u"", 3},
        {"\x1bOB", Key::kTab, u"", 3},
        {"\x1b[1;5C", Key::kTab, u"", 6},
        {"\x1b[1;5H", Key::kNone, u"", 6},        // Home: no key of ours
        {"\x1b[123456789", Key::kNone, u"", 10},  // no final byte within eight: given up
        {"\xc3\xa9", Key::kChar, u"\u00e9", 2},
        {"\xe2\x82\xac", Key::kChar, u"\u20ac", 3},
        {"\xf0\x9f\x98\x80", Key::kChar, u"\U0001F600", 4},
        {"\xc0\xaf", Key::kNone, u"", 2},      // overlong '/'
        {"\xed\xa0\x80", Key::kNone, u"", 3},  // a surrogate's code
        {"\xc3", Key::kNone, u"", 1},          // cut short
        {"\xc3"
         "a",
         Key::kNone, u"", 2},          // not a continuation byte
        {"\x80", Key::kNone, u"", 1},  // a stray continuation byte
        {"\xff", Key::kNone, u"", 1},
        {"\x02", Key::kNone, u"", 1},
        {"", Key::kEnd, u"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        const Decoded d = DecodeOne(c.bytes);
        EXPECT_EQ(d.key, c.key);
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.used, c.used);
    }
}

TEST(TerminalKeys, NothingInTimeIsNoKey) {
    int calls = 0;
    const ui::KeyInput input = ui::DecodeKey(
        [&](int timeout) -> std::optional<int> {
            ++calls;
            EXPECT_EQ(timeout, 250);
            return std::nullopt;
        },
        250);
    EXPECT_EQ(input.key, Key::kNone);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace kvx::test
