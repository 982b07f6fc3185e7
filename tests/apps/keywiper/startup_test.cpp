// Keywiper's start-up through the scripted view: instance markers, the configuration file, the
// raw-volume probe, the library, the program's drive and the device's password state.
#include <gtest/gtest.h>

#include <optional>

#include "apps/support/program_instances.h"
#include "tests/apps/keywiper/keywiper_fixture.h"

namespace kvx::test {
namespace {

using namespace keywiper;
using ui::Icon;
using ui::ScriptedWindow;

// Another Keywiper beside the fixture's: its own view and loader, the same library.
using SecondApp = AnotherInstance<CKEYWIPERApp, &KeywiperStrings>;

TEST_F(KeywiperTest, ProtectedLockedDeviceOpensTheMainDialog) {
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kMainCancel); });
    EXPECT_EQ(app.Run(), Outcome::kDone);
    EXPECT_EQ(ExitCode(Outcome::kDone), 0);
    EXPECT_EQ(view.journal().front(), "open dialog 102");
    EXPECT_TRUE(view.messages().empty());
    EXPECT_EQ(app.session().request.driveLetter, 'E');
    // Start-up asks the device, the dialog reads the hint; nothing is written.
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"QDACheckCD", "QDAGetPasswordStatus",
                                                    "QDAChangePassWord"}));
    EXPECT_TRUE(stores.empty());
}

TEST_F(KeywiperTest, CompanionNamesAndMarkersFollowThePrefix) {
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kMainCancel); });
    app.Run();
    const ui::ProgramNames& n = app.session().names;
    const std::u16string p = FromUtf8(host.prefix);
    EXPECT_EQ(n.prefix, p);
    EXPECT_EQ(n.OwnMarker(), u"E" + p + u"PRT");
    EXPECT_EQ(loader.libraryPaths, std::vector<std::u16string>{u"E:\\" + p + u"KVX.DLL"});
    EXPECT_TRUE(loader.resourcePaths.empty());  // no WEG.DLL beside it

    // A resource library that is present is asked for; Keyport's is not Keywiper's.
    host.WriteCompanion("KEG.DLL", "not ours");
    {
        SecondApp other(host, fake);
        other.app.Run();
        EXPECT_TRUE(other.loader.resourcePaths.empty());
    }
    host.WriteCompanion("WEG.DLL", "not really a library");
    SecondApp again(host, fake);
    again.app.Run();
    EXPECT_EQ(again.loader.resourcePaths, std::vector<std::u16string>{u"E:\\" + p + u"WEG.DLL"});
}

TEST_F(KeywiperTest, SecondInstanceFromTheSameDriveEndsSilently) {
    Outcome second = Outcome::kDone;
    bool secondQuiet = false;
    {
        SecondApp first(host, fake);
        first.view.OnOpen(kMainTemplate, [&](ScriptedWindow& w) {
            SecondApp same(host, fake);
            second = same.app.Run();
            secondQuiet = same.view.journal().empty() && same.view.messages().empty();
            w.Press(kMainCancel);
        });
        EXPECT_EQ(first.app.Run(), Outcome::kDone);
    }
    EXPECT_EQ(second, Outcome::kEndedSilently);
    EXPECT_TRUE(secondQuiet);

    // Once the first has ended, the program runs again.
    SecondApp later(host, fake);
    later.view.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kMainCancel); });
    EXPECT_EQ(later.app.Run(), Outcome::kDone);
}

TEST_F(KeywiperTest, SiblingMarkers) {
    const auto run = [&](const SiblingCase& c) {
        fake.calls.clear();
        SecondApp second(host, fake);
        second.view.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kMainCancel); });
        EXPECT_EQ(second.app.Run(), c.expected);
        if (c.expected == Outcome::kSiblingRunning) {
            ASSERT_EQ(second.view.MessageIds(), std::vector<ui::StringId>{185});
            EXPECT_EQ(second.view.messages()[0].message.icon, Icon::kNone);
            EXPECT_EQ(second.view.messages()[0].message.caption, u"Reset Password");
            EXPECT_TRUE(fake.calls.empty());
        }
    };
    WithEachSiblingMarker(host,
                          {{"SET", 0, Outcome::kDone},
                           {"LCK", 0, Outcome::kDone},
                           {"SET", 3, Outcome::kSiblingRunning},
                           {"LCK", 1, Outcome::kSiblingRunning}},
                          run);
}

