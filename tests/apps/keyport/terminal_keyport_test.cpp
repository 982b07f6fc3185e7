// The terminal Keyport as a user meets it: the program, the device library and the configuration
// file copied into the emulated machine's CD folder under the product prefix ACME, started in a
// pseudo-terminal, a wrong and then the right password typed. The device ends open, and the
// password shows up nowhere: not on the screen, not in the device's command log, not in the
// program's memory while its success dialog is up.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "host/text.h"
#include "sim/bridge/command_log.h"
#include "sim/bridge/provision.h"
#include "support/sim_machine.h"

namespace kvx::test {
namespace {

// A program on the slave side of a pseudo-terminal; the test types on the master side.
class PtyProgram {
  public:
    PtyProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
               const std::vector<std::string>& environment) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        const std::string slave = ptsname(master_);
        winsize size{};
        size.ws_row = 40;
        size.ws_col = 120;
        std::vector<std::string> argvText{program.string()};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argvText) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> envText = environment;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "KVX_SIM=", 8) != 0) {
                envText.emplace_back(*e);
            }
        }
        std::vector<char*> envp;
        for (auto& e : envText) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            const int fd = open(slave.c_str(), O_RDWR);
            if (fd < 0) {
                _exit(126);
            }
            ioctl(fd, TIOCSCTTY, 0);
            ioctl(fd, TIOCSWINSZ, &size);
            dup2(fd, 0);
            dup2(fd, 1);
            dup2(fd, 2);
            if (fd > 2) {
                close(fd);
            }
            close(master_);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }

    ~PtyProgram() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) {
            close(master_);
        }
    }

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& output() const { return output_; }

    // Reads output until `text` appears after the point the last wait stopped at.
    bool WaitFor(std::string_view text, int timeoutMs = 15000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const std::size_t at = output_.find(text, mark_);
            if (at != std::string::npos) {
                mark_ = at + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !ReadSome(static_cast<int>(left))) {
                return false;
            }
        }
    }

    void Send(std::string_view bytes) {
        // Keys arrive one by one, as typed.
        for (const char c : bytes) {
            ASSERT_EQ(write(master_, &c, 1), 1);
            usleep(5000);
        }
    }

    std::optional<int> WaitExit(int timeoutMs = 15000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!status_ && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            ReadSome(50);
        }
        while (ReadSome(0)) {
        }
        return status_;
    }

  private:
    bool ReadSome(int timeoutMs) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0) {
            return timeoutMs > 0;
        }
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    std::string output_;
    std::size_t mark_ = 0;
    std::optional<int> status_;
};

// Whether any readable mapping of a running process holds `needle`. Mappings larger than 1 GiB
// (a sanitizer's shadow memory) are skipped; the rest is read in pieces that overlap by the
// needle's length.
bool MemoryHolds(pid_t pid, const std::string& needle, std::uint64_t* scanned = nullptr) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    const int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    if (mem < 0) {
        ADD_FAILURE() << "cannot read the memory of process " << pid;
        return false;
    }
    constexpr std::uint64_t kPiece = 1 << 20;
    std::string piece(kPiece + needle.size(), '\0');
    std::string line;
    bool found = false;
    while (!found && std::getline(maps, line)) {
        unsigned long long from = 0;
        unsigned long long to = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %4s", &from, &to, perms) != 3 || perms[0] != 'r' ||
            to - from > (1ull << 30) || line.find("[vvar]") != std::string::npos ||
            line.find("[vsyscall]") != std::string::npos) {
            continue;
        }
        for (std::uint64_t at = from; at < to && !found; at += kPiece) {
            const std::uint64_t length = std::min<std::uint64_t>(kPiece + needle.size(), to - at);
            const ssize_t n = pread(mem, piece.data(), length, static_cast<off_t>(at));
            if (n <= 0) {
                break;
            }
            if (scanned != nullptr) {
                *scanned += static_cast<std::uint64_t>(n);
            }
            found = std::string_view(piece.data(), static_cast<std::size_t>(n)).find(needle) !=
                    std::string_view::npos;
        }
    }
    close(mem);
    return found;
}

