// Keyport's start-up and command words through the scripted view: instance markers, the
// configuration file, the raw-volume probe, the library, the program's drive, the main frame.
#include <gtest/gtest.h>

#include "apps/support/keyport_fixture.h"
#include "apps/support/program_instances.h"
#include "common/terminal_view.h"
#include "support/fake_console.h"

namespace kvx::test {
namespace {

using namespace keyport;
using ui::Icon;
using ui::ScriptedWindow;

// A second Keyport beside the fixture's: its own view and loader, the same library.
using SecondApp = AnotherInstance<CKEYPORTApp, &KeyportStrings>;

TEST_F(KeyportTest, SecondInstanceFromTheSameDriveEndsSilently) {
    Outcome second = Outcome::kDone;
    Outcome other = Outcome::kEndedSilently;
    std::size_t otherMessages = 1;
    {
        SecondApp first(host, library);
        first.view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
            // The first instance is in its login dialog.
            SecondApp same(host, library);
            second = same.app.Run(u"");
            EXPECT_TRUE(same.view.journal().empty());
            EXPECT_TRUE(same.view.messages().empty());

            // The same program on another drive letter is another instance.
            AppHost otherHost;
            otherHost.prefix = host.prefix;
            otherHost.letter = 'G';
            otherHost.WriteCompanion("KVX.INI", "[VENDOR]\r\n");
            device.cdLetters = u"EG";
            SecondApp elsewhere(otherHost, library);
            elsewhere.view.OnOpen(kLoginTemplate,
                                  [](ScriptedWindow& w2) { w2.Press(kCancelButton); });
            other = elsewhere.app.Run(u"");
            otherMessages = elsewhere.view.messages().size();
            EXPECT_EQ(elsewhere.app.session().request.driveLetter, 'G');
            w.Press(kCancelButton);
        });
        EXPECT_EQ(first.app.Run(u""), Outcome::kDone);
    }
    EXPECT_EQ(second, Outcome::kEndedSilently);
    EXPECT_EQ(other, Outcome::kDone);
    EXPECT_EQ(otherMessages, 0u);

    // Once the first has ended, the program runs again from the same drive.
    SecondApp later(host, library);
    later.view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) { w.Press(kCancelButton); });
    EXPECT_EQ(later.app.Run(u""), Outcome::kDone);
}

TEST_F(KeyportTest, SiblingMarkers) {
    const auto run = [&](const SiblingCase& c) {
        SecondApp second(host, library);
        second.view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) { w.Press(kCancelButton); });
        EXPECT_EQ(second.app.Run(u""), c.expected);
        if (c.expected == Outcome::kSiblingRunning) {
            ASSERT_EQ(second.view.MessageIds(), std::vector<ui::StringId>{152});
            EXPECT_EQ(second.view.messages()[0].message.icon, Icon::kNone);
            EXPECT_TRUE(library.calls.empty());
        }
        library.calls.clear();
    };
    WithEachSiblingMarker(host,
                          {{"SET", 0, Outcome::kDone},
                           {"PRT", 0, Outcome::kDone},
                           {"SET", 1, Outcome::kSiblingRunning},
                           {"PRT", 5, Outcome::kSiblingRunning}},
                          run);
}

TEST_F(KeyportTest, MissingConfigurationFile) {
    host.RemoveCompanion("KVX.INI");
    EXPECT_EQ(app.Run(u""), Outcome::kFailed);
    ASSERT_EQ(view.MessageIds(), std::vector<ui::StringId>{111});
    EXPECT_EQ(view.messages()[0].message.icon, Icon::kNone);
    EXPECT_TRUE(loader.libraryPaths.empty());
}

TEST_F(KeyportTest, LibraryThatCannotBeLoaded) {
    FakeLoader failing(nullptr);
    CKEYPORTApp run(host, view, failing, strings);
    EXPECT_EQ(run.Run(u""), Outcome::kFailed);
    const std::u16string path = u"E:\\" + FromUtf8(host.prefix) + u"KVX.DLL";
    EXPECT_EQ(failing.libraryPaths, std::vector<std::u16string>{path});
    ASSERT_EQ(view.messages().size(), 1u);
    EXPECT_EQ(view.messages()[0].message.text,
              u"Unable to load the DLL from the path " + path +
                  u". Please make sure the file is present in the directory and retry again.");
    EXPECT_EQ(view.messages()[0].message.icon, Icon::kError);
}

