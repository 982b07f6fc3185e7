#include "frame/export_frame.h"

#include <gtest/gtest.h>
#include <type_traits>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/text.h"
#include "support/test_host.h"

namespace kvx {
namespace {

// A drive check that opens a real file as "the drive" and fails on request with a code.
struct FakeIdentify {
    static inline std::u16string drivePath;
    static inline std::uint8_t code = 0;
    static inline bool succeed = true;
    static inline int calls = 0;

    static bool Run(DeviceState& state, std::uint8_t, std::uint8_t& errorByte) {
        ++calls;
        errorByte = 0;
        state.drive = state.host().Open(drivePath, kAccessRead, kShareRead | kShareWrite).handle;
        if (code != 0) {
            errorByte = code;
        }
        return succeed;
    }
};

std::uint8_t g_wrapModeSeenAtEnd = 0xFF;
bool CountingEndSession(DeviceState& state) {
    g_wrapModeSeenAtEnd = state.wrapMode;
    return true;
}

class ExportFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host_.moduleFileName = dir_.File("ABCDEFGHIJ.EXE");
        FakeIdentify::drivePath = dir_.File("drive.bin");
        FakeIdentify::code = 0;
        FakeIdentify::succeed = true;
        FakeIdentify::calls = 0;
        std::ofstream(dir_.path() / "drive.bin").put('\0');
        ResetDeviceState();
        std::memset(&request_, 0, sizeof request_);
        request_.driveLetter = 'E';
    }
    void TearDown() override { ResetDeviceState(); }

    void EnableLog() {
        WriteFixedUtf16(dir_.File("trace.log"), request_.logPath,
                        std::extent_v<decltype(request_.logPath)>);
    }
    std::string LogText() const { return test::ReadTextFile(dir_.path() / "trace.log"); }

    test::ScratchDir dir_;
    test::TestHost host_;
    ScopedHostOverride use_{host_};
    QdaRequest request_{};
};

TEST_F(ExportFrameTest, BannerNamesTheLibraryAfterTheHostProgram) {
    EnableLog();
    ExportFrame frame(request_, u"QDAGetChipNum()");
    ASSERT_TRUE(frame.Enter(nullptr));
    EXPECT_EQ(frame.Finish(true), 1);
    const std::string log = LogText();
    EXPECT_NE(log.find("[QDAGetChipNum()]"), std::string::npos) << log;
    EXPECT_NE(log.find("DLL VERSION=ABCDEFGKVX.DLL Version 1.55.00"), std::string::npos) << log;
}

TEST_F(ExportFrameTest, EmptyLogPathCreatesNoFile) {
    ExportFrame frame(request_, u"QDACHECKCD()");
    ASSERT_TRUE(frame.Enter(&FakeIdentify::Run));
    frame.Finish(true);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "trace.log"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

TEST_F(ExportFrameTest, DriveCheckKeyKeepsItsPlaceAndItsLastValue) {
    EnableLog();
    ExportFrame frame(request_, u"QDAGetPasswordStatus()");
    ASSERT_TRUE(frame.Enter(&FakeIdentify::Run));
    frame.log().Write(u"After", u"YES");
    frame.Finish(true);
    const std::string log = LogText();
    const std::size_t banner = log.find("DLL VERSION=");
    const std::size_t check = log.find("OnCheckDrvLet() E:=PASS");
    const std::size_t after = log.find("After=YES");
    ASSERT_NE(check, std::string::npos) << log;
    EXPECT_LT(banner, check);
    EXPECT_LT(check, after);
    EXPECT_EQ(log.find("OnCheckDrvLet() E:=TEST"), std::string::npos) << log;
}

TEST_F(ExportFrameTest, TwoExportsWriteTwoSectionsOfOneFile) {
    EnableLog();
    for (const char16_t* section : {u"QDACHECKCD()", u"QDACHECKSEC()"}) {
        ExportFrame frame(request_, section);
        ASSERT_TRUE(frame.Enter(nullptr));
        frame.Finish(true);
    }
    const std::string log = LogText();
    EXPECT_NE(log.find("[QDACHECKCD()]"), std::string::npos) << log;
    EXPECT_NE(log.find("[QDACHECKSEC()]"), std::string::npos) << log;
}

TEST_F(ExportFrameTest, FailedDriveCheckStoresItsOwnCodeBeforeTheFrameCode) {
    const struct {
        std::uint8_t identifyCode;
        std::uint8_t expected;
    } cases[] = {{0, kErrDriveCheckFailed}, {5, 5}, {30, 30}};
    for (const auto& c : cases) {
        FakeIdentify::succeed = false;
        FakeIdentify::code = c.identifyCode;
        request_.errorCode = 77;  // cleared on entry
        ExportFrame frame(request_, u"QDASHA2Auth()");
        EXPECT_FALSE(frame.Enter(&FakeIdentify::Run));
        frame.Fail(40);  // a later step never overwrites the first failure
        EXPECT_EQ(frame.Finish(false), 0);
        EXPECT_EQ(request_.errorCode, c.expected);
    }
}

TEST_F(ExportFrameTest, DriveHandleIsInvalidAfterEveryOutcome) {
    for (bool ok : {true, false}) {
        {
            ExportFrame frame(request_, u"QDALaunchSec()");
            ASSERT_TRUE(frame.Enter(&FakeIdentify::Run));
            ASSERT_NE(frame.state().drive, kInvalidHandle);
            frame.Finish(ok);
        }
        EXPECT_EQ(GlobalDeviceState().drive, kInvalidHandle);
        {
            // An export that returns early without Finish still closes the drive.
            ExportFrame frame(request_, u"QDALaunchSec()");
            ASSERT_TRUE(frame.Enter(&FakeIdentify::Run));
        }
        EXPECT_EQ(GlobalDeviceState().drive, kInvalidHandle);
    }
}

TEST_F(ExportFrameTest, SessionEndsAtExitOnlyWhenWrapping) {
    for (const WrapMode mode : {kWrapNone, kWrapScrambled, kWrapAes}) {
        g_wrapModeSeenAtEnd = 0xFF;
        GlobalDeviceState().wrapMode = mode;
        ExportFrame frame(request_, u"QDASHA2Auth()");
        ASSERT_TRUE(frame.Enter(nullptr));
        frame.Finish(true, &CountingEndSession);
        EXPECT_EQ(g_wrapModeSeenAtEnd, mode == 0 ? 0xFF : mode);
    }
}

TEST_F(ExportFrameTest, NineXFamilyFailsThroughTheMissingAspiLayer) {
    EnableLog();
    GlobalDeviceState().osType = kOsWin98;
    ExportFrame frame(request_, u"QDAGetPasswordStatus()");
    EXPECT_FALSE(frame.Enter(&FakeIdentify::Run));
    EXPECT_EQ(frame.Finish(false), 0);
    EXPECT_EQ(request_.errorCode, kErrAspiNotLoaded);
    EXPECT_EQ(FakeIdentify::calls, 0);
    // The banner still comes first.
    EXPECT_NE(LogText().find("DLL VERSION="), std::string::npos);
}

}  // namespace
}  // namespace kvx
