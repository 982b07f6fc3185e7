// The process-wide state of Keyport: the request record, the bound library, the attempt counter
// and flags, and the services every presenter uses (host, view, strings).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/exports.h"
#include "common/program_names.h"
#include "common/strings.h"
#include "common/view.h"
#include "frame/qda.h"
#include "host/host.h"

namespace kvx::keyport {

struct RefreshResult {
    bool ok = false;
    bool configMissing = false;
};

struct Session {
    Session(Host& host, ui::View& view, const ui::StringSource& strings);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // Wipes the record's password field.
    ~Session();

    Host& host;
    ui::View& view;
    const ui::StringSource& strings;

    ui::ProgramNames names;
    std::u16string libraryPath;          // the device library as the host names it
    std::optional<ui::Exports> library;  // bound once the library is loaded
    QdaRequest request{};
    std::uint8_t attempts = 0;  // failed logins that the device counted; wraps at 256
    bool nonAdmin = false;
    std::uint8_t hostSystem = 0;
    std::uint8_t successTicks = 0;  // ticks of the success dialog, never reset
    // The partition refresh after a login; the host's physical drives unless a test replaces it.
    std::function<RefreshResult()> refresh;

    ui::Exports& lib() { return *library; }
    std::u16string String(ui::StringId id) const { return strings.Load(id); }
    // A message box text by id with the program's caption.
    ui::Message Text(ui::StringId id, ui::Icon icon = ui::Icon::kNone) const;
    ui::Message Composed(std::u16string text, ui::StringId id, ui::Icon icon) const;
    // "Unable to load the DLL from the path X. Please make sure the file is present ...".
    ui::Message LibraryMissing() const;

    // Looks for the program's drive letter among the CD letters and stores it in the record's
    // drive-letter field; false when it is not among them.
    bool StoreProgramDrive();
    // Whether the drive of the record's drive-letter field has gone from the logical drives.
    bool DeviceGone() const;
    // Stores a password into the record's field, and wipes the field.
    void PutPassword(std::u16string_view password);
    void WipePassword();
};

}  // namespace kvx::keyport
