#include "apps/keyport/library_error.h"

#include <algorithm>
#include <iterator>

#include "apps/keyport/keyport_strings.h"
#include "frame/errors.h"
#include "security/hdd_info.h"

namespace kvx::keyport {
namespace {

constexpr LibraryErrorEntry kTable[] = {
    {kErrNoDriver, kStrNoDriver},
    {kErrAspiNotLoaded, kStrNoAspi},
    {kErrDriverRequest, kStrDriverRequest},
    {kErrNoCdFound, kStrNoValidDevice},
    {kErrConfigMissing, kStrNoIni},
    {kErrNotLocked, kStrLockFailed},
    {kErrOutOfRange, kStrOutOfRange},
    {kErrUnlockFailed, kStrUnlockFailed},
    {kErrNoMemory, kStrNoMemory},
    {kErrOperationFailed10, kStrOperationFailed10},
    {kErrFormatFailed, kStrFileSystemFailed},
    {kErrMbrNotWritten, kStrMbrFailed},
    {kErrNoImageTool, kStrNoMkisofs},
    {kErrOperationFailed14, kStrOperationFailed14},
    {kErrImage, kStrNoImage},
    {kErrNoChallenge, kStrNoChallenge},
    {kErrResponseNotSent, kStrNoResponse},
    {kErrVerifyFailed, kStrVerifyFailed},
    {kErrVerifyCount, kStrVerifyCountFailed},
    {kErrNoSupportInfo, kStrNoSupportInfo},
    {kErrNoSendCommand, kStrNoSendCommand},
    {kErrNoAspiData, kStrNoAspiData},
    {kErrCapsFailed, kStrCapsFailed},
    {kErrExtCapsFailed, kStrExtCapsFailed},
    {kErrPasswordRefused, kStrAuthFailed},
    {kErrMediumNotWritten, kStrCreateCdFailed},
    {kErrRewriteFailed, kStrDataBlockWrite},
    {kErrNoCapacity, kStrInfoFailed},
    {kErrDriveCheckFailed, kStrNotCdLetter},
    {kErrNoDriveHandle, kStrInvalidHandle},
    {kErrIdentifyFailed, kStrPtcfFailed},
    {kErrBlockNotRead, kStrDataBlockRead},
    {kErrBootNotWritten, kStrDbrFailed},
    {kErrFatNotWritten, kStrFatFailed},
    {kErrNoFreeSpace, kStrNoFreeSpace},
    {kErrReadBack, kStrCdVerifyFailed},
    {kErrAesEnable, kStrAesEnableFailed},
    {kErrAccessReadFailed, kStrHiddenRead},
    {kErrAccessWriteFailed, kStrHiddenWrite},
    {kErrUnlockVolume, kStrUnlockVolume},
    {kErrBackupWrite, kStrBackupWrite},
    {kErrBackupRead, kStrCdRead},
    {kErrBackupCheck, kStrCdImageRead},
    {kErrBackupDiffers, kStrCdMismatch},
    {kErrIdentifierRefused, kStrDiskReadFail},
    {kErrSecAesEnable, kStrSecAesFailed},
    {kErrKeyOrIv, kStrAesKeyFailed},
    {kErrHintTooLong, kStrHintTooLong},
    {kErrEmptyPassword, kStrEmptyPassword},
    {kErrNoStamp, kStrNoStampRecord},
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
        case kErrNoDriver:
        case kErrDriverRequest:  // the Windows 9x driver, named after the product prefix
            text = ui::FormatStrings(u"%s %s%s", {base, session.names.prefix, u"KVX.VXD!"});
            break;
        case kErrFormatFailed:
            text = ui::FormatStrings(
                u"%s %s", {base, session.String(flash ? kStrFlashMedia : kStrHardDrive)});
            break;
        case kErrNoCapacity:
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
