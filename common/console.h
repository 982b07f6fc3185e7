// The text console the terminal view draws on: byte input with a time-out, UTF-8 output and a
// millisecond clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace kvx::ui {

// A terminal's width when it does not tell its own.
inline constexpr std::size_t kDefaultColumns = 80;

// The one line the terminal programs end with when the system refused the device's commands
// for want of privilege.
inline constexpr char kPrivilegeNotice[] =
    "The system refused the device's commands: run as root (sudo) or give the program "
    "CAP_SYS_RAWIO (sudo setcap cap_sys_rawio+ep <program>).\n";

// What ReadByte returns once the input has ended.
inline constexpr int kEndOfInput = -1;

class Console {
  public:
    virtual ~Console() = default;
    // One input byte within `timeoutMs` milliseconds; nullopt on time-out, kEndOfInput once the
    // input has ended (then without waiting).
    virtual std::optional<int> ReadByte(int timeoutMs) = 0;
    // Waits without reading input.
    virtual void Sleep(int milliseconds) = 0;
    virtual void Write(std::string_view utf8) = 0;
    // A monotonic clock in milliseconds.
    virtual std::uint64_t NowMs() = 0;
    // Whether the output is a terminal that understands ANSI control sequences.
    virtual bool IsTerminal() const = 0;
    // The terminal's width in characters (kDefaultColumns when it does not say).
    virtual std::size_t Columns() const { return kDefaultColumns; }
};

// Standard input and output; a terminal is switched to unechoed, unbuffered input for the
// console's lifetime. Not available on Windows (the programs have their own dialogs there).
std::unique_ptr<Console> MakeStdioConsole();

}  // namespace kvx::ui