TEST_F(KeyportTest, CompanionNamesFollowThePrefix) {
    view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) { w.Press(kCancelButton); });
    app.Run(u"");
    const ui::ProgramNames& n = app.session().names;
    const std::u16string p = FromUtf8(host.prefix);
    EXPECT_EQ(n.prefix, p);
    EXPECT_EQ(n.Companion(u"KVX.INI"), u"E:\\" + p + u"KVX.INI");
    EXPECT_EQ(n.OwnMarker(), u"E" + p + u"LCK");
    EXPECT_EQ(n.SiblingMarker(u"PRT"), u"E" + p + u"PRT");
    EXPECT_EQ(loader.resourcePaths, std::vector<std::u16string>{});  // no KEG.DLL beside it

    // A resource library that is present is asked for.
    host.WriteCompanion("KEG.DLL", "not really a library");
    SecondApp again(host, library);
    again.view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) { w.Press(kCancelButton); });
    again.app.Run(u"");
    EXPECT_EQ(again.loader.resourcePaths, std::vector<std::u16string>{u"E:\\" + p + u"KEG.DLL"});
}

TEST(ProgramNames, PrefixRule) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"e:\\acmelck.exe", u"ACME"},      {u"E:\\LCK.EXE", u""},
        {u"E:\\dir\\KVX.EX", u"KVX.EX"},    {u"E:\\ABCDEFGHIJ.EXE", u"ABCDEFG"},
        {u"/work/cd/ACMELCK.EXE", u"ACME"},
    };
    for (const auto& [path, prefix] : cases) {
        EXPECT_EQ(ui::ProgramNames::From(path).prefix, prefix) << ToUtf8(path);
    }
    const auto n = ui::ProgramNames::From(u"e:\\sub\\acmelck.exe");
    EXPECT_EQ(n.directory, u"E:\\SUB\\");
    EXPECT_EQ(n.Companion(u"KEG.DLL"), u"E:\\SUB\\ACMEKEG.DLL");
    EXPECT_EQ(n.OwnMarker(), u"EACMELCK");
    EXPECT_EQ(n.Volume(), u"\\\\.\\E:");
}

TEST(HostSystemCode, Classification) {
    struct Case {
        std::uint32_t platform, major, minor, build;
        std::uint8_t code;
    };
    const Case cases[] = {{1, 4, 0, 950, 1},    {1, 4, 0, 1110, 1},  {1, 4, 0, 1111, 2},
                          {1, 4, 10, 1998, 3},  {1, 4, 10, 2222, 3}, {1, 4, 90, 3000, 4},
                          {2, 3, 51, 1057, 0},  {2, 4, 0, 1381, 5},  {2, 5, 0, 2195, 6},
                          {2, 5, 1, 2600, 7},   {2, 5, 2, 3790, 7},  {2, 6, 1, 7601, 10},
                          {2, 10, 0, 19045, 10}};
    for (const Case& c : cases) {
        OsVersion v;
        v.ok = true;
        v.platformId = c.platform;
        v.major = c.major;
        v.minor = c.minor;
        v.build = c.build;
        EXPECT_EQ(ui::HostSystemCode(v), c.code) << c.platform << " " << c.major << "." << c.minor;
    }
    EXPECT_EQ(ui::HostSystemCode(OsVersion{}), 0);
}

