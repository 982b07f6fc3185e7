// The Win32 view: the presenters' dialogs as real Windows dialogs made from the templates in the
// program's resources (or in its English resource library), message boxes, window timers,
// balloon tooltips, the system menu's About entry, device-removal notices and the shell.
//
// One dialog procedure serves every dialog: it hands each message to the presenter of the
// dialog it belongs to. No Windows type appears here; the programs' main files stay portable.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/strings.h"
#include "common/view.h"
#include "host/host.h"

namespace kvx::ui {

class Win32View final : public View {
  public:
    // `strings`: the program's strings; once a resource library has been loaded into them, the
    // dialog templates and icons come from that library. `host` converts tooltip texts for
    // narrow text requests.
    Win32View(const ResourceStrings& strings, Host& host);
    ~Win32View() override;
    Win32View(const Win32View&) = delete;
    Win32View& operator=(const Win32View&) = delete;

    int RunModal(Dialog& dialog) override;
    int RunFrame(Dialog& frame) override;
    int ShowMessage(const Message& message) override;
    void ShellOpen(std::u16string_view file) override;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The command line of this process after the program name, leading blanks removed.
std::u16string CommandLineTail();

}  // namespace kvx::ui
