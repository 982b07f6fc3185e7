// Keywiper's presenters with the real library against the emulated device: the program lies in
// the machine's CD folder, the library is the one linked into the tests, found by name. A reset
// replaces the password and hint and leaves a fresh file system and nothing of the old one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "sim/bridge/export.h"
#include "tests/apps/keywiper/keywiper_fixture.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

using namespace keywiper;
using ui::ScriptedWindow;

constexpr std::uint32_t kSecureMb = 40;
constexpr char kLabel[] = "KW FRESH";

// A device with a secure partition of kSecureMb and a label in the configuration file, and
// Keywiper (under a name of its own, so that tests running side by side never share an instance
// marker) beside the configuration file in the CD folder.
struct Rig {
    explicit Rig(DeviceSpec spec) : dev(Labelled(std::move(spec))) {
        static std::atomic<unsigned> counter{0};
        const std::string prefix =
            "W" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000) +
            "N" + std::to_string(counter++);
        const std::filesystem::path cd = dev.machine().dir() / "cd";
        std::filesystem::create_directories(cd);
        std::filesystem::copy_file(dev.ConfigFile(), cd / (prefix + "KVX.INI"));
        dev.platform().moduleFileName = (cd / (prefix + "PRT.EXE")).u16string();
    }

    static DeviceSpec Labelled(DeviceSpec spec) {
        spec.vendorLines = {std::string("Secure Volume Label=") + kLabel};
        return spec;
    }

    // One program start.
    Outcome Run(ui::ScriptedView& view) {
        FakeLoader loader(&library);
        ui::ResourceStrings strings(KeywiperStrings());
        CKEYWIPERApp app(dev.host(), view, loader, strings);
        app.session().pump = pump;
        return app.Run();
    }

    // A full reset to `password` and `hint`, every warning confirmed; the messages shown.
    std::vector<ui::StringId> Reset(std::u16string_view password, std::u16string_view hint,
                                    std::u16string* shownHint = nullptr) {
        ui::ScriptedView view;
        view.OnOpen(kMainTemplate, [&](ScriptedWindow& w) {
            if (shownHint != nullptr) {
                *shownHint = w.Text(kHintText);
            }
            w.Press(kResetOpen);
        });
        view.OnOpen(kResetTemplate, [&](ScriptedWindow& w) {
            w.Type(kNewEdit, password);
            w.Type(kConfirmEdit, password);
            w.Type(kNewHintEdit, hint);
            w.Press(kResetButton);
            bar = w.Find(kProgressBar)->progress;
            percents = w.History(kPercentText);
        });
        for (int i = 0; i < kWarnings; ++i) {
            view.Answer(ui::kResultYes);
        }
        outcome = Run(view);
        return view.MessageIds();
    }

    // A login as Keyport would try it; the error code on refusal.
    std::optional<std::uint8_t> Login(std::u16string_view password) const {
        QdaRequest r = dev.Request();
        SetPassword(r, password);
        if (QDASHA2Auth(&r) == 1) {
            return std::nullopt;
        }
        return r.errorCode;
    }

    std::u16string StoredHint() const {
        QdaRequest r = dev.Request();
        r.changeOp = 2;
        EXPECT_EQ(QDAChangePassWord(&r), 1);
        return HintOf(r);
    }

    DeviceFixture dev;
    LinkedLibrary library;
    std::function<void()> pump;
    Outcome outcome = Outcome::kFailed;
    unsigned bar = 0;
    std::vector<std::u16string> percents;
};

std::vector<std::uint8_t> Marker() {
    const std::string text = "the old secret of the secure partition";
    std::vector<std::uint8_t> marker(512);
    for (std::size_t i = 0; i < marker.size(); ++i) {
        marker[i] = static_cast<std::uint8_t>(text[i % text.size()]);
    }
    return marker;
}

// Checks the secure partition's plaintext with fsck.fat and reads its label; whether the
// exported plaintext holds `needle`.
bool CheckPlaintext(const DeviceFixture& dev, const std::vector<std::uint8_t>& needle) {
    ScratchDir out;
    const auto exported = out.path() / "secure.img";
    EXPECT_EQ(sim::ExportSecurePartition(dev.Paths(), exported), std::nullopt);
    if (HaveTool("fsck.fat") && HaveTool("fatlabel")) {
        const std::string part = ToolPath(PartitionFile(exported, out.path() / "part.img"));
        std::string text;
        EXPECT_EQ(Shell("fsck.fat -n '" + part + "'", &text), 0) << text;
        EXPECT_EQ(Shell("fatlabel '" + part + "'", &text), 0) << text;
        EXPECT_EQ(text, std::string(kLabel) + "\n");
    }
    return FileContains(exported, needle);
}

struct Kind {
    const char* name;
    sim::Media media;
    bool aes;
};

class KeywiperOnDevice : public ::testing::TestWithParam<Kind> {};

