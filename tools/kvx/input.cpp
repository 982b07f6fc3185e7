#include "tools/kvx/input.h"

#include <cstdio>
#include <vector>

#include "tools/kvx/failure.h"
#include "tools/kvx/terminal.h"

namespace kvx::cli {
namespace {

// Decodes UTF-8 one byte at a time into UTF-16 units.
class Utf8Decoder {
  public:
    // Feeds a byte; returns the number of units completed (0 to 2) into out. Throws on bad input.
    int Feed(unsigned char byte, char16_t out[2]) {
        if (pending_ == 0) {
            if (byte < 0x80) {
                out[0] = byte;
                return 1;
            }
            if (byte >= 0xC2 && byte <= 0xF4) {
                pending_ = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
                code_ = byte & (0x3F >> pending_);
                return 0;
            }
            throw Failure(kExitUsage, "the input is not UTF-8 text");
        }
        if ((byte & 0xC0) != 0x80) {
            throw Failure(kExitUsage, "the input is not UTF-8 text");
        }
        code_ = (code_ << 6) | (byte & 0x3F);
        if (--pending_ != 0) {
            return 0;
        }
        const char32_t code = code_;
        code_ = 0;
        if (code < 0x10000) {
            out[0] = static_cast<char16_t>(code);
            return 1;
        }
        out[0] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        out[1] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        return 2;
    }
    ~Utf8Decoder() { SecureWipe(&code_, sizeof code_); }

  private:
    int pending_ = 0;
    char32_t code_ = 0;
};

}  // namespace

void Password::Wipe() {
    SecureWipe(units_, sizeof units_);
    length_ = 0;
}

bool InputSource::Terminal() const {
    return !fromStdin_ && InputIsTerminal();
}

bool InputSource::Interactive() const {
    return Terminal();
}

void InputSource::Prompt(const char* prompt) const {
    if (Terminal()) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
    }
}

bool InputSource::ReadLine(char16_t* units, std::size_t capacity, std::size_t& length) {
    Utf8Decoder decoder;
    length = 0;
    bool any = false;
    for (;;) {
        const int byte = ReadInputByte();
        if (byte == kInputEnded) {
            return any;
        }
        any = true;
        if (byte == '\n') {
            return true;
        }
        char16_t decoded[2] = {};
        const int n = decoder.Feed(static_cast<unsigned char>(byte), decoded);
        for (int i = 0; i < n; ++i) {
            if (length < capacity) {
                units[length] = decoded[i];
            }
            ++length;
        }
        SecureWipe(decoded, sizeof decoded);
    }
}

void InputSource::ReadPassword(const char* prompt, Password& out) {
    if (!fromStdin_ && !InputIsTerminal()) {
        throw Failure(kExitUsage,
                      "a password is needed: type it on a terminal, or give one per line on "
                      "standard input with --password-stdin");
    }
    out.Wipe();
    bool got = false;
    {
        Prompt(prompt);
        const ScopedNoEcho noEcho;
        got = ReadLine(out.units_, std::size(out.units_), out.length_);
        if (Terminal()) {
            std::fputs("\n", stderr);
        }
    }
    // A Windows line end leaves its carriage return.
    if (out.length_ > 0 && out.length_ <= std::size(out.units_) &&
        out.units_[out.length_ - 1] == u'\r') {
        out.units_[--out.length_] = 0;
    }
    if (!got) {
        out.Wipe();
        throw Failure(kExitUsage, "no password given: the input ended");
    }
    if (out.length_ < ui::kShortestPassword || out.length_ > ui::kPasswordChars) {
        out.Wipe();
        throw Failure(kExitUsage, "a password has " + std::to_string(ui::kShortestPassword) +
                                      " to " + std::to_string(ui::kPasswordChars) + " characters");
    }
}

void InputSource::ReadNewPassword(Password& out) {
    ReadPassword("New password: ", out);
    Password again;
    ReadPassword("Confirm new password: ", again);
    if (out.view() != again.view()) {
        out.Wipe();
        throw Failure(kExitUsage, "the new password and its confirmation differ");
    }
}

std::u16string InputSource::ReadHint(const char* prompt) {
    if (!fromStdin_ && !InputIsTerminal()) {
        throw Failure(kExitUsage,
                      "a hint is needed: give it with --hint, on a terminal, or as "
                      "the next line of standard input with --password-stdin");
    }
    Prompt(prompt);
    std::vector<char16_t> units(ui::kHintUnits);
    std::size_t length = 0;
    if (!ReadLine(units.data(), units.size(), length)) {
        throw Failure(kExitUsage, "no hint given: the input ended");
    }
    if (length > 0 && length <= units.size() && units[length - 1] == u'\r') {
        --length;
    }
    if (length >= units.size()) {
        throw Failure(kExitUsage, "the hint is longer than " + std::to_string(units.size() - 1) +
                                      " characters");
    }
    std::u16string hint(units.data(), length);
    CheckHint(hint);
    return hint;
}

void CheckHint(std::u16string_view hint) {
    if (hint.size() < ui::kShortestHint) {
        throw Failure(kExitUsage,
                      "a hint has at least " + std::to_string(ui::kShortestHint) + " characters");
    }
    if (hint.size() >= ui::kHintUnits) {
        throw Failure(kExitUsage, "the hint is longer than " + std::to_string(ui::kHintUnits - 1) +
                                      " characters");
    }
}

bool InputSource::Confirm(const std::string& question) {
    if (!Interactive()) {
        return false;
    }
    std::fputs((question + " [y/N] ").c_str(), stderr);
    std::fflush(stderr);
    std::string answer;
    for (int byte = ReadInputByte(); byte != kInputEnded && byte != '\n'; byte = ReadInputByte()) {
        answer.push_back(static_cast<char>(byte));
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

}  // namespace kvx::cli
