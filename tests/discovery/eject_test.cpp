// The secure-unit eject on emulated machines: the pairing of CD and secure letters through the
// registry's mount texts, and the START STOP UNIT that only the paired unit receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "frame/qda.h"
#include "support/sim_library.h"

namespace kvx {
namespace {

using test::DefaultVendorConfig;

class EjectTest : public test::SimLibraryTest {
  protected:
    void SetUp() override {
        SimLibraryTest::SetUp();
        for (const auto& [cd, serial] :
             {std::pair{'E', "KVXSIM0000E1"}, std::pair{'G', "KVXSIM0000G1"}}) {
            machine.AddDevice([cd = cd, serial = serial](sim::BridgeState& s) {
                s.cdLetter = cd;
                s.secLetter = static_cast<char>(cd + 1);
                s.serial = serial;
            });
        }
        WriteConfig(DefaultVendorConfig());
    }

    // START STOP UNIT commands a device received since `from`.
    std::vector<sim::LogEntry> Ejects(unsigned device, std::size_t from = 0) const {
        std::vector<sim::LogEntry> out;
        for (const auto& e : machine.Log(from, device)) {
            if (!e.cdb.empty() && e.cdb[0] == 0x1B) {
                out.push_back(e);
            }
        }
        return out;
    }

    QdaRequest WithSecureLetters(char cd, const std::string& secure, bool withLog = false) {
        QdaRequest request = Request(cd, withLog);
        for (std::size_t i = 0; i < secure.size() && i < 12; ++i) {
            request.secureLetters[i] = static_cast<std::uint8_t>(secure[i]);
        }
        return request;
    }
};

TEST_F(EjectTest, OnlyTheSecureUnitPairedWithTheCdLetterStops) {
    struct Case {
        char cd;
        std::string secure;  // the list as QDACheckSEC would give it, gaps as '\0'
        int ejected;         // device whose secure unit stops; -1 = none
    };
    const Case cases[] = {
        {'G', "FH", 1},
        {'E', "FH", 0},
        {'E', std::string("\0\0H\0F", 5), 0},  // empty positions are skipped
        {'G', "F", -1},                        // its partner is not in the list
        {'E', "", -1},
        {'Q', "FH", -1},  // a letter without a mount text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.cd) + " " + c.secure);
        machine.Update([](sim::BridgeState& s) { s.secureOpen = true; }, 0);
        machine.Update([](sim::BridgeState& s) { s.secureOpen = true; }, 1);
        const std::size_t mark0 = machine.LogSize(0);
        const std::size_t mark1 = machine.LogSize(1);
        QdaRequest request = WithSecureLetters(c.cd, c.secure, true);
        EXPECT_EQ(QDAEjectSec(&request), 1);
        EXPECT_EQ(request.errorCode, 0);
        EXPECT_EQ(machine.State(0).secureOpen, c.ejected != 0);
        EXPECT_EQ(machine.State(1).secureOpen, c.ejected != 1);
        EXPECT_EQ(Ejects(0, mark0).size(), c.ejected == 0 ? 1u : 0u);
        EXPECT_EQ(Ejects(1, mark1).size(), c.ejected == 1 ? 1u : 0u);
        if (c.ejected >= 0) {
            const auto e = Ejects(static_cast<unsigned>(c.ejected), c.ejected == 0 ? mark0 : mark1);
            ASSERT_EQ(e.size(), 1u);
            EXPECT_EQ(e[0].unit, "sec");
            EXPECT_EQ(e[0].cdb, (std::vector<std::uint8_t>{0x1B, 0, 0, 0, 0x02, 0}));
            const std::string log = LogText();
            EXPECT_NE(
                log.find(c.ejected == 0 ? "Sec serial KVXSIM0000E1=" : "Sec serial KVXSIM0000G1="),
                std::string::npos)
                << log;
            EXPECT_NE(log.find("DeviceFound=PASS"), std::string::npos);
        }
        std::filesystem::remove(programDir.path() / "trace.log");
    }
}

TEST_F(EjectTest, SecureUnitThatRefusesTheStopIsReported) {
    machine.Update([](sim::BridgeState& s) {
        sim::Fault f;
        f.match = "op:1b";
        f.sense = {0x05, 0x24, 0x00};
        s.faults.push_back(f);
    });
    QdaRequest request = WithSecureLetters('E', "FH");
    EXPECT_EQ(QDAEjectSec(&request), 0);
    EXPECT_EQ(request.errorCode, 30);
    EXPECT_TRUE(machine.State(0).secureOpen);
    // A secure letter that cannot be opened any more (the unit went away) fails the same way.
    machine.Update([](sim::BridgeState& s) { s.secureOpen = false; });
    request = WithSecureLetters('E', "F");
    EXPECT_EQ(QDAEjectSec(&request), 0);
    EXPECT_EQ(request.errorCode, 30);
}

TEST_F(EjectTest, Windows9xFailsWithoutACode) {
    machine.SetMachine([](sim::MachineConfig& m) {
        m.version.platformId = 1;
        m.version.major = 4;
        m.version.minor = 10;
    });
    QdaRequest request = WithSecureLetters('E', "FH");
    EXPECT_EQ(QDAEjectSec(&request), 0);
    EXPECT_EQ(request.errorCode, 0);
    EXPECT_TRUE(Ejects(0).empty());
    EXPECT_TRUE(machine.State(0).secureOpen);
}

}  // namespace
}  // namespace kvx
