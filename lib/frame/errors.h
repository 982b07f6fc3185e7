// Every error code the library leaves in the request record's error byte (offset 37), in one
// place: which step fails and which exports raise it. An export sets a code only while the byte
// is still 0, so the first failure is the one reported. Codes 1-49 are the device's own table;
// 50 and above are this build's additions. The character '1' (0x31) is no error: QDACheckCD
// leaves it to say that the hub side channel is in use.
#pragma once

#include <cstdint>

namespace kvx {

enum ErrorCode : std::uint8_t {
    kErrNoDriver = 1,            // Windows 9x driver not opened (9x only; not raised here)
    kErrAspiNotLoaded = 2,       // ASPI library not loaded: every export on Windows 9x
    kErrDriverRequest = 3,       // Windows 9x driver request failed (9x only; not raised here)
    kErrNoCdFound = 4,           // QDACheckCD found no CD unit of the device
    kErrConfigMissing = 5,       // configuration file missing: the checks and every drive check
    kErrNotLocked = 6,           // QDAUpdateCDPart could not lock the volume
    kErrOutOfRange = 7,          // QDAUpdateCDPart: the image does not fit; QDAHiddenPartRdWr,
                                 // QDARdWrDirect: sectors outside the area they may reach
    kErrUnlockFailed = 8,        // device unlock failed (not raised here)
    kErrNoMemory = 9,            // a buffer not allocated (not raised here: allocation failure
                                 // ends the process)
    kErrOperationFailed10 = 10,  // the device did not complete the operation (not raised here)
    kErrFormatFailed = 11,       // QDAFormatHDD: a bad size or a layout writer failed
    kErrMbrNotWritten = 12,      // QDAFormatHDD: the partition table was not written
    kErrNoImageTool = 13,        // image tool missing (not raised here)
    kErrOperationFailed14 = 14,  // the device did not complete the operation (not raised here)
    kErrImage = 15,              // QDAUpdateCDPart: the new image not opened or read, or a
                                 // single-sector write of it failed
    kErrNoChallenge = 16,        // QDASHA2Auth, QDAChangePassWord: no challenge from the device
    kErrResponseNotSent = 17,    // QDASHA2Auth: the response was not taken
    kErrVerifyFailed = 18,       // password verification failed (not raised here)
    kErrVerifyCount = 19,        // QDASHA2Auth, QDAGetPasswordStatus: verify count not read
    kErrNoSupportInfo = 20,      // ASPI entry missing (9x only; not raised here)
    kErrNoSendCommand = 21,      // ASPI entry missing (9x only; not raised here)
    kErrNoAspiData = 22,         // no ASPI adapters (9x only; not raised here)
    kErrCapsFailed = 23,         // capability word not read: every export that reads the medium
    kErrExtCapsFailed = 24,      // extended capability word not read: the same exports
    kErrPasswordRefused = 25,    // QDASHA2Auth: the password was refused
    kErrMediumNotWritten = 26,   // QDAFormatHDD, QDAUpdateCDPart: a sector write failed
    kErrRewriteFailed = 27,      // the data block was not written back: QDAChangePassWord,
                                 // QDAUpdateCDPart, QDAWriteCDFormatFlag
    kErrNoCapacity = 28,         // the medium's size not read (qdaGetHDDInfo failed)
    kErrDriveCheckFailed = 29,   // the drive letter is not the device: every drive check
    kErrNoDriveHandle = 30,      // the drive could not be opened, or hub mode has none: the
                                 // drive checks, QDAEjectSec, the media writers
    kErrIdentifyFailed = 31,     // ATA IDENTIFY failed, or the medium is over 2 TiB
    kErrBlockNotRead = 32,       // the password data block not read or not found
    kErrBootNotWritten = 33,     // QDAFormatHDD: a boot sector was not written
    kErrFatNotWritten = 34,      // QDAFormatHDD: a FAT was not written
    kErrNoFreeSpace = 35,        // no free space (not raised here)
    kErrReadBack = 36,           // QDAUpdateCDPart: the new image read back differently
    kErrAesEnable = 37,          // QDAFormatHDD: the AES engine was not enabled
    kErrAccessReadFailed = 38,   // QDAHiddenPartRdWr, QDARdWrDirect: a sector read failed
    kErrAccessWriteFailed = 39,  // QDAHiddenPartRdWr, QDARdWrDirect: a sector write failed
    kErrUnlockVolume = 40,       // QDAUpdateCDPart: the volume not dismounted or unlocked
    kErrBackupWrite = 41,        // QDAUpdateCDPart: the backup file not created or written
    kErrBackupRead = 42,         // QDAUpdateCDPart: the CD area not read for the backup
    kErrBackupCheck = 43,        // QDAUpdateCDPart: the backup not read back, or the CD area
                                 // not read while checking it
    kErrBackupDiffers = 44,      // QDAUpdateCDPart: the backup differs from the CD area
    kErrUnused45 = 45,           // no meaning in the table
    kErrIdentifierRefused = 46,  // QDASHA2Auth: the drive's identifier was refused
    kErrSecAesEnable = 47,       // QDAFormatHDD: AES for the secure partition not enabled
    kErrKeyOrIv = 48,            // QDAFormatHDD: the engine's key or IV not set
    kErrUnused49 = 49,           // no meaning in the table
    kErrHintTooLong = 50,        // QDAChangePassWord, QDAWriteCDFormatFlag: hint over 150 bytes
    kErrEmptyPassword = 51,      // QDAChangePassWord: the new password is empty
    kErrNoStamp = 52,            // QDAUpdateCDPart: a stamp asked for, but no stamp record
};

}  // namespace kvx
