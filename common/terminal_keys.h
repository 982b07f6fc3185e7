// The terminal's key decoder: bytes from a console turned into the keys the dialogs know. Pure:
// it reads only through the function it is given, so tests and fuzzers can feed it any bytes.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace kvx::ui {

enum class Key {
    kNone,  // nothing arrived in time, or bytes that make no key
    kChar,
    kTab,
    kBackTab,
    kEnter,
    kSpace,
    kEscape,
    kBackspace,
    kAlt,
    kAbout,
    kInterrupt,
    kEnd  // the input has ended
};

struct KeyInput {
    Key key = Key::kNone;
    std::u16string text{};  // the character typed, or the letter pressed with Alt
};

// One byte within the given milliseconds: nullopt on time-out, kEndOfInput once input ended.
using ByteReader = std::function<std::optional<int>(int timeoutMs)>;

// Bytes of one key sequence arrive within this many milliseconds of its first.
inline constexpr int kKeySequenceMs = 30;

// Reads one key: the first byte within `timeoutMs`, the rest of its sequence within
// kKeySequenceMs each. Escape sequences for Shift-Tab and the arrow keys move the focus;
// Escape and a letter is Alt+letter; a malformed or overlong UTF-8 sequence is dropped.
KeyInput DecodeKey(const ByteReader& read, int timeoutMs);

}  // namespace kvx::ui
