#include "common/terminal_keys.h"

#include "common/console.h"
#include "host/text.h"

namespace kvx::ui {
namespace {

constexpr int kEscape = 0x1B;
constexpr int kLongestControlSequence = 8;  // parameter bytes before the final byte

bool Ended(const std::optional<int>& b) {
    return !b || *b == kEndOfInput;
}

// After "ESC [" or "ESC O": Shift-Tab and up/left go back, down/right forward.
KeyInput ControlSequence(const ByteReader& read) {
    for (int i = 0; i < kLongestControlSequence; ++i) {
        const auto c = read(kKeySequenceMs);
        if (Ended(c)) {
            break;
        }
        if (*c >= 0x40 && *c <= 0x7E) {  // the final byte
            if (*c == 'Z' || *c == 'A' || *c == 'D') {
                return {Key::kBackTab};
            }
            if (*c == 'B' || *c == 'C') {
                return {Key::kTab};
            }
            break;
        }
    }
    return {};
}

// A UTF-8 sequence: its lead byte says how many bytes follow.
KeyInput Utf8Character(const ByteReader& read, int lead) {
    const int extra = (lead & 0xE0) == 0xC0   ? 1
                      : (lead & 0xF0) == 0xE0 ? 2
                      : (lead & 0xF8) == 0xF0 ? 3
                                              : -1;
    if (extra < 0) {
        return {};
    }
    std::string sequence(1, static_cast<char>(lead));
    for (int i = 0; i < extra; ++i) {
        const auto more = read(kKeySequenceMs);
        if (Ended(more) || (*more & 0xC0) != 0x80) {
            return {};
        }
        sequence += static_cast<char>(*more);
    }
    if (!IsValidUtf8(sequence)) {
        return {};
    }
    return {Key::kChar, FromUtf8(sequence)};
}

}  // namespace

KeyInput DecodeKey(const ByteReader& read, int timeoutMs) {
    const auto first = read(timeoutMs);
    if (!first) {
        return {};
    }
    const int b = *first;
    if (b == kEndOfInput) {
        return {Key::kEnd};
    }
    switch (b) {
        case kEscape: {
            const auto next = read(kKeySequenceMs);
            if (Ended(next)) {
                return {Key::kEscape};
            }
            if (*next == '[' || *next == 'O') {
                return ControlSequence(read);
            }
            return {Key::kAlt, std::u16string(1, static_cast<char16_t>(*next))};
        }
        case 0x09:
            return {Key::kTab};
        case 0x0D:
        case 0x0A:
            return {Key::kEnter};
        case 0x7F:
        case 0x08:
            return {Key::kBackspace};
        case 0x20:
            return {Key::kSpace, u" "};
        case 0x01:  // Ctrl-A
            return {Key::kAbout};
        case 0x03:  // Ctrl-C
            return {Key::kInterrupt};
        default:
            break;
    }
    if (b < 0x20) {
        return {};
    }
    if (b < 0x80) {
        return {Key::kChar, std::u16string(1, static_cast<char16_t>(b))};
    }
    return Utf8Character(read, b);
}

}  // namespace kvx::ui
