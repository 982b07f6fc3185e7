// Exports end to end against devices that take their vendor commands only wrapped: the
// configuration's "AES" switch, the session across exports and library loads, and the end of
// the session at export exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "frame/qda.h"
#include "support/sim_library.h"
#include "transport/wrapping.h"

namespace kvx {
namespace {

using test::DefaultVendorConfig;

int CountNotes(const std::vector<sim::LogEntry>& entries, const std::string& prefix) {
    return static_cast<int>(std::count_if(entries.begin(), entries.end(), [&](const auto& e) {
        return e.note.rfind(prefix, 0) == 0;
    }));
}

class WrapExportsTest : public test::SimLibraryTest {
  protected:
    void Make(sim::Wrap wrap, bool required, const std::string& aesLine) {
        machine.AddDevice([wrap, required](sim::BridgeState& s) {
            s.wrap = wrap;
            s.wrapRequired = required;
        });
        WriteConfig(DefaultVendorConfig(aesLine));
    }
    static DeviceState& state() { return GlobalDeviceState(); }
    bool LibraryHasSession() const {
        return std::any_of(std::begin(state().sessionKey), std::end(state().sessionKey),
                           [](std::uint8_t b) { return b != 0; });
    }
};

TEST_F(WrapExportsTest, AesDeviceAnswersTheExportsAndTheSessionEndsAtExit) {
    Make(sim::Wrap::kAes, true, "AES=YES\n");
    QdaRequest request = Request('E');
    std::uint16_t chip[5] = {};
    ASSERT_EQ(QDAGetChipNum(&request, chip), 1);
    EXPECT_EQ(std::u16string(chip, chip + 4), u"3B11");

    request = Request('E');
    ASSERT_EQ(QDAGetPasswordStatus(&request), 1) << int{request.errorCode};
    EXPECT_EQ(request.verifyCount, machine.State().verifyCount);
    const std::uint32_t open = request.deviceDisabled;  // a copy: the record is packed
    EXPECT_EQ(open, 1u);                                // no password: the secure unit is open

    const auto sent = test::Via(machine.Log(), "scsi");
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].status, 0) << sent[i].note;
        const std::uint8_t op = sent[i].cdb[0];
        EXPECT_TRUE(op == 0x12 || op == 0x22 || op == 0x24) << int{op};
        if (op == 0x22) {
            ASSERT_LT(i + 1, sent.size());
            EXPECT_EQ(sent[i + 1].cdb[0], 0x24);
        }
    }
    // The capability word, the verify count, then the end of the session.
    std::vector<std::string> wrapped;
    for (const auto& e : sent) {
        if (e.note.rfind("wrapped ", 0) == 0) {
            wrapped.push_back(e.note.substr(8));
        }
    }
    EXPECT_EQ(wrapped, (std::vector<std::string>{"20800000000000000000", "20c80400000000000100",
                                                 "20f90000000000001000"}));
    EXPECT_EQ(CountNotes(sent, "new session key"), 1);
    EXPECT_FALSE(LibraryHasSession());
    EXPECT_EQ(state().wrapCounter, 0);
    EXPECT_FALSE(machine.State().session.active());
}

TEST_F(WrapExportsTest, ScrambledDeviceAnswersTheExportsInTheScrambledForm) {
    Make(sim::Wrap::kScramble, true, "AES=YES\n");
    QdaRequest request = Request('E');
    ASSERT_EQ(QDAGetPasswordStatus(&request), 1) << int{request.errorCode};
    const auto sent = test::Via(machine.Log(), "scsi");
    for (const auto& e : sent) {
        EXPECT_TRUE(e.cdb[0] == 0x12 || e.cdb[0] == 0x24) << int{e.cdb[0]};
        EXPECT_EQ(e.status, 0) << e.note;
    }
    EXPECT_EQ(CountNotes(sent, "wrapped "), 3);
    EXPECT_FALSE(machine.State().session.active());
}

