// Keyport's presenters with the real library against the emulated device: the program lies in
// the machine's CD folder, the library is the one linked into the tests, found by name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>

#include "apps/keyport/keyport_app.h"
#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/resource_ids.h"
#include "apps/support/fake_library.h"
#include "apps/support/linked_library.h"
#include "common/scripted_view.h"
#include "sim/bridge/commands.h"
#include "support/device_fixture.h"

namespace kvx::test {
namespace {

using namespace keyport;
using ui::ScriptedWindow;

// The device of a DeviceFixture, with Keyport (under a name of its own, so that tests running
// side by side never share an instance marker) and its configuration file in the CD folder.
struct Rig {
    explicit Rig(const DeviceSpec& spec = {}) : dev(spec) {
        static std::atomic<unsigned> counter{0};
        const std::string prefix =
            "R" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000) +
            "N" + std::to_string(counter++);
        const std::filesystem::path cd = dev.machine().dir() / "cd";
        std::filesystem::create_directories(cd);
        std::filesystem::copy_file(dev.ConfigFile(), cd / (prefix + "KVX.INI"));
        dev.platform().moduleFileName = (cd / (prefix + "LCK.EXE")).u16string();
    }

    // Keyport, once per call (each run is one program start).
    Outcome Run(std::u16string_view commandLine) {
        FakeLoader loader(&library);
        ui::ResourceStrings strings(KeyportStrings());
        CKEYPORTApp app(dev.host(), view, loader, strings);
        return app.Run(commandLine);
    }

    bool Logged(const std::string& unit, const std::string& note, std::size_t from = 0) const {
        const auto log = dev.Log(from);
        return std::any_of(log.begin(), log.end(), [&](const sim::LogEntry& e) {
            return e.unit == unit && e.note == note;
        });
    }
    // Vendor sub-command 0xC8 step 5: the launch.
    std::size_t Launches() const {
        std::size_t n = 0;
        for (const auto& e : dev.Log()) {
            const auto cdb = sim::VendorEnvelope(e.cdb);
            n += cdb && (*cdb)[1] == 0xC8 && (*cdb)[2] == 5 ? 1 : 0;
        }
        return n;
    }

    DeviceFixture dev;
    LinkedLibrary library;
    ui::ScriptedView view;
};

TEST(KeyportOnDevice, RefusalsHintAndLogin) {
    Rig rig;
    rig.view.OnOpen(kHintTemplate, [](ScriptedWindow& w) {
        EXPECT_EQ(w.Text(kHintText), u"sky and colour");
        w.Press(kHintOk);
    });
    rig.view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        for (const char16_t* wrong : {u"Wolke7-Blau", u"wolke7-rot", u"Wolke8-Rot"}) {
            w.Type(kPasswordEdit, wrong);
            w.Press(kLoginButton);
        }
        EXPECT_FALSE(rig.dev.State().secureOpen);
        w.Press(kHintButton);
        w.Type(kPasswordEdit, u"Wolke7-Rot");
        w.Press(kLoginButton);
        EXPECT_TRUE(w.closed());
    });
    EXPECT_EQ(rig.Run(u""), Outcome::kDone);
    EXPECT_EQ(rig.view.MessageIds(), (std::vector<ui::StringId>{105, 105, 106}));
    EXPECT_TRUE(rig.dev.State().secureOpen);
    // A hard disk on Windows 10: the secure disk re-read, no launch.
    EXPECT_TRUE(rig.Logged("sec", "update-properties ok"));
    EXPECT_EQ(rig.Launches(), 0u);
    EXPECT_EQ(std::count(rig.view.journal().begin(), rig.view.journal().end(), "close 133 1"), 1);
}

TEST(KeyportOnDevice, ChipPathLaunchesAfterTheSuccessDialog) {
    DeviceSpec spec;
    spec.change = [](sim::BridgeState& s) { s.chip = "7E4A"; };
    Rig rig(spec);
    std::size_t launchesDuringSuccess = 99;
    rig.view.OnOpen(kSuccessTemplate, [&](ScriptedWindow& w) {
        launchesDuringSuccess = rig.Launches();
        rig.view.RunTimers(w);
    });
    rig.view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) {
        w.Type(kPasswordEdit, u"Wolke7-Rot");
        w.Press(kLoginButton);
    });
    rig.Run(u"");
    EXPECT_EQ(launchesDuringSuccess, 0u);
    EXPECT_EQ(rig.Launches(), 1u);
    EXPECT_FALSE(rig.Logged("sec", "update-properties ok"));
    EXPECT_TRUE(rig.view.messages().empty());
}

