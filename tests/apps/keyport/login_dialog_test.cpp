// The login dialog through the scripted view: refusals and the hint, the limit case, other
// library errors, the success path with and without the chip, device removal, the password's
// life in memory.
#include <gtest/gtest.h>

#include "apps/support/keyport_fixture.h"

namespace kvx::test {
namespace {

using namespace keyport;
using ui::Icon;
using ui::ScriptedWindow;

TEST_F(KeyportTest, ThreeRefusalsOfferTheHintAndTheCycleRepeats) {
    for (int round = 0; round < 2; ++round) {
        view.OnOpen(kHintTemplate, [](ScriptedWindow& w) {
            EXPECT_EQ(w.Text(kHintText), u"the usual one");
            w.Press(kHintOk);
        });
    }
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        EXPECT_FALSE(w.Enabled(kLoginButton));
        EXPECT_FALSE(w.Enabled(kHintButton));
        for (int round = 0; round < 2; ++round) {
            for (int attempt = 1; attempt <= 3; ++attempt) {
                LoginWith(w, u"wrong99");
                EXPECT_FALSE(w.closed());
                EXPECT_TRUE(w.Text(kPasswordEdit).empty());
                EXPECT_FALSE(w.Enabled(kLoginButton));
            }
            // The limit: only Hint and Cancel are usable.
            EXPECT_FALSE(w.Enabled(kPasswordEdit));
            EXPECT_TRUE(w.Enabled(kHintButton));
            EXPECT_EQ(w.focus(), kHintButton);
            w.Press(kHintButton);
            EXPECT_TRUE(w.Enabled(kPasswordEdit));
            EXPECT_FALSE(w.Enabled(kHintButton));
            EXPECT_EQ(w.focus(), kPasswordEdit);
        }
        w.Press(kCancelButton);
    });
    EXPECT_EQ(app.Run(u""), Outcome::kDone);

    EXPECT_EQ(view.MessageIds(), (std::vector<ui::StringId>{105, 105, 106, 105, 105, 106}));
    for (const auto& m : view.messages()) {
        EXPECT_EQ(m.message.icon, Icon::kError);
        EXPECT_EQ(m.message.caption, u"Corvane Login ");
        EXPECT_EQ(m.ownerTemplate, kLoginTemplate);
    }
    EXPECT_EQ(view.messages()[0].message.text, u"Invalid password entered. Please try again.");
    EXPECT_EQ(app.session().attempts, 6);
    EXPECT_EQ(refreshes, 0);
}

TEST_F(KeyportTest, OptionsWaitsForTheHintAfterTheThirdRefusal) {
    view.OnOpen(kHintTemplate, [](ScriptedWindow& w) { w.Press(kHintOk); });
    int changeDialogs = 0;
    view.OnOpen(kChangePasswordTemplate, [&](ScriptedWindow& w) {
        ++changeDialogs;
        w.Escape();
    });
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        EXPECT_TRUE(w.Enabled(kOptionsButton));
        for (int attempt = 1; attempt <= 3; ++attempt) {
            LoginWith(w, u"wrong99");
            // Options stays usable through the first two refusals.
            EXPECT_EQ(w.Enabled(kOptionsButton), attempt < 3);
        }
        w.Press(kOptionsButton);  // refused: no dialog opens
        EXPECT_EQ(changeDialogs, 0);
        w.Press(kHintButton);
        EXPECT_TRUE(w.Enabled(kOptionsButton));
        w.Press(kOptionsButton);
        EXPECT_EQ(changeDialogs, 1);
        w.Press(kCancelButton);
    });
    EXPECT_EQ(app.Run(u""), Outcome::kDone);
    EXPECT_EQ(app.session().attempts, 3);
}

TEST_F(KeyportTest, LoginButtonFollowsThePasswordLength) {
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        EXPECT_EQ(w.Limit(kPasswordEdit), 10u);
        EXPECT_EQ(w.defaultButton(), kCancelButton);
        const std::pair<std::u16string, bool> cases[] = {
            {u"abc", false}, {u"abcd", true}, {u"abcdefghij", true}, {u"", false}};
        for (const auto& [text, enabled] : cases) {
            w.Type(kPasswordEdit, text);
            EXPECT_EQ(w.Enabled(kLoginButton), enabled) << ToUtf8(text);
        }
        // No eleventh character.
        w.Type(kPasswordEdit, u"abcdefghijk");
        EXPECT_EQ(w.Text(kPasswordEdit), u"abcdefghij");
        EXPECT_EQ(w.defaultButton(), kLoginButton);
        w.Press(kCancelButton);
    });
    app.Run(u"");
    EXPECT_EQ(library.CallCount("QDASHA2Auth"), 0u);
}