TEST_F(WrapExportsTest, SessionCarriesAcrossExportsAndStartsAfreshInANewProcess) {
    Make(sim::Wrap::kAes, true, "AES=YES\n");
    for (int load = 0; load < 2; ++load) {
        SCOPED_TRACE(load);
        ResetDeviceState();  // a new process loads the library afresh
        const std::size_t mark = machine.LogSize();
        for (int call = 0; call < 2; ++call) {
            QdaRequest request = Request('E');
            ASSERT_EQ(QDAGetDeviceCapacity(&request), 1) << int{request.errorCode};
            const std::uint32_t sizeMb = request.mediumSizeMb;  // a copy: the record is packed
            EXPECT_EQ(sizeMb, 64u);
        }
        // The capacity call does not end its session: library and device still share the key.
        ASSERT_TRUE(LibraryHasSession());
        EXPECT_TRUE(std::equal(std::begin(state().sessionKey), std::end(state().sessionKey),
                               machine.State().session.key.begin()));
        EXPECT_EQ(state().wrapCounter, machine.State().session.counter);
        const auto sent = test::Via(machine.Log(mark), "scsi");
        const int commands = CountNotes(sent, "wrapped ");
        ASSERT_GT(commands, 4);
        // One session per load, renewed after every four wrapped commands (the request counts).
        EXPECT_EQ(CountNotes(sent, "new session key"), 1);
        EXPECT_EQ(CountNotes(sent, "session key renewed"), (commands - 1) / 3);
    }
}

TEST_F(WrapExportsTest, FailedEndOfSessionLeavesTheSessionForTheNextExport) {
    Make(sim::Wrap::kAes, true, "AES=YES\n");
    machine.Update([](sim::BridgeState& s) {
        sim::Fault f;
        f.match = "sub:f9";
        s.faults.push_back(f);
    });
    QdaRequest request = Request('E');
    ASSERT_EQ(QDAGetPasswordStatus(&request), 1);
    EXPECT_TRUE(LibraryHasSession());
    EXPECT_TRUE(machine.State().session.active());
    const std::size_t mark = machine.LogSize();
    request = Request('E');
    ASSERT_EQ(QDAGetPasswordStatus(&request), 1);
    const auto sent = test::Via(machine.Log(mark), "scsi");
    EXPECT_EQ(CountNotes(sent, "new session key"), 0);
    EXPECT_FALSE(LibraryHasSession());
    EXPECT_FALSE(machine.State().session.active());
}

TEST_F(WrapExportsTest, AesOtherThanUpperCaseYesSendsPlainCommands) {
    machine.AddDevice([](sim::BridgeState& s) { s.wrap = sim::Wrap::kAes; });
    for (const char* line : {"AES=yes\n", "AES=Yes\n", "AES=NO\n", ""}) {
        SCOPED_TRACE(line);
        WriteConfig(DefaultVendorConfig(line));
        ResetDeviceState();
        machine.Update([](sim::BridgeState& s) { s.wrapRequired = false; });
        const std::size_t mark = machine.LogSize();
        QdaRequest request = Request('E');
        ASSERT_EQ(QDAGetPasswordStatus(&request), 1);
        EXPECT_EQ(state().wrapMode, kWrapNone);
        std::vector<std::uint8_t> vendor;
        for (const auto& e : test::Via(machine.Log(mark), "scsi")) {
            if (e.cdb[0] != 0x12) {
                vendor.push_back(e.cdb[0]);
                vendor.push_back(e.cdb[1]);
            }
        }
        // No end of session either: there was no wrapping.
        EXPECT_EQ(vendor, (std::vector<std::uint8_t>{0x20, 0x80, 0x20, 0xC8}));
        // The same device requiring wrapping turns the plain commands down.
        machine.Update([](sim::BridgeState& s) { s.wrapRequired = true; });
        request = Request('E');
        EXPECT_EQ(QDAGetPasswordStatus(&request), 0);
        EXPECT_NE(request.errorCode, 0);
    }
}

TEST_F(WrapExportsTest, ADriveThatIsNotTheDeviceGetsNoVendorCommandAtExportExit) {
    Make(sim::Wrap::kAes, true, "AES=YES\n");
    machine.AddDevice([](sim::BridgeState& s) {
        s.vendor = "OTHER";
        s.serial = "OTHER0000001";
    });
    QdaRequest request = Request('E');
    ASSERT_EQ(QDAGetPasswordStatus(&request), 1);
    ASSERT_EQ(state().wrapMode, kWrapAes);  // left from the device's identification
    request = Request('G');
    EXPECT_EQ(QDAGetPasswordStatus(&request), 0);
    EXPECT_EQ(request.errorCode, 29);
    for (const auto& e : machine.Log(0, 1)) {
        EXPECT_EQ(e.cdb[0], 0x12) << e.note;  // the other device was only asked who it is
    }
}

}  // namespace
}  // namespace kvx