TEST_F(KeyportTest, RawVolumeProbe) {
    struct Case {
        std::optional<std::uint32_t> error;
        const char* config;
        Outcome outcome;
        bool nonAdmin;
    };
    const Case cases[] = {
        {std::nullopt, "[VENDOR]\r\n", Outcome::kDone, false},
        {kErrorAccessDenied, "[VENDOR]\r\n", Outcome::kEndedSilently, false},
        {kErrorAccessDenied, "[VENDOR]\r\nNONADMIN=yes\r\n", Outcome::kEndedSilently, false},
        {kErrorAccessDenied, "[VENDOR]\r\nNONADMIN=YES\r\n", Outcome::kDone, true},
        {kErrorSharingViolation, "[VENDOR]\r\n", Outcome::kDone, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        host.volumeError = c.error;
        host.WriteCompanion("KVX.INI", c.config);
        SecondApp run(host, library);
        run.view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
            // Non-administrators have neither Hint nor Options.
            EXPECT_EQ(w.Shown(kHintButton), !c.nonAdmin);
            EXPECT_EQ(w.Shown(kOptionsButton), !c.nonAdmin);
            w.Press(kCancelButton);
        });
        EXPECT_EQ(run.app.Run(u""), c.outcome);
        EXPECT_EQ(run.app.session().nonAdmin, c.nonAdmin);
        EXPECT_TRUE(run.view.messages().empty());
    }
    // The Windows 9x family has no such probe.
    host.volumeError = kErrorAccessDenied;
    host.WriteCompanion("KVX.INI", "[VENDOR]\r\n");
    host.version.platformId = 1;
    host.version.build = 2222;
    SecondApp old(host, library);
    old.view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) { w.Press(kCancelButton); });
    EXPECT_EQ(old.app.Run(u""), Outcome::kDone);
    EXPECT_EQ(old.app.session().hostSystem, 3);
}

TEST_F(KeyportTest, HubModeSignalMeansNonAdministrator) {
    const auto plain = library.checkCd;
    library.checkCd = [plain](QdaRequest& r) {
        const int result = plain(r);
        r.errorCode = '1';
        return result;
    };
    view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) {
        EXPECT_FALSE(w.Shown(kHintButton));
        w.Press(kCancelButton);
    });
    EXPECT_EQ(app.Run(u""), Outcome::kDone);
    EXPECT_TRUE(app.session().nonAdmin);
}

TEST_F(KeyportTest, ProgramMustRunFromTheDevicesCdDrive) {
    device.cdLetters = u"GH";
    {
        SecondApp elsewhere(host, library);
        EXPECT_EQ(elsewhere.app.Run(u""), Outcome::kEndedSilently);
        EXPECT_TRUE(elsewhere.view.messages().empty());
        EXPECT_TRUE(elsewhere.view.journal().empty());
    }

    // No device at all: the check fails with its message.
    device.cdLetters = u"";
    SecondApp none(host, library);
    EXPECT_EQ(none.app.Run(u""), Outcome::kFailed);
    EXPECT_EQ(none.view.MessageIds(), std::vector<ui::StringId>{103});
    EXPECT_EQ(none.view.messages()[0].message.icon, Icon::kError);
}

// --- Main frame ----------------------------------------------------------------------------

TEST_F(KeyportTest, FrameOpensTheCdDriveWhenNoLoginIsNeeded) {
    for (const bool passwordSet : {false, true}) {
        device.passwordSet = passwordSet;
        device.open = passwordSet;  // with a password: already open
        device.cdLetters = u"EG";
        SecondApp run(host, library);
        EXPECT_EQ(run.app.Run(u""), Outcome::kDone);
        EXPECT_EQ(run.view.shellOpened(), std::vector<std::u16string>{u"E:"});
        EXPECT_EQ(run.view.now(), 500u);  // closed at the next tick of timer 6
        EXPECT_EQ(library.CallCount("QDASHA2Auth"), 0u);
        EXPECT_TRUE(run.view.messages().empty());
    }
}

TEST_F(KeyportTest, FrameWaitsForTheDriveThenShowsOneLoginDialog) {
    // The program's drive is missing from the CD letters for the first three checks.
    int checks = 0;
    const auto plain = library.checkCd;
    library.checkCd = [&](QdaRequest& r) {
        ++checks;
        device.cdLetters = checks == 1 ? u"E" : checks <= 4 ? u"G" : u"GE";
        return plain(r);
    };
    std::uint64_t openedAt = 0;
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        openedAt = view.now();
        w.Press(kCancelButton);
    });
    EXPECT_EQ(app.Run(u""), Outcome::kDone);
    // Start-up's check, then ticks at 500, 1000, 1500 without the letter and 2000 with it.
    EXPECT_EQ(checks, 5);
    EXPECT_EQ(openedAt, 2000u);
    EXPECT_EQ(std::count(view.journal().begin(), view.journal().end(), "open dialog 102"), 1);
}