// A refusal after which the device reports a verify count of 0 leaves the counter alone; with
// the counter still 0 that is the limit case.
TEST_F(KeyportTest, VerifyCountZeroIsTheLimitCase) {
    struct Case {
        bool nonAdmin;
        ui::StringId message;
        bool closes;
    };
    for (const Case c : {Case{false, 106, false}, Case{true, 156, true}}) {
        ui::ScriptedView localView;
        FakeLoader localLoader(&library);
        ui::ResourceStrings localStrings(KeyportStrings());
        CKEYPORTApp localApp(host, localView, localLoader, localStrings);
        localApp.session().refresh = [] { return RefreshResult{true, false}; };
        device.verifyCount = 0;
        if (c.nonAdmin) {
            host.volumeError = kErrorAccessDenied;
            host.WriteCompanion("KVX.INI", "[VENDOR]\r\nNONADMIN=YES\r\n");
        }
        bool closed = false;
        localView.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
            LoginWith(w, u"nothing1");
            closed = w.closed();
            if (!closed) {
                EXPECT_FALSE(w.Enabled(kPasswordEdit));
                EXPECT_TRUE(w.Enabled(kHintButton));
                w.Press(kCancelButton);
            }
        });
        localApp.Run(u"");
        EXPECT_EQ(localApp.session().attempts, 0);
        EXPECT_EQ(localView.MessageIds(), std::vector<ui::StringId>{c.message});
        EXPECT_EQ(localView.messages()[0].message.icon, c.nonAdmin ? Icon::kNone : Icon::kError);
        EXPECT_EQ(closed, c.closes);
    }
}

// Only a refused password (25) counts toward the limit; any other failure shows what failed and
// the dialog stays open for another try. 46 (the drive's identifier refused) ends the dialog.
TEST_F(KeyportTest, OtherLibraryErrorsShowTheirTextAndKeepTheDialog) {
    struct Case {
        std::uint8_t code;
        ui::StringId message;
    };
    for (const Case c : {Case{16, 129}, Case{17, 130}, Case{32, 1020}, Case{0, 1010}}) {
        ui::ScriptedView localView;
        FakeLoader localLoader(&library);
        ui::ResourceStrings localStrings(KeyportStrings());
        CKEYPORTApp localApp(host, localView, localLoader, localStrings);
        localApp.session().refresh = [] { return RefreshResult{true, false}; };
        device.refusalCode = c.code;
        device.open = false;
        localView.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
            LoginWith(w, u"wrong99");
            EXPECT_FALSE(w.closed());
            EXPECT_TRUE(w.Enabled(kLoginButton));  // the text stays: try again
            device.refusalCode = 25;
            LoginWith(w, u"Secret42");
            EXPECT_TRUE(w.closed());
        });
        localApp.Run(u"");
        ASSERT_GE(localView.messages().size(), 1u);
        EXPECT_EQ(localView.messages()[0].message.id, c.message) << int(c.code);
        EXPECT_EQ(localView.messages()[0].message.icon, Icon::kNone);
        EXPECT_EQ(localView.messages().size(), 1u);
        EXPECT_EQ(localApp.session().attempts, 0);
    }
}

TEST_F(KeyportTest, IdentifierRefusalEndsTheDialog) {
    device.refusalCode = 46;
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        LoginWith(w, u"Secret99");
        EXPECT_TRUE(w.closed());
        EXPECT_EQ(w.result(), ui::kResultOk);
    });
    app.Run(u"");
    EXPECT_EQ(view.MessageIds(), std::vector<ui::StringId>{150});
    EXPECT_EQ(view.messages()[0].message.text,
              u"Error: HA0001 Disk Read Fail, error reading data. Please contact manufacturer for "
              u"more information?");
}

