#include "apps/keyport/library_error.h"

#include <algorithm>
#include <iterator>

#include "apps/keyport/keyport_strings.h"
#include "security/hdd_info.h"

namespace kvx::keyport {
namespace {

constexpr LibraryErrorEntry kTable[] = {
    {1, kStrNoDriver},
    {2, kStrNoAspi},
    {3, kStrDriverRequest},
    {4, kStrNoValidDevice},
    {5, kStrNoIni},
    {6, kStrLockFailed},
    {7, kStrOutOfRange},
    {8, kStrUnlockFailed},
    {9, kStrNoMemory},
    {10, kStrOperationFailed10},
    {11, kStrFileSystemFailed},
    {12, kStrMbrFailed},
    {13, kStrNoMkisofs},
    {14, kStrOperationFailed14},
    {15, kStrNoImage},
    {16, kStrNoChallenge},
    {17, kStrNoResponse},
    {18, kStrVerifyFailed},
    {19, kStrVerifyCountFailed},
    {20, kStrNoSupportInfo},
    {21, kStrNoSendCommand},
    {22, kStrNoAspiData},
    {23, kStrCapsFailed},
    {24, kStrExtCapsFailed},
    {25, kStrAuthFailed},
    {26, kStrCreateCdFailed},
    {27, kStrDataBlockWrite},
    {28, kStrInfoFailed},
    {29, kStrNotCdLetter},
    {30, kStrInvalidHandle},
    {31, kStrPtcfFailed},
    {32, kStrDataBlockRead},
    {33, kStrDbrFailed},
    {34, kStrFatFailed},
    {35, kStrNoFreeSpace},
    {36, kStrCdVerifyFailed},
    {37, kStrAesEnableFailed},
    {38, kStrHiddenRead},
    {39, kStrHiddenWrite},
    {40, kStrUnlockVolume},
    {41, kStrBackupWrite},
    {42, kStrCdRead},
    {43, kStrCdImageRead},
    {44, kStrCdMismatch},
    {46, kStrDiskReadFail},
    {47, kStrSecAesFailed},
    {48, kStrAesKeyFailed},
    {50, kStrHintTooLong},
    {51, kStrEmptyPassword},
    {52, kStrNoStampRecord},
};

}  // namespace

std::span<const LibraryErrorEntry> LibraryErrorTable() {
    return kTable;
}

std::optional<ui::Message> LibraryErrorMessage(const Session& session, std::uint8_t code,
                                               std::uint8_t mediaType) {
    const auto entry = std::find_if(std::begin(kTable), std::end(kTable),
                                    [code](const LibraryErrorEntry& e) { return e.code == code; });
    if (entry == std::end(kTable)) {
        return std::nullopt;
    }
    const bool flash = (mediaType & kMediaFlash) != 0;
    const std::u16string base = session.String(entry->id);
    std::u16string text;
    switch (code) {
        case 1:
        case 3:  // the Windows 9x driver, named after the product prefix
            text = ui::FormatStrings(u"%s %s%s", {base, session.names.prefix, u"KVX.VXD!"});
            break;
        case 11:
            text = ui::FormatStrings(
                u"%s %s", {base, session.String(flash ? kStrFlashMedia : kStrHardDrive)});
            break;
        case 28:
            text = ui::FormatStrings(
                u"%s %s", {base, session.String(flash ? kStrFlashInfo : kStrHardDriveInfo)});
            break;
        default:
            text = base;
            break;
    }
    return session.Composed(std::move(text), entry->id, ui::Icon::kNone);
}

bool ShowLibraryError(const Session& session, ui::MessageOwner& owner, std::uint8_t code,
                      std::uint8_t mediaType) {
    const auto message = LibraryErrorMessage(session, code, mediaType);
    if (!message) {
        return false;
    }
    owner.ShowMessage(*message);
    return true;
}

}  // namespace kvx::keyport
