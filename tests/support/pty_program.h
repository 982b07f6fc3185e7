// A program on the slave side of a pseudo-terminal, started with extra environment variables
// (the test reads its screen and types on the master side), and a search of a running process's
// memory. POSIX only.
#pragma once

#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::test {

// The strings as a null-terminated array for execve; they must outlive it.
inline std::vector<char*> CStrings(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& t : texts) {
        pointers.push_back(t.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

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
        std::vector<char*> argv = CStrings(argvText);
        std::vector<std::string> envText = environment;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "KVX_SIM=", 8) != 0) {
                envText.emplace_back(*e);
            }
        }
        std::vector<char*> envp = CStrings(envText);
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
        while (pid_ > 0 && !status_ && std::chrono::steady_clock::now() < end) {
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
inline bool MemoryHolds(pid_t pid, const std::string& needle, std::uint64_t* scanned = nullptr) {
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

// ASCII text as UTF-16LE bytes.
inline std::string Utf16Le(std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

}  // namespace kvx::test

#endif  // _WIN32
