// Discovery fed with bad input: short INQUIRY answers, hub names and descriptors whose lengths lie,
// configuration files with huge or missing values. Each ends in a plain failure (the sanitizer
// build runs the same paths for reads past a buffer).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "discovery/identify.h"
#include "frame/qda.h"
#include "support/sim_library.h"

namespace kvx {
namespace {

using test::DefaultVendorConfig;
using test::Letters;

sim::Fault MakeFault(sim::FaultKind kind, const std::string& match, std::uint32_t value,
                     std::uint32_t count = 1000) {
    sim::Fault f;
    f.kind = kind;
    f.match = match;
    f.value = value;
    f.count = count;
    return f;
}

class BadInputTest : public test::SimLibraryTest {
  protected:
    void Plan(const sim::Fault& fault) {
        machine.Update([&fault](sim::BridgeState& s) {
            s.faults.clear();
            s.faults.push_back(fault);
        });
    }
    static DeviceState& state() { return GlobalDeviceState(); }
};

TEST_F(BadInputTest, InquiryAnswersShorterThanAsked) {
    machine.AddDevice();
    WriteConfig(DefaultVendorConfig());
    struct Case {
        std::uint32_t moved;
        bool cdFound;  // QDACheckCD still finds the unit by texts and identifiers
    };
    // 20: product text cut; 44: identifiers missing; 50: chip code missing; 58: all it needs.
    const Case cases[] = {{0, false}, {20, false}, {44, false}, {50, true}, {58, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.moved);
        ResetDeviceState();
        Plan(MakeFault(sim::FaultKind::kShort, "op:12", c.moved));
        QdaRequest request = Request('E');
        EXPECT_EQ(QDACheckCD(&request), c.cdFound ? 1 : 0);
        EXPECT_EQ(request.errorCode, c.cdFound ? 0 : 4);
        EXPECT_EQ(Letters(request.cdLetters), c.cdFound ? "E" : "");

        std::uint16_t chip[6] = {0x7878, 0x7878, 0x7878, 0x7878, 0x7878, 0x7878};
        request = Request('E');
        const int got = QDAGetChipNum(&request, chip);
        if (c.moved < 58) {
            // No chip code came: the call fails and the caller's text stays as it was.
            EXPECT_EQ(got, 0);
            EXPECT_EQ(request.errorCode, c.cdFound ? 0 : 29);
            EXPECT_TRUE(std::all_of(std::begin(chip), std::end(chip),
                                    [](std::uint16_t u) { return u == 0x7878; }));
        } else {
            EXPECT_EQ(got, 1);
            EXPECT_EQ(std::u16string(chip, chip + 4), u"3B11");
        }
    }
}

class HubInputTest : public BadInputTest {
  protected:
    void SetUp() override {
        BadInputTest::SetUp();
        machine.AddDevice([](sim::BridgeState& s) { s.usbHubDepth = 1; });
        machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
        WriteConfig(DefaultVendorConfig("NONADMIN=YES\n"));
    }