TEST_P(KeywiperOnDevice, ResetReplacesPasswordHintAndPartition) {
    Rig rig(SecureLayout(GetParam().media, kSecureMb, GetParam().aes));
    DeviceFixture& dev = rig.dev;
    // The old partition, with something of the user's in it.
    ASSERT_EQ(Format(dev, kSecureMb), 1);
    const auto marker = Marker();
    const std::uint32_t at = static_cast<std::uint32_t>(PartitionBase(dev)) + 30000;
    {
        QdaRequest w = dev.Request();
        w.startSector = at;
        w.sectorCount = 1;
        w.writeFlag = 1;
        auto data = marker;
        ASSERT_EQ(QDARdWrDirect(&w, data.data()), 1);
    }
    ASSERT_EQ(ReadDirect(dev, at, 1), marker);
    dev.Replug();

    std::u16string shownHint;
    EXPECT_EQ(rig.Reset(u"Neu-Pass9", u"wet weather", &shownHint),
              (std::vector<ui::StringId>{102, 102, 102, 171}));
    EXPECT_EQ(rig.outcome, Outcome::kDone);
    EXPECT_EQ(shownHint, u"sky and colour");
#ifndef _WIN32  // there the library's progress goes to real windows
    EXPECT_EQ(rig.bar, 100u);
    ASSERT_GE(rig.percents.size(), 3u);
    EXPECT_EQ(rig.percents.back(), u"100 %");
#endif

    dev.Replug();
    EXPECT_EQ(rig.Login(u"Wolke7-Rot"), std::optional<std::uint8_t>(25));
    EXPECT_EQ(rig.Login(u"Neu-Pass9"), std::nullopt);
    EXPECT_TRUE(dev.State().secureOpen);
    EXPECT_EQ(rig.StoredHint(), u"wet weather");

    // A file system the outside tools accept, and nothing of the old partition anywhere.
    const std::vector<std::uint8_t> needle(marker.begin(), marker.begin() + 38);
    EXPECT_FALSE(CheckPlaintext(dev, needle));
    EXPECT_FALSE(FileContains(dev.Paths().medium, needle));
    EXPECT_NE(ReadDirect(dev, at, 1), marker);
}

INSTANTIATE_TEST_SUITE_P(Devices, KeywiperOnDevice,
                         ::testing::Values(Kind{"hdd_aes", sim::Media::kHdd, true},
                                           Kind{"flash_aes", sim::Media::kFlash, true},
                                           Kind{"hdd_plain", sim::Media::kHdd, false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(KeywiperOnDeviceRules, ANoAtAnyWarningSendsNoCommand) {
    Rig rig(SecureLayout(sim::Media::kHdd, kSecureMb, true));
    for (int no = 1; no <= kWarnings; ++no) {
        SCOPED_TRACE(no);
        ui::ScriptedView view;
        std::size_t before = 0;
        view.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kResetOpen); });
        view.OnOpen(kResetTemplate, [&](ScriptedWindow& w) {
            w.Type(kNewEdit, u"Neu-Pass9");
            w.Type(kConfirmEdit, u"Neu-Pass9");
            w.Type(kNewHintEdit, u"wet weather");
            before = rig.dev.LogSize();
            w.Press(kResetButton);
        });
        for (int i = 1; i < no; ++i) {
            view.Answer(ui::kResultYes);
        }
        view.Answer(ui::kResultNo);
        EXPECT_EQ(rig.Run(view), Outcome::kDone);
        EXPECT_EQ(view.MessageIds().size(), static_cast<std::size_t>(no));
        EXPECT_EQ(view.messages().back().message.text.substr(0, 15),
                  u"Warning " + FromUtf8(std::to_string(no)) + u" of 3\n");
        EXPECT_NE(before, 0u);
        EXPECT_EQ(rig.dev.LogSize(), before);
    }
    EXPECT_EQ(rig.Login(u"Wolke7-Rot"), std::nullopt);
}

TEST(KeywiperOnDeviceRules, PublicAndOpenDevicesAreRefused) {
    {
        DeviceSpec spec = SecureLayout(sim::Media::kHdd, kSecureMb, false);
        spec.password = u"";
        spec.hint = u"";
        Rig rig(spec);
        ui::ScriptedView view;
        EXPECT_EQ(rig.Run(view), Outcome::kRefused);
        EXPECT_EQ(view.MessageIds(), std::vector<ui::StringId>{165});
    }
    Rig rig(SecureLayout(sim::Media::kFlash, kSecureMb, true));
    ASSERT_EQ(rig.Login(u"Wolke7-Rot"), std::nullopt);
    ui::ScriptedView view;
    EXPECT_EQ(rig.Run(view), Outcome::kRefused);
    EXPECT_EQ(view.MessageIds(), std::vector<ui::StringId>{186});
}

#ifndef _WIN32  // the fault is planned from the progress reports, which reach real windows there
TEST(KeywiperOnDeviceRules, FaultDuringTheFormatThenASecondReset) {
    Rig rig(SecureLayout(sim::Media::kHdd, kSecureMb, false));
    int reports = 0;
    rig.pump = [&] {
        // Well into the erase, every write starts failing.
        if (++reports == 20) {
            rig.dev.Update([](sim::BridgeState& s) {
                sim::Fault fault;
                fault.match = "write";
                fault.count = 1000;
                fault.sense = {0x03, 0x0C, 0x00};
                s.faults.push_back(fault);
            });
        }
    };
    EXPECT_EQ(rig.Reset(u"Neu-Pass9", u"wet weather"),
              (std::vector<ui::StringId>{102, 102, 102, 170}));
    EXPECT_EQ(rig.outcome, Outcome::kDone);
    EXPECT_GE(reports, 20);
    EXPECT_GT(rig.bar, 0u);
    EXPECT_LT(rig.bar, 100u);

    rig.dev.Update([](sim::BridgeState& s) { s.faults.clear(); });
    rig.dev.Replug();
    rig.pump = nullptr;
    EXPECT_EQ(rig.Reset(u"Zweiter-1", u"second try"),
              (std::vector<ui::StringId>{102, 102, 102, 171}));
    rig.dev.Replug();
    EXPECT_EQ(rig.Login(u"Neu-Pass9"), std::optional<std::uint8_t>(25));
    EXPECT_EQ(rig.Login(u"Zweiter-1"), std::nullopt);
    EXPECT_FALSE(CheckPlaintext(rig.dev, {'n', 'o', 'n', 'e'}));
}
#endif

}  // namespace
}  // namespace kvx::test
