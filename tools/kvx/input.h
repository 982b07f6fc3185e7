// Passwords, hints and confirmations for kvx. Passwords never come from the command line: they
// are typed on the terminal without echo, or read one per line from standard input
// (--password-stdin). Every buffer that held one is wiped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/program_dialogs.h"
#include "crypto/wipe.h"

namespace kvx::cli {

// A password of at most kPasswordChars UTF-16 units, wiped when it goes.
class Password {
  public:
    Password() = default;
    ~Password() { Wipe(); }
    Password(const Password&) = delete;
    Password& operator=(const Password&) = delete;

    std::u16string_view view() const { return {units_, length_}; }
    std::size_t size() const { return length_; }
    void Wipe();

  private:
    friend class InputSource;
    // One spare unit, so that a line one unit too long is still seen as too long.
    char16_t units_[ui::kPasswordChars + 1] = {};
    std::size_t length_ = 0;
};

// A hint's length rules: at least five characters and room in the record; a Failure (usage)
// otherwise.
void CheckHint(std::u16string_view hint);

class InputSource {
  public:
    // fromStdin: --password-stdin; otherwise passwords need a terminal on standard input.
    explicit InputSource(bool fromStdin) : fromStdin_(fromStdin) {}

    // Reads a password of 4 to 10 characters; a Failure (usage) when there is none or it is
    // outside those bounds.
    void ReadPassword(const char* prompt, Password& out);
    // A new password asked twice (one line each from stdin); they must match.
    void ReadNewPassword(Password& out);
    // A hint line of at least five characters (visible on the terminal).
    std::u16string ReadHint(const char* prompt);
    // Whether a person at the terminal answers yes.
    bool Confirm(const std::string& question);
    // Whether questions can be asked at all (standard input is a terminal not used for secrets).
    bool Interactive() const;

  private:
    // One line of input as UTF-16 into units (at most capacity); false at end of input.
    // `length` may exceed capacity for a longer line, whose rest is read and dropped.
    bool ReadLine(char16_t* units, std::size_t capacity, std::size_t& length);
    void Prompt(const char* prompt) const;
    bool Terminal() const;

    bool fromStdin_;
};

}  // namespace kvx::cli
