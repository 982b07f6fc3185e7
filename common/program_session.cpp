#include "common/program_session.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "crypto/wipe.h"
#include "host/text.h"

namespace kvx::ui {
namespace {

constexpr std::uint8_t kReadHint = 2;

}  // namespace

ProgramSession::ProgramSession(Host& hostIn, View& viewIn, const StringSource& stringsIn,
                               SessionTexts texts)
    : host(hostIn), view(viewIn), strings(stringsIn), texts_(texts) {}

ProgramSession::~ProgramSession() {
    WipePassword();
}

Message ProgramSession::Text(StringId id, Icon icon) const {
    return Composed(String(id), id, icon);
}

Message ProgramSession::Composed(std::u16string text, StringId id, Icon icon) const {
    Message m;
    m.text = std::move(text);
    m.caption = String(texts_.caption);
    m.id = id;
    m.icon = icon;
    return m;
}

Message ProgramSession::LibraryMissing() const {
    return Composed(FormatStrings(u"%s%s. %s", {String(texts_.loadLibrary), libraryPath,
                                                String(texts_.filePresent)}),
                    texts_.loadLibrary, Icon::kError);
}

bool ProgramSession::StoreProgramDrive() {
    const char16_t letter = names.driveLetter;
    for (const std::uint8_t slot : request.cdLetters) {
        if (slot != 0 && slot == letter) {
            request.driveLetter = slot;
            return true;
        }
    }
    return false;
}

bool ProgramSession::DeviceGone() const {
    const std::uint8_t letter = request.driveLetter;
    if (letter < 'A' || letter > 'Z') {
        return false;
    }
    return (host.LogicalDriveMask() & (1u << (letter - 'A'))) == 0;
}

void ProgramSession::PutPassword(std::u16string_view password) {
    WriteFixedUtf16(password, request.password, std::extent_v<decltype(request.password)>);
}

void ProgramSession::PutHint(std::u16string_view hint) {
    WriteFixedUtf16(hint, request.hint, std::extent_v<decltype(request.hint)>);
}

std::u16string ProgramSession::Hint() const {
    return ReadFixedUtf16(request.hint, std::extent_v<decltype(request.hint)>);
}

void ProgramSession::WipePassword() {
    SecureWipe(reinterpret_cast<std::byte*>(&request) + offsetof(QdaRequest, password),
               sizeof request.password);
}

void ProgramSession::ShowStoredHint(Window& window, ControlId field, StringId failed) {
    request.changeOp = kReadHint;
    if (const auto read = lib().ChangePassWord(request)) {
        if (*read != 0) {
            window.SetText(field, Hint());
        } else {
            window.ShowMessage(Text(failed));
        }
    }
}

void ProgramSession::CreateTooltips(Window& window, StringId failed) const {
    if (!window.CreateTooltips()) {
        window.ShowMessage(Text(failed));
    }
}

}  // namespace kvx::ui