// Each start-up refusal: its message (or none), and how far the program got with the device.
TEST_F(KeywiperTest, StartUpRefusals) {
    struct Case {
        const char* why;
        std::function<void(KeywiperTest&)> arrange;
        Outcome outcome;
        std::optional<ui::StringId> message;  // nullopt: no message at all
        Icon icon;
        std::vector<std::string> calls;
    };
    const std::vector<std::string> startCalls{"QDACheckCD", "QDAGetPasswordStatus"};
    const Case cases[] = {
        {"no configuration file",
         [](KeywiperTest& t) { t.host.RemoveCompanion("KVX.INI"); },
         Outcome::kFailed,
         103,
         Icon::kNone,
         {}},
        {"raw volume access denied",
         [](KeywiperTest& t) { t.host.volumeError = kErrorAccessDenied; },
         Outcome::kRefused,
         57345,
         Icon::kError,
         {}},
        {"raw volume unavailable",
         [](KeywiperTest& t) { t.host.volumeError = kErrorSharingViolation; },
         Outcome::kEndedSilently,
         std::nullopt,
         Icon::kNone,
         {}},
        {"no device",
         [](KeywiperTest& t) { t.device.cdLetters = u""; },
         Outcome::kFailed,
         106,
         Icon::kError,
         {"QDACheckCD"}},
        {"hub side channel only",
         [](KeywiperTest& t) {
             const auto plain = t.fake.checkCd;
             t.fake.checkCd = [plain](QdaRequest& r) {
                 const int result = plain(r);
                 r.errorCode = '1';
                 return result;
             };
         },
         Outcome::kRefused,
         57345,
         Icon::kError,
         {"QDACheckCD"}},
        {"started from another drive",
         [](KeywiperTest& t) { t.device.cdLetters = u"GH"; },
         Outcome::kEndedSilently,
         std::nullopt,
         Icon::kNone,
         {"QDACheckCD"}},
        {"library without the drive check",
         [](KeywiperTest& t) { t.fake.checkCd = nullptr; },
         Outcome::kEndedSilently,
         std::nullopt,
         Icon::kNone,
         {}},
        {"library without the password status",
         [](KeywiperTest& t) { t.fake.passwordStatus = nullptr; },
         Outcome::kRefused,
         165,
         Icon::kError,
         {"QDACheckCD"}},
        {"password status fails",
         [](KeywiperTest& t) { t.fake.passwordStatus = [](QdaRequest&) { return 0; }; },
         Outcome::kFailed, 164, Icon::kError, startCalls},
        {"public device", [](KeywiperTest& t) { t.device.passwordSet = false; }, Outcome::kRefused,
         165, Icon::kError, startCalls},
        {"open device", [](KeywiperTest& t) { t.device.open = true; }, Outcome::kRefused, 186,
         Icon::kError, startCalls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        KeywiperTest& t = *this;
        host.WriteCompanion("KVX.INI", "[VENDOR]\r\n");
        host.volumeError.reset();
        device = WiperDevice{};
        Wire();
        fake.calls.clear();
        c.arrange(t);
        SecondApp run(host, fake);
        EXPECT_EQ(run.app.Run(), c.outcome);
        EXPECT_EQ(ExitCode(c.outcome), 1);
        if (c.message) {
            ASSERT_EQ(run.view.MessageIds(), std::vector<ui::StringId>{*c.message});
            EXPECT_EQ(run.view.messages()[0].message.icon, c.icon);
            EXPECT_EQ(run.view.messages()[0].message.text, S(*c.message));
            EXPECT_EQ(run.view.messages()[0].ownerTemplate, -1);
        } else {
            EXPECT_TRUE(run.view.messages().empty());
        }
        EXPECT_EQ(fake.calls, c.calls);
        // No dialog opened.
        for (const std::string& line : run.view.journal()) {
            EXPECT_FALSE(line.starts_with("open")) << line;
        }
    }
}

TEST_F(KeywiperTest, Windows9xHasNoVolumeProbe) {
    host.volumeError = kErrorAccessDenied;
    host.version.platformId = 1;
    host.version.build = 2222;
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kMainCancel); });
    EXPECT_EQ(app.Run(), Outcome::kDone);
    EXPECT_TRUE(view.messages().empty());
}

TEST_F(KeywiperTest, LibraryThatCannotBeLoaded) {
    FakeLoader failing(nullptr);
    CKEYWIPERApp run(host, view, failing, strings);
    EXPECT_EQ(run.Run(), Outcome::kFailed);
    const std::u16string path = u"E:\\" + FromUtf8(host.prefix) + u"KVX.DLL";
    ASSERT_EQ(view.messages().size(), 1u);
    EXPECT_EQ(view.messages()[0].message.text,
              u"Unable to load the DLL from the path " + path +
                  u". Please make sure the file is present in the directory and retry again.");
    EXPECT_EQ(view.messages()[0].message.icon, Icon::kError);
    EXPECT_EQ(view.messages()[0].message.caption, u"Reset Password");
}

}  // namespace
}  // namespace kvx::test