TEST_F(KeyportTest, FrameEndsAfterAFailedStatusOrCheck) {
    library.passwordStatus = [](QdaRequest& r) {
        r.errorCode = 23;
        return 0;
    };
    {
        SecondApp coded(host, library);
        EXPECT_EQ(coded.app.Run(u""), Outcome::kDone);
        EXPECT_EQ(coded.view.MessageIds(), std::vector<ui::StringId>{137});
        EXPECT_EQ(coded.view.messages()[0].ownerTemplate, kMainFrameTemplate);
        EXPECT_EQ(coded.view.now(), 500u);
    }
    {
        library.passwordStatus = [](QdaRequest&) { return 0; };
        SecondApp noCode(host, library);
        noCode.app.Run(u"");
        EXPECT_EQ(noCode.view.MessageIds(), std::vector<ui::StringId>{104});
    }
    // The drive check fails while the frame waits.
    WireLibrary();
    int checks = 0;
    const auto plain = library.checkCd;
    library.checkCd = [&](QdaRequest& r) { return ++checks == 1 ? plain(r) : 0; };
    SecondApp gone(host, library);
    gone.app.Run(u"");
    EXPECT_EQ(gone.view.MessageIds(), std::vector<ui::StringId>{103});
    EXPECT_EQ(gone.view.now(), 500u);
}

// The terminal view fires timers while a message box waits for its key, as Windows dispatches
// them under a box: the frame's wait for the drive must not show a second box meanwhile.
TEST_F(KeyportTest, FrameNeverStacksMessageBoxesWhileItsTimersRun) {
    int checks = 0;
    const auto plain = library.checkCd;
    library.checkCd = [&](QdaRequest& r) { return ++checks == 1 ? plain(r) : 0; };
    FakeConsole console;
    const std::uint64_t answered = console.now + 3000;
    console.Type("\r", answered);  // the box is up from the first tick until then
    ui::TerminalView terminal(console, host, strings);
    FakeLoader terminalLoader(&library);
    CKEYPORTApp program(host, terminal, terminalLoader, strings);
    EXPECT_EQ(program.Run(u""), Outcome::kDone);
    // Start-up's check and the first tick's; no tick ran under the box.
    EXPECT_EQ(checks, 2) << console.output;
    EXPECT_GE(console.now, answered);
}

// --- Command words -------------------------------------------------------------------------

TEST_F(KeyportTest, CommandWordsInAnyCaseAndNothingForExtraWords) {
    const std::pair<const char16_t*, Outcome> lines[] = {
        {u"ENABLEOSG", Outcome::kDone},        {u"enableosg", Outcome::kDone},
        {u"DisableOsg", Outcome::kDone},       {u"ENABLEOSG now", Outcome::kNoCommand},
        {u"LOGIN LOGIN", Outcome::kNoCommand}, {u"open", Outcome::kNoCommand},
        {u" LOGIN", Outcome::kNoCommand},
    };
    for (const auto& [line, outcome] : lines) {
        library.calls.clear();
        SecondApp run(host, library);
        EXPECT_EQ(run.app.Run(line), outcome) << ToUtf8(line);
        if (outcome == Outcome::kNoCommand) {
            EXPECT_EQ(library.calls, std::vector<std::string>{"QDACheckCD"}) << ToUtf8(line);
            EXPECT_TRUE(run.view.messages().empty());
        } else {
            EXPECT_EQ(run.view.messages().size(), 1u) << ToUtf8(line);
        }
    }
}