TEST(KeyportOnDevice, OsgSwitchKeepsTheRestOfHiddenSectorZero) {
    DeviceSpec spec;
    spec.aesEngine = true;
    Rig rig(spec);
    // Something of the user's in hidden sector 0 first.
    std::vector<std::uint8_t> pattern(512);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const auto transfer = [&](std::vector<std::uint8_t>& data, bool write) {
        QdaRequest r = rig.dev.Request();
        r.sectorCount = 1;
        r.startSector = 0;
        r.writeFlag = write ? 1 : 0;
        return QDAHiddenPartRdWr(&r, data.data()) == 1;
    };
    ASSERT_TRUE(transfer(pattern, true));

    for (const auto& [word, flag] : {std::pair{u"EnableOSG", 1}, std::pair{u"disableosg", 0}}) {
        EXPECT_EQ(rig.Run(word), Outcome::kDone);
        std::vector<std::uint8_t> sector(512, 0xEE);
        ASSERT_TRUE(transfer(sector, false));
        for (std::size_t i = 0; i < sector.size(); ++i) {
            if (i < 4 || i > 7) {
                ASSERT_EQ(sector[i], pattern[i]) << i;
            }
        }
        EXPECT_EQ(std::string(sector.begin() + 4, sector.begin() + 7), "OSG");
        EXPECT_EQ(sector[7], flag);
    }
    EXPECT_EQ(rig.view.MessageIds(), (std::vector<ui::StringId>{159, 160}));
}

TEST(KeyportOnDevice, ChangedPasswordOpensTheDeviceAfterAReplug) {
    Rig rig;
    rig.view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) { w.Press(kOptionsButton); });
    rig.view.OnOpen(kChangePasswordTemplate, [](ScriptedWindow& w) {
        w.Type(kCurrentEdit, u"Wolke7-Rot");
        w.Type(kNewEdit, u"Regen-3");
        w.Type(kConfirmEdit, u"Regen-3");
        w.Type(kNewHintEdit, u"wet weather");
        w.Press(kApplyButton);
        EXPECT_TRUE(w.closed());
    });
    rig.Run(u"");
    EXPECT_EQ(rig.view.MessageIds(), std::vector<ui::StringId>{146});

    rig.dev.Replug();
    ui::ScriptedView& view = rig.view;
    view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) {
        w.Type(kPasswordEdit, u"Wolke7-Rot");
        w.Press(kLoginButton);
        w.Type(kPasswordEdit, u"Regen-3");
        w.Press(kLoginButton);
        EXPECT_TRUE(w.closed());
    });
    rig.Run(u"LOGIN");
    EXPECT_EQ(rig.view.MessageIds(), (std::vector<ui::StringId>{146, 105}));
    EXPECT_TRUE(rig.dev.State().secureOpen);
}

TEST(KeyportOnDevice, UnpluggingClosesTheLoginDialog) {
    Rig rig;
    rig.view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        rig.dev.Update([](sim::BridgeState& s) { s.plugged = false; });
        rig.view.DeviceRemoved();
        EXPECT_TRUE(w.closed());
        EXPECT_EQ(w.result(), ui::kResultOk);
    });
    EXPECT_EQ(rig.Run(u""), Outcome::kDone);
    EXPECT_TRUE(rig.view.messages().empty());
}

TEST(KeyportOnDevice, DeviceWithoutPasswordOpensItsCdDrive) {
    DeviceSpec spec;
    spec.password = u"";
    spec.hint = u"";
    Rig rig(spec);
    EXPECT_EQ(rig.Run(u""), Outcome::kDone);
    EXPECT_EQ(rig.view.shellOpened(), std::vector<std::u16string>{u"E:"});
    EXPECT_TRUE(rig.view.messages().empty());
}

}  // namespace
}  // namespace kvx::test
