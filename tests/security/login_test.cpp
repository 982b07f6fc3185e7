// Login end to end: the library's challenge-response exchanges against the emulated bridge, which
// checks each response from the digests stored in its data block.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "frame/qda.h"
#include "sim/bridge/commands.h"
#include "support/device_fixture.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

using Step = std::pair<int, int>;  // CDB byte 2 (step), byte 3 (1 = identifier exchange)

// The authentication steps the device received from log index `from` on, with whether each
// succeeded.
std::vector<std::pair<Step, bool>> AuthSteps(const DeviceFixture& dev, std::size_t from) {
    std::vector<std::pair<Step, bool>> steps;
    for (const auto& e : dev.Log(from)) {
        const auto cdb = sim::VendorEnvelope(e.cdb);
        if (cdb && (*cdb)[1] == 0xC8) {
            steps.push_back({{(*cdb)[2], (*cdb)[3]}, e.status == sim::kStatusGood});
        }
    }
    return steps;
}

QdaRequest Status(DeviceFixture& dev) {
    QdaRequest request = dev.Request();
    EXPECT_EQ(QDAGetPasswordStatus(&request), 1) << int{request.errorCode};
    return request;
}

int Login(DeviceFixture& dev, std::u16string_view password, QdaRequest* out = nullptr) {
    QdaRequest request = dev.Request();
    request.verifyCount = 0xEE;
    SetPassword(request, password);
    const int result = QDASHA2Auth(&request);
    if (out != nullptr) {
        *out = request;
    }
    return result;
}

// Whether the secure unit answers a read of its first sector (once more after a unit attention,
// as a host's storage stack does).
bool SecureUnitReads(DeviceFixture& dev) {
    auto bridge = dev.machine().MakeBridge();
    Ran r = Exec(*bridge, sim::Unit::kSecure, Rw10(0x28, 0, 1), DataDirection::kIn, 512);
    if ((r.sense()[0] & 0x0F) == 0x06) {
        r = Exec(*bridge, sim::Unit::kSecure, Rw10(0x28, 0, 1), DataDirection::kIn, 512);
    }
    return r.good();
}

bool SecureLetterShown(DeviceFixture& dev) {
    return (dev.host().LogicalDriveMask() & (1u << (dev.secLetter() - 'A'))) != 0;
}

constexpr std::u16string_view kPassword = u"Wolke7-Rot";

TEST(Login, HardDiskRefusesAWrongPasswordWithTheLoweredCountAndOpensForTheRightOne) {
    DeviceFixture dev;
    QdaRequest status = Status(dev);
    EXPECT_EQ(Value(status.passwordSupported), 1u);
    EXPECT_EQ(Value(status.deviceDisabled), 0u);
    EXPECT_EQ(status.verifyCount, sim::kVerifyCountStart);
    EXPECT_EQ(status.mediaType, 1);
    EXPECT_FALSE(SecureUnitReads(dev));
    EXPECT_FALSE(SecureLetterShown(dev));

    std::size_t mark = dev.LogSize();
    QdaRequest refused{};
    EXPECT_EQ(Login(dev, u"wolke7-rot", &refused), 0);
    EXPECT_EQ(refused.errorCode, 25);
    EXPECT_EQ(refused.verifyCount, sim::kVerifyCountStart - 1);
    EXPECT_EQ(dev.State().verifyCount, sim::kVerifyCountStart - 1);
    // Identifier exchange first and accepted, then the password exchange refused, then the count.
    const std::vector<std::pair<Step, bool>> wrong = {
        {{1, 1}, true}, {{2, 1}, true},  {{3, 1}, true}, {{1, 0}, true},
        {{2, 0}, true}, {{3, 0}, false}, {{4, 0}, true}};
    EXPECT_EQ(AuthSteps(dev, mark), wrong);
    EXPECT_EQ(Value(Status(dev).deviceDisabled), 0u);
    EXPECT_FALSE(SecureUnitReads(dev));

    mark = dev.LogSize();
    QdaRequest accepted{};
    EXPECT_EQ(Login(dev, kPassword, &accepted), 1);
    EXPECT_EQ(accepted.errorCode, 0);
    EXPECT_EQ(accepted.verifyCount, 0xEE);  // only written on a refusal
    const std::vector<std::pair<Step, bool>> right = {{{1, 1}, true}, {{2, 1}, true},
                                                      {{3, 1}, true}, {{1, 0}, true},
                                                      {{2, 0}, true}, {{3, 0}, true}};
    EXPECT_EQ(AuthSteps(dev, mark), right);

    status = Status(dev);
    EXPECT_EQ(Value(status.deviceDisabled), 1u);
    EXPECT_EQ(Value(status.passwordSupported), 1u);
    EXPECT_EQ(status.verifyCount, sim::kVerifyCountStart);  // a good login restores the count
    EXPECT_TRUE(SecureUnitReads(dev));
    EXPECT_TRUE(SecureLetterShown(dev));

    // A power cycle closes the device again.
    dev.Replug();
    EXPECT_EQ(Value(Status(dev).deviceDisabled), 0u);
    EXPECT_FALSE(SecureUnitReads(dev));
}