TEST_F(KeyportTest, OsgSwitchChangesOnlyBytesFourToSeven) {
    for (std::size_t i = 0; i < device.hiddenSector.size(); ++i) {
        device.hiddenSector[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    const auto before = device.hiddenSector;
    for (const auto& [word, flag, message] :
         {std::tuple{u"enableOSG", 1, 159u}, std::tuple{u"DISABLEOSG", 0, 160u}}) {
        SecondApp run(host, library);
        EXPECT_EQ(run.app.Run(word), Outcome::kDone);
        for (std::size_t i = 0; i < before.size(); ++i) {
            if (i < 4 || i > 7) {
                ASSERT_EQ(device.hiddenSector[i], before[i]) << i;
            }
        }
        EXPECT_EQ(device.hiddenSector[4], 'O');
        EXPECT_EQ(device.hiddenSector[5], 'S');
        EXPECT_EQ(device.hiddenSector[6], 'G');
        EXPECT_EQ(device.hiddenSector[7], flag);
        EXPECT_EQ(run.view.MessageIds(), std::vector<ui::StringId>{message});
        EXPECT_EQ(run.view.messages()[0].message.icon, Icon::kInformation);
    }
}

TEST_F(KeyportTest, OsgSwitchFailures) {
    // The read fails: the library's message, nothing written.
    int writes = 0;
    library.hidden = [&](QdaRequest& r, std::uint8_t*) {
        writes += r.writeFlag != 0 ? 1 : 0;
        r.errorCode = 38;
        return 0;
    };
    {
        SecondApp readFails(host, library);
        EXPECT_EQ(readFails.app.Run(u"ENABLEOSG"), Outcome::kDone);
        EXPECT_EQ(readFails.view.MessageIds(), std::vector<ui::StringId>{1096});
        EXPECT_EQ(writes, 0);
    }

    // The write fails: the library's message, then the failure.
    library.hidden = [&](QdaRequest& r, std::uint8_t*) {
        if (r.writeFlag == 0) {
            return 1;
        }
        r.errorCode = 39;
        return 0;
    };
    {
        SecondApp run(host, library);
        run.app.Run(u"DISABLEOSG");
        EXPECT_EQ(run.view.MessageIds(), (std::vector<ui::StringId>{1095, 158}));
        EXPECT_EQ(run.view.messages()[1].message.icon, Icon::kError);
    }

    // Without the export nothing happens.
    library.hidden = nullptr;
    SecondApp none(host, library);
    EXPECT_EQ(none.app.Run(u"ENABLEOSG"), Outcome::kDone);
    EXPECT_TRUE(none.view.messages().empty());
}

TEST_F(KeyportTest, LoginAndOpensecWords) {
    // LOGIN on a protected device: the frame and the login dialog.
    {
        SecondApp login(host, library);
        login.view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) { w.Press(kCancelButton); });
        EXPECT_EQ(login.app.Run(u"login"), Outcome::kDone);
        EXPECT_EQ(login.view.journal().front(), "open frame 0");
        EXPECT_EQ(login.view.journal()[1], "open dialog 102");
    }

    // LOGIN on a device without a password: the change-password dialog sets the first one.
    device.passwordSet = false;
    {
        SecondApp first(host, library);
        first.view.OnOpen(kChangePasswordTemplate, [](ScriptedWindow& w) {
            EXPECT_FALSE(w.Enabled(kCurrentEdit));
            w.Press(kChangeCancel);
        });
        EXPECT_EQ(first.app.Run(u"LOGIN"), Outcome::kDone);
        EXPECT_EQ(first.view.journal().front(), "open dialog 156");
    }

    // OPENSEC on a locked device: log in first.
    device.passwordSet = true;
    device.open = false;
    {
        SecondApp locked(host, library);
        locked.app.Run(u"OPENSEC");
        EXPECT_EQ(locked.view.MessageIds(), std::vector<ui::StringId>{161});
        EXPECT_TRUE(locked.view.shellOpened().empty());
    }

    // OPENSEC on an open device: the secure drive in the shell.
    device.open = true;
    {
        SecondApp open(host, library);
        open.app.Run(u"OpenSec");
        EXPECT_EQ(open.view.shellOpened(), std::vector<std::u16string>{u"F:"});
    }

    // The secure check fails: nothing.
    device.secureLetters = u"";
    {
        SecondApp none(host, library);
        none.app.Run(u"OPENSEC");
        EXPECT_TRUE(none.view.shellOpened().empty());
        EXPECT_TRUE(none.view.messages().empty());
    }

    // The status query fails: its message, nothing else.
    library.passwordStatus = [](QdaRequest&) { return 0; };
    SecondApp failed(host, library);
    failed.app.Run(u"OPENSEC");
    EXPECT_EQ(failed.view.MessageIds(), std::vector<ui::StringId>{104});
}

}  // namespace
}  // namespace kvx::test
