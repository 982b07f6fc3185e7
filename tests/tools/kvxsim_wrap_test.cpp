// kvxsim's options for the wrapping and the INQUIRY capability word, and a second device beside
// the first.
#include <gtest/gtest.h>

#include <sstream>

#include "host/text.h"
#include "sim/bridge/device_dir.h"
#include "tools/kvxsim/kvxsim_cli.h"
#include "sim/machine.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

class KvxsimWrapTest : public ::testing::Test {
  protected:
    sim::BridgeState State(unsigned n = 0) const {
        return *sim::LoadDeviceState(sim::DevicePaths(sim::DeviceDirectory(dir, n)));
    }
    std::uint32_t InquiryWord(unsigned n = 0) const {
        sim::Bridge bridge(sim::DeviceDirectory(dir, n));
        const Ran r = Exec(bridge, sim::Unit::kCd, Inquiry(58), DataDirection::kIn, 58);
        EXPECT_TRUE(r.good());
        return Le32(r.data, 48);
    }

    ScratchDir scratch;
    std::string dir = ToUtf8((scratch.path() / "m").u16string());
};

TEST_F(KvxsimWrapTest, WrapOptionsSetTheFormAndTheCapabilityBits) {
    struct Case {
        std::vector<std::string> options;
        sim::Wrap wrap;
        bool required;
        std::uint32_t word;
    };
    const Case cases[] = {
        {{}, sim::Wrap::kNone, false, 0},
        {{"--wrap", "scrambled"}, sim::Wrap::kScramble, false, 1u << 26},
        {{"--wrap", "scramble", "--wrap-required", "yes"}, sim::Wrap::kScramble, true, 1u << 26},
        {{"--wrap", "aes", "--wrap-required", "no"},
         sim::Wrap::kAes,
         false,
         (1u << 26) | (1u << 22)},
        {{"--wrap", "aes", "--inquiry-caps", "0x00400000"}, sim::Wrap::kAes, false, 1u << 22},
        {{"--wrap", "none", "--inquiry-caps", "auto"}, sim::Wrap::kNone, false, 0},
    };
    unsigned n = 0;
    for (const Case& c : cases) {
        std::vector<std::string> args{"create", dir};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::string out;
        ASSERT_EQ(Cli(args, &out), 0) << out;
        EXPECT_EQ(out, "device: " + std::to_string(n) + "\n");
        EXPECT_EQ(State(n).wrap, c.wrap) << n;
        EXPECT_EQ(State(n).wrapRequired, c.required) << n;
        EXPECT_EQ(InquiryWord(n), c.word) << n;
        ++n;
    }
    // Two devices and more in one machine, each on its own letters and serial.
    EXPECT_EQ(sim::DeviceNumbers(sim::MachinePath(dir)).size(), std::size(cases));
    EXPECT_EQ(State(1).cdLetter, 'G');
    EXPECT_NE(State(1).serial, State(0).serial);

    std::string info;
    ASSERT_EQ(Cli({"info", dir, "--device", "2"}, &info), 0);
    EXPECT_NE(info.find("wrap_required: yes\n"), std::string::npos) << info;
    EXPECT_NE(info.find("session_counter: 0\n"), std::string::npos);
}

TEST_F(KvxsimWrapTest, BadWrapValuesAreUsageErrors) {
    for (const std::vector<std::string>& options :
         std::vector<std::vector<std::string>>{{"--wrap", "des"},
                                               {"--wrap-required", "maybe"},
                                               {"--inquiry-caps", "lots"},
                                               {"--inquiry-caps", "0x1FFFFFFFF"}}) {
        std::vector<std::string> args{"create", dir};
        args.insert(args.end(), options.begin(), options.end());
        std::string out;
        EXPECT_EQ(Cli(args, &out), 2) << options[0];
        EXPECT_NE(out.find(options[0]), std::string::npos) << out;
    }
    EXPECT_TRUE(sim::DeviceNumbers(sim::MachinePath(dir)).empty());
}

TEST_F(KvxsimWrapTest, ReplugEndsTheDevicesSession) {
    ASSERT_EQ(Cli({"create", dir, "--wrap", "aes"}).code, 0);
    ASSERT_TRUE(sim::UpdateDeviceState(sim::DevicePaths(sim::DeviceDirectory(dir, 0)),
                                       [](sim::BridgeState& s) {
                                           s.session.key[0] = 0x42;
                                           s.session.counter = 3;
                                       }));
    ASSERT_EQ(Cli({"replug", dir}).code, 0);
    EXPECT_FALSE(State().session.active());
    EXPECT_EQ(State().session.counter, 0);
}

}  // namespace
}  // namespace kvx::test
