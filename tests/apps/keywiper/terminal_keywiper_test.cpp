// Keywiper in a terminal. In the test process: the terminal view over a console the test types
// on, with the real library and the emulated device, shows the progress bar moving while the
// device is formatted. As a program: the terminal Keywiper under the product prefix ACME, copied
// with the library and the configuration file onto the emulated device's CD and started in a
// pseudo-terminal, resets the device.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "apps/keywiper/progress_targets.h"
#include "common/terminal_view.h"
#include "frame/device_state.h"
#include "sim/bridge/provision.h"
#include "support/pty_program.h"
#include "tests/apps/keywiper/keywiper_fixture.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

using namespace keywiper;

// Typing that waits for the screen: each step's keys arrive once its text has been shown since
// the previous step. The clock moves only while the view waits for a key.
class TypingConsole final : public ui::Console {
  public:
    struct Step {
        std::string waitFor;
        std::string keys;
    };
    explicit TypingConsole(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {}

    std::optional<int> ReadByte(int timeoutMs) override {
        if (!steps_.empty() && output_.find(steps_.front().waitFor, mark_) != std::string::npos) {
            mark_ = output_.size();
            pending_ += steps_.front().keys;
            steps_.pop_front();
        }
        if (!pending_.empty()) {
            const int b = static_cast<unsigned char>(pending_.front());
            pending_.erase(0, 1);
            return b;
        }
        // Nothing more to type and nothing happening: the user has gone.
        if (++idle_ > 100000) {
            return ui::kEndOfInput;
        }
        now_ += static_cast<std::uint64_t>(std::max(timeoutMs, 0));
        return std::nullopt;
    }
    void Sleep(int ms) override { now_ += static_cast<std::uint64_t>(std::max(ms, 0)); }
    void Write(std::string_view utf8) override { output_ += utf8; }
    std::uint64_t NowMs() override { return now_; }
    bool IsTerminal() const override { return false; }

    const std::string& output() const { return output_; }
    bool typedAll() const { return steps_.empty() && pending_.empty(); }

  private:
    std::deque<Step> steps_;
    std::string pending_;
    std::string output_;
    std::size_t mark_ = 0;
    std::uint64_t now_ = 1000;
    int idle_ = 0;
};

#ifndef _WIN32  // the progress reaches the view there only through real windows
// The percentages the progress bar showed, in the order drawn.
std::vector<int> BarPercents(const std::string& screen) {
    static const std::regex bar(R"(\[[#.]{20}\] (\d+) %)");
    std::vector<int> seen;
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), bar);
         it != std::sregex_iterator(); ++it) {
        seen.push_back(std::stoi((*it)[1].str()));
    }
    return seen;
}
#endif

const std::vector<TypingConsole::Step> kResetKeys = {
    {"STOP! RESETTING THE PASSWORD", "\x1br"},  // Alt+R: Reset Password
    {"To reset your password", "Neu-Pass9\tNeu-Pass9\twet weather\r"},
    {"Warning 1 of 3", "y"},
    {"Warning 2 of 3", "y"},
    {"Warning 3 of 3", "y"},
    {"Password reset completed successfully.", "\r"},
};

TEST(TerminalKeywiper, ProgressBarMovesWhileTheDeviceIsFormatted) {
    DeviceFixture dev(SecureLayout(sim::Media::kHdd, 40, false));
    const std::filesystem::path cd = dev.machine().dir() / "cd";
    std::filesystem::create_directories(cd);
    std::filesystem::copy_file(dev.ConfigFile(), cd / "TPBKVX.INI");
    dev.platform().moduleFileName = (cd / "TPBPRT.EXE").u16string();

    TypingConsole console(kResetKeys);
    ui::ResourceStrings strings(KeywiperStrings());
    ui::TerminalView view(console, dev.host(), strings);
    LinkedLibrary library;
    FakeLoader loader(&library);
    CKEYWIPERApp app(dev.host(), view, loader, strings);
    app.session().pump = EventPassPump(view);
    EXPECT_EQ(app.Run(), Outcome::kDone);
    EXPECT_TRUE(console.typedAll()) << console.output();

    const std::string& screen = console.output();
    const std::size_t started = screen.find("Warning 3 of 3");
    const std::size_t done = screen.find("Password reset completed successfully.");
    ASSERT_NE(started, std::string::npos);
    ASSERT_NE(done, std::string::npos);
    EXPECT_NE(screen.find("Writing the file system into Secure partition...", started),
              std::string::npos);
#ifndef _WIN32  // there the library's progress goes to real windows
    // Drawn between the last warning and the final message: a bar that moves, and only forward
    // within each phase (erase, then file system).
    const std::vector<int> during = BarPercents(screen.substr(started, done - started));
    ASSERT_GE(during.size(), 10u) << screen.substr(started, 4000);
    EXPECT_EQ(
        std::count_if(during.begin(), during.end(), [](int p) { return p > 0 && p < 100; }) > 5,
        true);
    int falls = 0;
    for (std::size_t i = 1; i < during.size(); ++i) {
        falls += during[i] < during[i - 1] ? 1 : 0;
    }
    EXPECT_LE(falls, 1);
    EXPECT_EQ(during.back(), 100);
    EXPECT_NE(screen.find("] 50 %", started), std::string::npos);
#endif
    // The password never reached the screen.
    EXPECT_EQ(screen.find("Neu-Pass9"), std::string::npos);
}