std::string Utf16Le(std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

class TerminalKeyport : public ::testing::Test {
  protected:
    TerminalKeyport() {
        // Drive K: the instance markers are per drive and name, and a test of the reset program
        // may run beside these with the same product prefix on drive E.
        machine.AddDevice([](sim::BridgeState& s) {
            s.cdLetter = 'K';
            s.secLetter = 'L';
        });
        const auto refused = sim::Provision(machine.dir(), 0, u"Secret42", u"the usual one");
        EXPECT_FALSE(refused.has_value()) << refused.value_or("");
        cd = machine.dir() / "cd";
        std::filesystem::create_directories(cd);
    }

    // Copies the program, the library and the configuration file onto the device's CD under
    // `prefix` (a unique one unless the test names it: the instance marker is per name and
    // drive, and other tests may run beside this one) and returns the program.
    std::filesystem::path Stage(std::string prefix = {}) {
        if (prefix.empty()) {
            prefix = "T" + std::to_string(getpid());
        }
        const std::filesystem::path build = TestProgram().parent_path().parent_path();
        std::filesystem::copy_file(build / "apps" / "keyport" / "keyport",
                                   cd / (prefix + "LCK.EXE"));
        std::filesystem::copy_file(build / "lib" / "libkvx.so", cd / (prefix + "KVX.DLL"));
        const sim::BridgeState s = machine.State();
        std::ofstream(cd / (prefix + "KVX.INI"), std::ios::binary)
            << "[VENDOR]\r\nVENDORSTR0=" << s.vendor << "\r\nPRODUCTSTR0=" << s.product
            << "\r\nSECVENDORSTR0=" << s.secVendor << "\r\nSECPRODUCTSTR0=" << s.secProduct
            << "\r\nVID0=0x1209\r\nPID0=0x0001\r\n";
        return cd / (prefix + "LCK.EXE");
    }

    std::vector<std::string> Environment() const { return {"KVX_SIM=" + machine.DirText()}; }

    SimMachine machine;
    std::filesystem::path cd;
};

TEST_F(TerminalKeyport, LogsInWithAWrongThenTheRightPassword) {
    // The product prefix ACME: ACMELCK.EXE loads ACMEKVX.DLL and reads ACMEKVX.INI, and the
    // library finds ACMEKVX.INI beside the program as well.
    PtyProgram keyport(Stage("ACME"), {}, Environment());
    ASSERT_TRUE(keyport.started());
    ASSERT_TRUE(keyport.WaitFor("Enter your password to login.")) << keyport.output();
    keyport.Send("wrong99");
    ASSERT_TRUE(keyport.WaitFor("*******")) << keyport.output();
    keyport.Send("\r");
    ASSERT_TRUE(keyport.WaitFor("Invalid password entered. Please try again.")) << keyport.output();
    EXPECT_FALSE(machine.State().secureOpen);
    keyport.Send("\r");  // the message box's OK
    keyport.Send("Secret42\r");
    ASSERT_TRUE(keyport.WaitFor("Login successful.")) << keyport.output();

    // While the success dialog counts down, neither password is anywhere in the program.
    std::uint64_t scanned = 0;
    for (const std::string secret : {"Secret42", "wrong99"}) {
        EXPECT_FALSE(MemoryHolds(keyport.pid(), secret, &scanned)) << secret;
        EXPECT_FALSE(MemoryHolds(keyport.pid(), Utf16Le(secret), &scanned))
            << secret << " (UTF-16)";
    }
    EXPECT_GT(scanned, 4u << 20);  // the program's memory was there to be read
    EXPECT_TRUE(MemoryHolds(keyport.pid(), Utf16Le("Login successful.")));  // and is searched
    // The button counts the seconds, then the program ends by itself.
    EXPECT_TRUE(keyport.WaitFor("  OK..")) << keyport.output();
    EXPECT_EQ(keyport.WaitExit(), 0) << keyport.output();

    EXPECT_TRUE(machine.State().secureOpen);
    std::string info;
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"info", machine.DirText()}, &info), 0);
    EXPECT_NE(info.find("secure_open: yes"), std::string::npos) << info;

    // The system was asked to re-read the secure disk; nothing but the refresh touched it.
    const auto log = machine.Log();
    const bool refreshed = std::any_of(log.begin(), log.end(), [](const sim::LogEntry& e) {
        return e.unit == "sec" && e.note == "update-properties ok";
    });
    EXPECT_TRUE(refreshed);
    for (const std::string secret : {"Secret42", "wrong99"}) {
        EXPECT_EQ(keyport.output().find(secret), std::string::npos);
        EXPECT_EQ(ReadTextFile(machine.Device().log).find(secret), std::string::npos);
    }
}

TEST_F(TerminalKeyport, EscapeCancelsTheLogin) {
    PtyProgram keyport(Stage(), {}, Environment());
    ASSERT_TRUE(keyport.WaitFor("Enter your password to login.")) << keyport.output();
    keyport.Send("\x1b");  // Escape: Cancel
    EXPECT_EQ(keyport.WaitExit(), 0) << keyport.output();
    EXPECT_FALSE(machine.State().secureOpen);
}

TEST_F(TerminalKeyport, CommandWordFromTheCommandLine) {
    PtyProgram keyport(Stage(), {"opensec"}, Environment());
    ASSERT_TRUE(keyport.WaitFor("Please login to gain access to the HD partition."))
        << keyport.output();
    keyport.Send("\r");
    EXPECT_EQ(keyport.WaitExit(), 0) << keyport.output();
}

TEST_F(TerminalKeyport, CompanionFilesFollowTheProgramsName) {
    // The library under the name of another prefix is not this program's library.
    const std::filesystem::path program = Stage();
    const std::string prefix =
        program.filename().string().substr(0, program.filename().string().size() - 7);
    std::filesystem::rename(cd / (prefix + "KVX.DLL"), cd / "KVX.DLL");
    PtyProgram keyport(program, {}, Environment());
    ASSERT_TRUE(keyport.WaitFor("Unable to load the DLL from the path K:\\" + prefix +
                                "KVX.DLL. Please make sure the file is present"))
        << keyport.output();
    keyport.Send("\r");
    EXPECT_EQ(keyport.WaitExit(), 1) << keyport.output();

    // Without its configuration file the program says so first.
    std::filesystem::remove(cd / (prefix + "KVX.INI"));
    PtyProgram again(program, {}, Environment());
    ASSERT_TRUE(again.WaitFor("Invalid or No INI file found.")) << again.output();
    again.Send("\r");
    EXPECT_EQ(again.WaitExit(), 1);
}

}  // namespace
}  // namespace kvx::test

#endif  // _WIN32