TEST(Login, FlashRunsOnlyThePasswordExchangeAndLaunchSendsNothing) {
    DeviceFixture dev({.media = sim::Media::kFlash, .sizeMb = 32});
    std::size_t mark = dev.LogSize();
    QdaRequest refused{};
    EXPECT_EQ(Login(dev, u"Wolke7-Rat", &refused), 0);
    EXPECT_EQ(refused.errorCode, 25);
    EXPECT_EQ(refused.verifyCount, sim::kVerifyCountStart - 1);
    EXPECT_EQ(refused.mediaType, 2);
    const std::vector<std::pair<Step, bool>> wrong = {
        {{1, 0}, true}, {{2, 0}, true}, {{3, 0}, false}, {{4, 0}, true}};
    EXPECT_EQ(AuthSteps(dev, mark), wrong);

    EXPECT_EQ(Login(dev, kPassword), 1);
    EXPECT_EQ(Value(Status(dev).deviceDisabled), 1u);
    EXPECT_TRUE(SecureUnitReads(dev));

    mark = dev.LogSize();
    QdaRequest launch = dev.Request();
    EXPECT_EQ(QDALaunchSec(&launch), 1);
    EXPECT_TRUE(AuthSteps(dev, mark).empty());
    EXPECT_GT(dev.LogSize(), mark);  // the medium was queried, only the launch was not sent
}

TEST(Login, HardDiskLaunchNeedsALoginAndPresentsTheSecureUnitAgain) {
    DeviceFixture dev;
    QdaRequest launch = dev.Request();
    std::size_t mark = dev.LogSize();
    EXPECT_EQ(QDALaunchSec(&launch), 0);
    EXPECT_EQ(launch.errorCode, 0);  // a refused launch sets no code
    EXPECT_EQ(AuthSteps(dev, mark), (std::vector<std::pair<Step, bool>>{{{5, 0}, false}}));

    ASSERT_EQ(Login(dev, kPassword), 1);
    // The host ejects the secure unit; the launch brings it back without a new login.
    auto bridge = dev.machine().MakeBridge();
    ASSERT_TRUE(Exec(*bridge, sim::Unit::kSecure, {0x1B, 0, 0, 0, 0x02, 0}, DataDirection::kNone, 0)
                    .good());
    EXPECT_FALSE(SecureUnitReads(dev));
    launch = dev.Request();
    mark = dev.LogSize();
    EXPECT_EQ(QDALaunchSec(&launch), 1);
    EXPECT_EQ(AuthSteps(dev, mark), (std::vector<std::pair<Step, bool>>{{{5, 0}, true}}));
    EXPECT_TRUE(SecureUnitReads(dev));
}

TEST(Login, TheVerifyCountRunsOutAndOnlyANewPasswordRestoresIt) {
    DeviceFixture dev({.media = sim::Media::kFlash, .sizeMb = 32});
    for (int left = sim::kVerifyCountStart - 1; left >= 0; --left) {
        QdaRequest r{};
        EXPECT_EQ(Login(dev, u"guess", &r), 0);
        EXPECT_EQ(r.errorCode, 25);
        EXPECT_EQ(r.verifyCount, left);
    }
    // At 0 the device refuses every login, the right password too, and stays at 0.
    QdaRequest locked{};
    EXPECT_EQ(Login(dev, kPassword, &locked), 0);
    EXPECT_EQ(locked.errorCode, 25);
    EXPECT_EQ(locked.verifyCount, 0);
    dev.Replug();
    EXPECT_EQ(Login(dev, kPassword, &locked), 0);
    EXPECT_EQ(Status(dev).verifyCount, 0);

    // The reset path: a new password stored through the block region gives a fresh count.
    QdaRequest change = dev.Request();
    change.changeOp = 3;
    SetPassword(change, u"Neu-5678");
    SetHint(change, u"new one");
    ASSERT_EQ(QDAChangePassWord(&change), 1) << int{change.errorCode};
    EXPECT_EQ(Status(dev).verifyCount, sim::kVerifyCountStart);
    EXPECT_EQ(Login(dev, kPassword), 0);
    EXPECT_EQ(Login(dev, u"Neu-5678"), 1);
}

TEST(Login, AnIdentifierThatDoesNotMatchTheStoredDigestStopsBeforeThePassword) {
    DeviceFixture dev;
    // The bridge now fronts another disk than the one it was set up with.
    dev.Update([](sim::BridgeState& s) { s.serial = "OTHERDISK01"; });
    const std::size_t mark = dev.LogSize();
    QdaRequest r{};
    EXPECT_EQ(Login(dev, kPassword, &r), 0);
    EXPECT_EQ(r.errorCode, 46);
    EXPECT_EQ(AuthSteps(dev, mark), (std::vector<std::pair<Step, bool>>{
                                        {{1, 1}, true}, {{2, 1}, true}, {{3, 1}, false}}));
    EXPECT_EQ(dev.State().verifyCount, sim::kVerifyCountStart);
    EXPECT_FALSE(dev.State().secureOpen);
}

TEST(Login, ADeviceWithoutAPasswordIsOpenWithoutALogin) {
    DeviceFixture dev({.password = std::u16string(), .hint = u""});
    const QdaRequest status = Status(dev);
    EXPECT_EQ(Value(status.passwordSupported), 0u);
    EXPECT_EQ(Value(status.deviceDisabled), 1u);
    EXPECT_TRUE(SecureUnitReads(dev));
    dev.Replug();
    EXPECT_TRUE(SecureUnitReads(dev));
    QdaRequest launch = dev.Request();
    EXPECT_EQ(QDALaunchSec(&launch), 1);
}

TEST(Login, AFailingChallengeStopsTheLoginWithItsCode) {
    DeviceFixture dev;
    dev.Update([](sim::BridgeState& s) {
        s.faults.push_back(*sim::ParseFault("fail sub:c8 count=1 sense=05/24/00"));
    });
    const std::size_t mark = dev.LogSize();
    QdaRequest r{};
    EXPECT_EQ(Login(dev, kPassword, &r), 0);
    EXPECT_EQ(r.errorCode, 16);
    EXPECT_EQ(AuthSteps(dev, mark), (std::vector<std::pair<Step, bool>>{{{1, 1}, false}}));
}

}  // namespace
}  // namespace kvx::test