#ifndef _WIN32

TEST(TerminalKeywiper, ProgramResetsTheDevice) {
    SimMachine machine;
    machine.AddDevice([](sim::BridgeState& s) { s.aesEngine = true; });
    ASSERT_FALSE(sim::Provision(machine.dir(), 0, u"Secret42", u"the usual one").has_value());
    const std::filesystem::path build = TestProgram().parent_path().parent_path();
    const std::filesystem::path cd = machine.dir() / "cd";
    std::filesystem::create_directories(cd);
    std::filesystem::copy_file(build / "apps" / "keywiper" / "keywiper", cd / "ACMEPRT.EXE");
    std::filesystem::copy_file(build / "lib" / "libkvx.so", cd / "ACMEKVX.DLL");
    const sim::BridgeState s = machine.State();
    std::ofstream(cd / "ACMEKVX.INI", std::ios::binary)
        << "[VENDOR]\r\nVENDORSTR0=" << s.vendor << "\r\nPRODUCTSTR0=" << s.product
        << "\r\nSECVENDORSTR0=" << s.secVendor << "\r\nSECPRODUCTSTR0=" << s.secProduct
        << "\r\nVID0=0x1209\r\nPID0=0x0001\r\nSecure Volume Label=ACME SAFE\r\n";

    PtyProgram keywiper(cd / "ACMEPRT.EXE", {}, {"KVX_SIM=" + machine.DirText()});
    ASSERT_TRUE(keywiper.started());
    ASSERT_TRUE(keywiper.WaitFor("STOP! RESETTING THE PASSWORD")) << keywiper.output();
    ASSERT_TRUE(keywiper.WaitFor("the usual one")) << keywiper.output();
    keywiper.Send("\x1br");
    ASSERT_TRUE(keywiper.WaitFor("To reset your password")) << keywiper.output();
    keywiper.Send("Neu-Pass9\tNeu-Pass9\twet weather\r");
    for (const char* warning : {"Warning 1 of 3", "Warning 2 of 3", "Warning 3 of 3"}) {
        ASSERT_TRUE(keywiper.WaitFor(warning)) << keywiper.output();
        keywiper.Send("y");
    }
    ASSERT_TRUE(keywiper.WaitFor("Password reset completed successfully.", 60000))
        << keywiper.output();
    {
        // The library the program loaded drove the program's progress bar to the end.
        const std::string& screen = keywiper.output();
        const std::size_t started = screen.find("Warning 3 of 3");
        const std::vector<int> during = BarPercents(screen.substr(started));
        EXPECT_GT(std::count_if(during.begin(), during.end(), [](int p) { return p > 0; }), 3)
            << screen.substr(started, 4000);
        EXPECT_NE(std::find(during.begin(), during.end(), 100), during.end());
    }
    // While the last message is up, the new password is nowhere in the program.
    std::uint64_t scanned = 0;
    EXPECT_FALSE(MemoryHolds(keywiper.pid(), "Neu-Pass9", &scanned));
    EXPECT_FALSE(MemoryHolds(keywiper.pid(), Utf16Le("Neu-Pass9"), &scanned));
    EXPECT_GT(scanned, 4u << 20);
    EXPECT_TRUE(MemoryHolds(keywiper.pid(), Utf16Le("Password reset completed")));
    keywiper.Send("\r");
    EXPECT_EQ(keywiper.WaitExit(), 0) << keywiper.output();
    EXPECT_EQ(keywiper.output().find("Neu-Pass9"), std::string::npos);

    // The new password opens the device after a replug, the old one no longer does.
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"replug", machine.DirText()}), 0);
    EXPECT_FALSE(machine.State().secureOpen);
    EXPECT_EQ(ReadTextFile(machine.Device().log).find("Neu-Pass9"), std::string::npos);
    {
        ResetDeviceState();
        TestHost platform;
        platform.moduleFileName = (cd / "ACMEPRT.EXE").u16string();
        ScopedSimHost sim(machine, platform);
        for (const auto& [password, opens] :
             {std::pair{u"Secret42", false}, std::pair{u"Neu-Pass9", true}}) {
            QdaRequest r{};
            r.driveLetter = 'E';
            SetPassword(r, password);
            EXPECT_EQ(QDASHA2Auth(&r), opens ? 1 : 0) << ToUtf8(password);
        }
        ResetDeviceState();
    }
    EXPECT_TRUE(machine.State().secureOpen);
    ScratchDir out;
    const auto exported = out.path() / "secure.img";
    ASSERT_EQ(
        RunProgram(KvxsimProgram(), {"export", machine.DirText(), "--secure", exported.string()}),
        0);
    if (HaveTool("fsck.fat") && HaveTool("fatlabel")) {
        const std::string part = ToolPath(PartitionFile(exported, out.path() / "part.img"));
        std::string text;
        EXPECT_EQ(Shell("fsck.fat -n '" + part + "'", &text), 0) << text;
        EXPECT_EQ(Shell("fatlabel '" + part + "'", &text), 0) << text;
        EXPECT_EQ(text, "ACME SAFE\n");
    }
}

#endif  // _WIN32

}  // namespace
}  // namespace kvx::test
