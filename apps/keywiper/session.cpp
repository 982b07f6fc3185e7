#include "apps/keywiper/session.h"

#include <cstddef>
#include <type_traits>

#include "apps/keywiper/keywiper_strings.h"
#include "host/text.h"
#include "security/wipe.h"

namespace kvx::keywiper {

Session::Session(Host& hostIn, ui::View& viewIn, const ui::StringSource& stringsIn)
    : host(hostIn), view(viewIn), strings(stringsIn) {}

Session::~Session() {
    WipePassword();
}

ui::Message Session::Text(ui::StringId id, ui::Icon icon) const {
    return Composed(String(id), id, icon);
}

ui::Message Session::Composed(std::u16string text, ui::StringId id, ui::Icon icon) const {
    ui::Message m;
    m.text = std::move(text);
    m.caption = String(kStrCaption);
    m.id = id;
    m.icon = icon;
    return m;
}

ui::Message Session::LibraryMissing() const {
    return Composed(ui::FormatStrings(u"%s%s. %s", {String(kStrLoadLibrary), libraryPath,
                                                    String(kStrFilePresent)}),
                    kStrLoadLibrary, ui::Icon::kError);
}

bool Session::StoreProgramDrive() {
    const char16_t letter = names.driveLetter;
    for (const std::uint8_t slot : request.cdLetters) {
        if (slot != 0 && slot == letter) {
            request.driveLetter = slot;
            return true;
        }
    }
    return false;
}

bool Session::DeviceGone() const {
    const std::uint8_t letter = request.driveLetter;
    if (letter < 'A' || letter > 'Z') {
        return false;
    }
    return (host.LogicalDriveMask() & (1u << (letter - 'A'))) == 0;
}

void Session::PutPassword(std::u16string_view password) {
    WriteFixedUtf16(password, request.password, std::extent_v<decltype(request.password)>);
}

void Session::PutHint(std::u16string_view hint) {
    WriteFixedUtf16(hint, request.hint, std::extent_v<decltype(request.hint)>);
}

std::u16string Session::Hint() const {
    return ReadFixedUtf16(request.hint, std::extent_v<decltype(request.hint)>);
}

void Session::WipePassword() {
    SecureWipe(reinterpret_cast<std::byte*>(&request) + offsetof(QdaRequest, password),
               sizeof request.password);
}

}  // namespace kvx::keywiper
