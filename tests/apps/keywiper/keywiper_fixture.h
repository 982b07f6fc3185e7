// Keywiper over the scripted view: a fake library that behaves like a device and a host that
// places the program on drive E under the name prefix + "PRT.EXE". Tests of the emulated device
// bind the linked library (apps/support/linked_library.h).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/keywiper/KEYWIPER.h"
#include "apps/keywiper/keywiper_strings.h"
#include "apps/keywiper/resource_ids.h"
#include "apps/support/fake_library.h"
#include "apps/support/linked_library.h"
#include "apps/support/scripted_fixture.h"

namespace kvx::test {

// What the fake library answers, as a simple device would.
struct WiperDevice {
    std::u16string password = u"Secret42";
    std::u16string hint = u"the usual one";
    bool passwordSet = true;
    bool open = false;
    int hintRead = 1;  // result of a mode 2 call
    int stored = 1;    // result of a mode 4 call
    int formatted = 1;
    std::u16string cdLetters = u"E";
};

// The record as an export saw it (the fields Keywiper sets).
struct SeenRequest {
    std::uint8_t changeOp = 0;
    std::u16string password;
    std::u16string hint;
    std::uint32_t dialog = 0, bar = 0, percent = 0, status = 0;

    static SeenRequest Of(const QdaRequest& r) {
        SeenRequest s;
        s.changeOp = r.changeOp;
        s.password = ReadFixedUtf16(r.password, std::extent_v<decltype(r.password)>);
        s.hint = ReadFixedUtf16(r.hint, std::extent_v<decltype(r.hint)>);
        s.dialog = r.progressDialog;
        s.bar = r.progressBar;
        s.percent = r.progressPercent;
        s.status = r.progressStatus;
        return s;
    }
};

class KeywiperTest : public ScriptedViewTest {
  public:
    KeywiperTest()
        : strings(keywiper::KeywiperStrings()), loader(&fake), app(host, view, loader, strings) {
        host.program = "PRT.EXE";
        host.WriteCompanion("KVX.INI", "[VENDOR]\r\n");
        Wire();
    }

    void Wire() {
        fake.checkCd = CdDrivesAnswer(device.cdLetters);
        fake.passwordStatus = PasswordStatusAnswer(device.passwordSet, device.open);
        fake.changePassword = [this](QdaRequest& r) {
            if (r.changeOp == 2) {
                if (device.hintRead != 0) {
                    WriteFixedUtf16(device.hint, r.hint, std::extent_v<decltype(r.hint)>);
                }
                return device.hintRead;
            }
            stores.push_back(SeenRequest::Of(r));
            if (device.stored != 0) {
                device.password = ReadFixedUtf16(r.password, std::extent_v<decltype(r.password)>);
                device.hint = ReadFixedUtf16(r.hint, std::extent_v<decltype(r.hint)>);
            }
            return device.stored;
        };
        fake.format = [this](QdaRequest& r) {
            formats.push_back(SeenRequest::Of(r));
            if (duringFormat) {
                duringFormat(r);
            }
            return device.formatted;
        };
    }

    std::u16string S(ui::StringId id) const { return keywiper::KeywiperStrings().Load(id); }

    // Opens the reset dialog from the main dialog and runs `script` in it.
    void InReset(std::function<void(ui::ScriptedWindow&)> script) {
        view.OnOpen(keywiper::kMainTemplate,
                    [](ui::ScriptedWindow& w) { w.Press(keywiper::kResetOpen); });
        view.OnOpen(keywiper::kResetTemplate, std::move(script));
    }

    // Types the three fields and presses Reset Password.
    static void Enter(ui::ScriptedWindow& w, std::u16string_view password,
                      std::u16string_view confirm, std::u16string_view hint) {
        w.Type(keywiper::kNewEdit, password);
        w.Type(keywiper::kConfirmEdit, confirm);
        w.Type(keywiper::kNewHintEdit, hint);
        w.Press(keywiper::kResetButton);
    }

    AppHost host;
    FakeLibrary fake;
    WiperDevice device;
    ui::ResourceStrings strings;
    FakeLoader loader;
    keywiper::CKEYWIPERApp app;
    std::vector<SeenRequest> stores;   // mode 4 calls
    std::vector<SeenRequest> formats;  // QDAFormatHDD calls
    std::function<void(QdaRequest&)> duringFormat;
};

}  // namespace kvx::test
