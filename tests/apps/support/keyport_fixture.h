// Keyport over the scripted view, a fake library that behaves like a device, and a host that
// places the program on drive E.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "apps/keyport/keyport_app.h"
#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/resource_ids.h"
#include "apps/support/fake_library.h"
#include "apps/support/scripted_fixture.h"

namespace kvx::test {

// What the fake library answers, as a simple device would.
struct FakeDevice {
    std::u16string password = u"Secret42";
    std::u16string hint = u"the usual one";
    bool passwordSet = true;
    bool open = false;
    std::uint8_t verifyCount = 7;   // reported after a refusal
    std::uint8_t refusalCode = 25;  // error code of a refusal
    std::uint8_t media = 1;         // 1 hard disk, 2 flash
    std::string chip = "3B11";
    std::array<std::uint8_t, 512> hiddenSector{};
    std::u16string cdLetters = u"E";
    std::u16string secureLetters = u"F";
};

class KeyportTest : public ScriptedViewTest {
  protected:
    KeyportTest()
        : strings(keyport::KeyportStrings()), loader(&library), app(host, view, loader, strings) {
        host.WriteCompanion("KVX.INI", "[VENDOR]\r\n");
        WireLibrary();
        app.session().refresh = [this] {
            ++refreshes;
            return keyport::RefreshResult{refreshSucceeds, false};
        };
    }

    void WireLibrary() {
        library.checkCd = CdDrivesAnswer(device.cdLetters);
        library.checkSec = [this](QdaRequest& r) {
            std::memset(r.secureLetters, 0, sizeof r.secureLetters);
            for (std::size_t i = 0; i < device.secureLetters.size(); ++i) {
                r.secureLetters[i] = static_cast<std::uint8_t>(device.secureLetters[i]);
            }
            return device.secureLetters.empty() ? 0 : 1;
        };
        library.passwordStatus = PasswordStatusAnswer(device.passwordSet, device.open);
        library.auth = [this](QdaRequest& r) {
            r.errorCode = 0;
            r.mediaType = device.media;
            if (ReadFixedUtf16(r.password, std::extent_v<decltype(r.password)>) ==
                device.password) {
                device.open = true;
                return 1;
            }
            r.errorCode = device.refusalCode;
            r.verifyCount = device.refusalCode == 25 ? device.verifyCount : 0;
            return 0;
        };
        library.launch = [](QdaRequest&) { return 1; };
        library.chipNum = [this](QdaRequest&, std::uint16_t* text) {
            for (std::size_t i = 0; i < device.chip.size(); ++i) {
                text[i] = static_cast<std::uint16_t>(device.chip[i]);
            }
            return 1;
        };
        library.changePassword = [this](QdaRequest& r) {
            if (r.changeOp == 2) {
                WriteFixedUtf16(device.hint, r.hint, std::extent_v<decltype(r.hint)>);
                return 1;
            }
            device.password = ReadFixedUtf16(r.password, std::extent_v<decltype(r.password)>);
            device.hint = ReadFixedUtf16(r.hint, std::extent_v<decltype(r.hint)>);
            device.passwordSet = true;
            return 1;
        };
        library.hidden = [this](QdaRequest& r, std::uint8_t* data) {
            if (r.sectorCount != 1 || r.startSector != 0) {
                r.errorCode = 7;
                return 0;
            }
            if (r.writeFlag == 0) {
                std::memcpy(data, device.hiddenSector.data(), 512);
            } else {
                std::memcpy(device.hiddenSector.data(), data, 512);
            }
            return 1;
        };
    }

    std::u16string S(ui::StringId id) const { return keyport::KeyportStrings().Load(id); }

    // Types a password and presses Login.
    static void LoginWith(ui::ScriptedWindow& w, std::u16string_view password) {
        w.Type(keyport::kPasswordEdit, password);
        w.Press(keyport::kLoginButton);
    }

    AppHost host;
    FakeLibrary library;
    FakeDevice device;
    ui::ResourceStrings strings;
    FakeLoader loader;
    keyport::CKEYPORTApp app;
    int refreshes = 0;
    bool refreshSucceeds = true;
};

}  // namespace kvx::test