// Success: refresh (hard disk, administrator, not the chip) then the success dialog; on the chip
// path (7E4A or D3F5 on Windows 2000 and later) no refresh, and the launch after the success
// dialog has closed.
TEST_F(KeyportTest, SuccessPathsRefreshOrLaunch) {
    struct Case {
        const char* chip;
        std::uint32_t major, minor;
        std::uint8_t media;
        bool refresh, launch;
    };
    const Case cases[] = {
        {"7E4A", 10, 0, 1, false, true}, {"d3f5", 5, 0, 1, false, true},
        {"D3F5", 5, 1, 2, false, true},  {"7E4A", 4, 0, 1, true, false},
        {"3B11", 10, 0, 1, true, false}, {"3B11", 10, 0, 2, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.chip) + " " + std::to_string(c.major));
        ui::ScriptedView localView;
        FakeLoader localLoader(&library);
        ui::ResourceStrings localStrings(KeyportStrings());
        host.version.major = c.major;
        host.version.minor = c.minor;
        CKEYPORTApp localApp(host, localView, localLoader, localStrings);
        int localRefreshes = 0;
        localApp.session().refresh = [&] {
            ++localRefreshes;
            return RefreshResult{true, false};
        };
        device.chip = c.chip;
        device.media = c.media;
        device.open = false;
        bool successClosedBeforeLaunch = false;
        library.launch = [&](QdaRequest&) {
            const auto& j = localView.journal();
            successClosedBeforeLaunch = std::find(j.begin(), j.end(), "close 133 1") != j.end();
            return 1;
        };
        library.calls.clear();
        localView.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
            LoginWith(w, u"Secret42");
            EXPECT_TRUE(w.closed());
            EXPECT_EQ(w.result(), ui::kResultOk);
        });
        localApp.Run(u"");
        EXPECT_EQ(localRefreshes, c.refresh ? 1 : 0);
        EXPECT_EQ(library.CallCount("QDALaunchSec"), c.launch ? 1u : 0u);
        if (c.launch) {
            EXPECT_TRUE(successClosedBeforeLaunch);
        }
        EXPECT_TRUE(localView.messages().empty());
    }
}

// A failed chip query means "not the chip path".
TEST_F(KeyportTest, FailedChipQueryIsNotTheChipPath) {
    library.chipNum = [](QdaRequest&, std::uint16_t*) { return 0; };
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) { LoginWith(w, u"Secret42"); });
    app.Run(u"");
    EXPECT_EQ(refreshes, 1);
    EXPECT_TRUE(JournalHas("close 133 1"));
    EXPECT_TRUE(view.messages().empty());
}

TEST_F(KeyportTest, FailedLaunchSaysSo) {
    device.chip = "7E4A";
    library.launch = [](QdaRequest& r) {
        r.errorCode = 30;
        return 0;
    };
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) { LoginWith(w, u"Secret42"); });
    app.Run(u"");
    EXPECT_EQ(view.MessageIds(), (std::vector<ui::StringId>{1015, 162}));
    EXPECT_TRUE(JournalHas("close 133 1"));
}

TEST_F(KeyportTest, FailedRefreshShowsItsMessageAndSkipsTheSuccessDialog) {
    refreshSucceeds = false;
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        LoginWith(w, u"Secret42");
        EXPECT_TRUE(w.closed());
    });
    app.Run(u"");
    EXPECT_EQ(view.MessageIds(), std::vector<ui::StringId>{1070});
    EXPECT_EQ(view.messages()[0].message.icon, Icon::kError);
    EXPECT_FALSE(JournalHas("open dialog 133"));
}

TEST_F(KeyportTest, MissingLoginExportIsNoLogin) {
    library.auth = nullptr;
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        LoginWith(w, u"Secret42");
        EXPECT_FALSE(w.closed());
        w.Press(kCancelButton);
    });
    app.Run(u"");
    ASSERT_EQ(view.MessageIds(), std::vector<ui::StringId>{102});
    EXPECT_EQ(view.messages()[0].message.text,
              u"Unable to load the DLL from the path E:\\" + FromUtf8(host.prefix) +
                  u"KVX.DLL. Please make sure the file is present in the directory and retry "
                  u"again.");
    EXPECT_FALSE(JournalHas("open dialog 133"));
    EXPECT_EQ(refreshes, 0);
}

TEST_F(KeyportTest, SuccessDialogCountsDownOnItsButton) {
    std::vector<std::u16string> captions;
    std::uint64_t opened = 0;
    std::uint64_t closed = 0;
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) { LoginWith(w, u"Secret42"); });
    view.OnOpen(kSuccessTemplate, [&](ScriptedWindow& w) {
        opened = view.now();
        EXPECT_EQ(w.Text(kSuccessText),
                  u"Login successful. The HD partition is now mounted and ready to use.");
        EXPECT_TRUE(view.RunTimers(w));
        closed = view.now();
        captions = w.History(kSuccessOk);
        EXPECT_EQ(w.result(), ui::kResultOk);
    });
    app.Run(u"");
    EXPECT_EQ(captions, (std::vector<std::u16string>{u"&OK", u" OK.", u"  OK..", u"   OK...",
                                                     u"    OK...."}));
    EXPECT_EQ(closed - opened, 4000u);
    EXPECT_EQ(app.session().successTicks, 4);
}

