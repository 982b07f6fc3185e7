// What both applications keep for the whole run: the request record, the bound library, and the
// services every presenter uses (host, view, strings). Each program derives its own session with
// what only it needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/exports.h"
#include "common/program_names.h"
#include "common/strings.h"
#include "common/view.h"
#include "frame/qda.h"
#include "host/host.h"

namespace kvx::ui {

// The program's own ids of the strings its messages are built from.
struct SessionTexts {
    StringId caption = 0;      // every message box's caption
    StringId loadLibrary = 0;  // "Unable to load the DLL from the path "
    StringId filePresent = 0;  // "Please make sure the file is present ..."
};

class ProgramSession {
  public:
    ProgramSession(Host& host, View& view, const StringSource& strings, SessionTexts texts);
    ProgramSession(const ProgramSession&) = delete;
    ProgramSession& operator=(const ProgramSession&) = delete;
    // Wipes the record's password field.
    virtual ~ProgramSession();

    Host& host;
    View& view;
    const StringSource& strings;

    ProgramNames names;
    std::u16string libraryPath;      // the device library as the host names it
    std::optional<Exports> library;  // bound once the library is loaded
    QdaRequest request{};

    Exports& lib() { return *library; }
    std::u16string String(StringId id) const { return strings.Load(id); }
    // A message box text by id with the program's caption.
    Message Text(StringId id, Icon icon = Icon::kNone) const;
    Message Composed(std::u16string text, StringId id, Icon icon) const;
    // "Unable to load the DLL from the path X. Please make sure the file is present ...".
    Message LibraryMissing() const;

    // Looks for the program's drive letter among the CD letters and stores it in the record's
    // drive-letter field; false when it is not among them.
    bool StoreProgramDrive();
    // Whether the drive of the record's drive-letter field has gone from the logical drives.
    bool DeviceGone() const;
    // Whether a removal of the device should close the dialogs now.
    virtual bool ClosesOnRemoval() const { return DeviceGone(); }

    // The record's password and hint fields: cleared, then the text with its terminator.
    void PutPassword(std::u16string_view password);
    void PutHint(std::u16string_view hint);
    std::u16string Hint() const;
    void WipePassword();

    // Reads the hint the device keeps into `field`; a device that refuses it gets the message
    // `failed`, a library without the export nothing.
    void ShowStoredHint(Window& window, ControlId field, StringId failed);
    // The window's tooltips; the message `failed` when they cannot be made.
    void CreateTooltips(Window& window, StringId failed) const;

  private:
    SessionTexts texts_;
};

}  // namespace kvx::ui
