#include "transport/volume_control.h"

#include <gtest/gtest.h>

#include "support/scripted_host.h"

namespace kvx {
namespace {

constexpr HostHandle kDrive = 0x77;

TEST(VolumeControl, OperationsRetryTwentyTimesHalfASecondApart) {
    test::ScriptedHost host;
    host.volumeOpsSucceed = false;
    EXPECT_FALSE(LockVolume(host, kDrive));
    EXPECT_EQ(host.volumeOps.size(), 20u);
    EXPECT_EQ(host.sleptMs, 19u * 500u);

    host.volumeOps.clear();
    host.volumeOpsSucceed = true;
    EXPECT_TRUE(DismountAndUnlock(host, kDrive));
    EXPECT_EQ(host.volumeOps, (std::vector<VolumeOp>{VolumeOp::kDismount, VolumeOp::kUnlock}));
}

}  // namespace
}  // namespace kvx