TEST_F(KeyportTest, DeviceRemovalClosesTheDialogsSilently) {
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        host.driveMask = 1u << ('C' - 'A') | 1u << ('E' - 'A');
        view.DeviceRemoved();  // another drive went: E is still there
        EXPECT_FALSE(w.closed());
        w.Type(kPasswordEdit, u"wrong99");
        w.Press(kLoginButton);
        w.Type(kPasswordEdit, u"wrong99");
        w.Press(kLoginButton);
        w.Type(kPasswordEdit, u"wrong99");
        w.Press(kLoginButton);
        w.Press(kHintButton);
    });
    view.OnOpen(kHintTemplate, [&](ScriptedWindow& w) {
        host.driveMask = 1u << ('C' - 'A');
        view.DeviceRemoved();
        EXPECT_TRUE(w.closed());
        EXPECT_EQ(w.result(), ui::kResultOk);
    });
    app.Run(u"");
    // Both the hint and the login dialog closed with OK; no message beyond the refusals.
    EXPECT_TRUE(JournalHas("close 155 1"));
    EXPECT_TRUE(JournalHas("close 102 1"));
    EXPECT_EQ(view.MessageIds(), (std::vector<ui::StringId>{105, 105, 106}));
}

TEST_F(KeyportTest, NoTooltipsStillStartsInAProperState) {
    view.tooltipsAvailable = false;
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        EXPECT_EQ(w.title(), u"Corvane Login ");
        EXPECT_FALSE(w.Enabled(kLoginButton));
        EXPECT_FALSE(w.Enabled(kHintButton));
        w.Press(kCancelButton);
    });
    app.Run(u"");
    EXPECT_EQ(view.MessageIds(), std::vector<ui::StringId>{1044});
    EXPECT_EQ(view.messages()[0].message.icon, Icon::kNone);
}

TEST_F(KeyportTest, AboutBoxFromTheSystemMenu) {
    view.OnOpen(kAboutTemplate, [](ScriptedWindow& w) {
        EXPECT_EQ(w.Text(kAboutVersion), u"Corvane Login Version 1.64.05");
        EXPECT_EQ(w.Text(kAboutOk), u"&OK");
        w.Press(kAboutOk);
    });
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        ASSERT_TRUE(w.aboutEntry().has_value());
        EXPECT_EQ(*w.aboutEntry(), u"&About Corvane Login  ");
        w.About();
        EXPECT_FALSE(w.closed());
        w.Press(kCancelButton);
    });
    app.Run(u"");
    EXPECT_TRUE(JournalHas("close 100 1"));
}

// The password is in the record only while the library looks at it.
TEST_F(KeyportTest, PasswordLeavesTheRecordAfterEachCall) {
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        LoginWith(w, u"wrong99");
        const QdaRequest& r = app.session().request;
        EXPECT_EQ(ReadFixedUtf16(r.password, 11), u"");
        LoginWith(w, u"Secret42");
    });
    app.Run(u"");
    EXPECT_EQ(library.passwordsSeen, (std::vector<std::u16string>{u"wrong99", u"Secret42"}));
    const QdaRequest& r = app.session().request;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&r) + offsetof(QdaRequest, password);
    EXPECT_TRUE(std::all_of(bytes, bytes + 22, [](std::uint8_t b) { return b == 0; }));
    // The scripted view's journal names the control typed into, never the text.
    for (const auto& line : view.journal()) {
        EXPECT_EQ(line.find("Secret42"), std::string::npos);
        EXPECT_EQ(line.find("wrong99"), std::string::npos);
    }
}

// Each call looks its export up by name again.
TEST_F(KeyportTest, ExportsAreBoundBeforeEachUse) {
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        LoginWith(w, u"wrong99");
        LoginWith(w, u"wrong98");
        w.Press(kCancelButton);
    });
    app.Run(u"");
    const auto lookups = std::count(library.lookups.begin(), library.lookups.end(), "QDASHA2Auth");
    EXPECT_EQ(lookups, 2);
    EXPECT_EQ(std::count(library.lookups.begin(), library.lookups.end(), "QDACheckCD"),
              static_cast<std::ptrdiff_t>(library.CallCount("QDACheckCD")));
}

}  // namespace
}  // namespace kvx::test
