// The console on a POSIX terminal: raw input (no echo, no line editing, no signals from keys) so
// that passwords are never echoed and every key reaches the view at once.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

#include "common/console.h"

namespace kvx::ui {
namespace {

// The terminal's settings before we changed them, restored on exit and on fatal signals.
termios g_saved{};
volatile std::sig_atomic_t g_changed = 0;

void RestoreTerminal() {
    if (g_changed != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
        g_changed = 0;
    }
}

extern "C" void RestoreAndRaise(int signal) {
    RestoreTerminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class StdioConsole final : public Console {
  public:
    StdioConsole()
        : inputTerminal_(isatty(STDIN_FILENO) != 0), outputTerminal_(isatty(STDOUT_FILENO) != 0) {
        if (inputTerminal_ && tcgetattr(STDIN_FILENO, &g_saved) == 0) {
            termios raw = g_saved;
            raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG | IEXTEN);
            raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
                g_changed = 1;
                for (const int s : {SIGTERM, SIGHUP, SIGQUIT, SIGABRT}) {
                    std::signal(s, RestoreAndRaise);
                }
            }
        }
    }
    ~StdioConsole() override {
        if (outputTerminal_) {
            Write("\x1b[0m");
        }
        RestoreTerminal();
    }
    StdioConsole(const StdioConsole&) = delete;
    StdioConsole& operator=(const StdioConsole&) = delete;

    std::optional<int> ReadByte(int timeoutMs) override {
        if (ended_) {
            return kEndOfInput;
        }
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&fd, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            return std::nullopt;
        }
        unsigned char byte = 0;
        const ssize_t n = ready < 0 ? -1 : ::read(STDIN_FILENO, &byte, 1);
        if (n <= 0) {
            ended_ = true;
            return kEndOfInput;
        }
        const int value = byte;
        byte = 0;
        return value;
    }

    void Sleep(int milliseconds) override {
        if (milliseconds > 0) {
            ::poll(nullptr, 0, milliseconds);
        }
    }

    void Write(std::string_view utf8) override {
        while (!utf8.empty()) {
            const ssize_t n = ::write(STDOUT_FILENO, utf8.data(), utf8.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            utf8.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    std::uint64_t NowMs() override {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

    bool IsTerminal() const override { return outputTerminal_; }
    std::size_t Columns() const override {
        winsize size{};
        if (outputTerminal_ && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col != 0) {
            return size.ws_col;
        }
        return kDefaultColumns;
    }

  private:
    bool inputTerminal_;
    bool outputTerminal_;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Console> MakeStdioConsole() {
    return std::make_unique<StdioConsole>();
}

}  // namespace kvx::ui
