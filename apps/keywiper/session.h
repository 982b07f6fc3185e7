// The process-wide state of Keywiper: the request record, the bound library, and the services
// every presenter uses (host, view, strings).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/exports.h"
#include "common/program_names.h"
#include "common/strings.h"
#include "common/view.h"
#include "frame/qda.h"
#include "host/host.h"

namespace kvx::keywiper {

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
    // Set while the device works on a reset: the dialogs then ignore Cancel, their close boxes
    // and the removal of the device.
    bool busy = false;
    // Lets the view handle what is pending (draw, take input) while a long export runs; called
    // from the library's progress reports where the host has no windows of its own.
    std::function<void()> pump;

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
    // Whether a removal of the device should close the dialogs now.
    bool ClosesOnRemoval() const { return !busy && DeviceGone(); }

    // The record's password and hint fields: cleared, then the text with its terminator.
    void PutPassword(std::u16string_view password);
    void PutHint(std::u16string_view hint);
    std::u16string Hint() const;
    void WipePassword();
};

}  // namespace kvx::keywiper