    // QDACheckCD in hub mode: the letter it reports, if any.
    std::string CheckCd(int& result) {
        ResetDeviceState();
        QdaRequest request = Request('E');
        result = QDACheckCD(&request);
        EXPECT_EQ(request.errorCode, '1');  // hub mode is signalled whatever came of it
        return Letters(request.cdLetters);
    }
};

TEST_F(HubInputTest, HubNamesWithAWrongLength) {
    int result = 0;
    EXPECT_EQ(CheckCd(result), "E");  // the tree as it is
    EXPECT_EQ(result, 1);
    // Lengths too short for any name, odd, past the structure, huge.
    for (const std::uint32_t length : {0u, 3u, 4u, 5u, 9u, 13u, 4097u, 100000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        Plan(MakeFault(sim::FaultKind::kHubNameLength, "any", length));
        const std::string letters = CheckCd(result);
        // Any usable record found is the device, with or without a letter.
        EXPECT_EQ(result, state().current != nullptr ? 1 : 0);
        EXPECT_TRUE(letters.empty() || letters == "E") << letters;
    }
    // A lying root hub name hides the whole tree.
    Plan(MakeFault(sim::FaultKind::kHubNameLength, "any", 3));
    EXPECT_EQ(CheckCd(result), "");
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(state().devices.empty());
}

TEST_F(HubInputTest, DescriptorsWithAWrongLength) {
    // Configuration descriptors and string descriptors that claim lengths they do not have:
    // zero, odd, shorter than the header, past the data, the most a byte holds.
    for (const std::uint32_t length : {0u, 1u, 2u, 3u, 7u, 9u, 25u, 27u, 254u, 255u, 4097u}) {
        SCOPED_TRACE(length);
        Plan(MakeFault(sim::FaultKind::kHubDescriptorLength, "any", length));
        int result = 0;
        const std::string letters = CheckCd(result);
        // Without a good serial string the registry gives no letter; the record is still the
        // device, so the check succeeds with an empty list and the chip-list flag set.
        EXPECT_EQ(letters, "");
        EXPECT_EQ(result, 1);
        EXPECT_EQ(state().chipListFlag, 1u);
        ASSERT_EQ(state().devices.size(), 1u);
        const UsbDeviceRecord& record = state().devices.front();
        EXPECT_EQ(record.driveLetter, 0);
        EXPECT_NE(std::u16string(record.serial), u"KVXSIM000000");
    }
    machine.Update([](sim::BridgeState& s) { s.faults.clear(); });
    int result = 0;
    EXPECT_EQ(CheckCd(result), "E");
}

TEST_F(BadInputTest, ConfigurationFilesWithHugeOrMissingValues) {
    machine.AddDevice([](sim::BridgeState& s) { s.wrap = sim::Wrap::kAes; });
    const std::string huge(6000, 'K');
    struct Case {
        const char* what;
        std::string text;
        int found;  // QDACheckCD result; QDAGetChipNum agrees
        std::uint8_t wrapMode;
    };
    const Case cases[] = {
        {"huge vendor text",
         "[VENDOR]\nVENDORSTR0=" + huge + "\nPRODUCTSTR0=VIRTUAL CD\nVID0=0x1209\nPID0=0x0001\n", 0,
         0},
        {"huge product text",
         "[VENDOR]\nVENDORSTR0=KVXSIM\nPRODUCTSTR0=" + huge + "\nVID0=0x1209\nPID0=0x0001\n", 0, 0},
        {"huge identifier",
         "[VENDOR]\nVENDORSTR0=KVXSIM\nPRODUCTSTR0=VIRTUAL CD\nVID0=0x1209" + huge +
             "\nPID0=0x0001\n",
         0, 0},
        {"missing product id", "[VENDOR]\nVENDORSTR0=KVXSIM\nPRODUCTSTR0=VIRTUAL CD\nVID0=0x1209\n",
         0, 0},
        {"empty vendor text",
         "[VENDOR]\nVENDORSTR0=\nPRODUCTSTR0=VIRTUAL CD\nVID0=0x1209\n"
         "PID0=0x0001\n",
         0, 0},
        {"empty section", "[VENDOR]\n", 0, 0},
        {"no section at all", "VENDORSTR0=KVXSIM\n", 0, 0},
        {"bytes that are no text", std::string("\xFF\xFE\x00[VENDOR]\x01\x02\n", 14), 0, 0},
        {"huge AES value", DefaultVendorConfig("AES=" + std::string(10000, 'Y') + "\n"), 1, 0},
        {"huge chip list and NONADMIN",
         DefaultVendorConfig("NONADMIN=" + huge + "\n[Inq_ChipNum]\nChipNum0=" + huge + "\n"), 1,
         0},
        {"AES YES after a huge line", DefaultVendorConfig("X=" + huge + "\nAES=YES\n"), 1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetDeviceState();
        WriteConfig(c.text);
        QdaRequest request = Request('E');
        EXPECT_EQ(QDACheckCD(&request), c.found);
        EXPECT_EQ(request.errorCode, c.found ? 0 : 4);
        std::uint16_t chip[5] = {};
        request = Request('E');
        EXPECT_EQ(QDAGetChipNum(&request, chip), c.found);
        EXPECT_EQ(request.errorCode, c.found ? 0 : 29);
        EXPECT_EQ(state().wrapMode, c.wrapMode);
    }
    std::filesystem::remove(programDir.path() / "ACMEKVX.INI");
    QdaRequest request = Request('E');
    EXPECT_EQ(QDACheckCD(&request), 0);
    EXPECT_EQ(request.errorCode, 5);
    std::uint16_t chip[5] = {};
    EXPECT_EQ(QDAGetChipNum(&request, chip), 0);
    EXPECT_EQ(request.errorCode, 5);
}

}  // namespace
}  // namespace kvx
