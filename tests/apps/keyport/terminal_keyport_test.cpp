// The terminal Keyport as a user meets it: the program, the device library and the configuration
// file copied into the emulated machine's CD folder under the product prefix ACME, started in a
// pseudo-terminal, a wrong and then the right password typed. The device ends open, and the
// password shows up nowhere: not on the screen, not in the device's command log, not in the
// program's memory while its success dialog is up.
#ifndef _WIN32

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
#include "support/pty_program.h"
#include "support/sim_machine.h"

namespace kvx::test {
namespace {

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
