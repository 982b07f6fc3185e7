/*
 * KVX device-access library: the request record and the fourteen exports.
 *
 * Usable from C and C++. Every export takes the address of one caller-owned QdaRequest and
 * returns 1 on success or 0 on failure; on failure `errorCode` holds the code of the first
 * failing step. The library keeps no pointer to the record after a call returns. Exports must
 * not run concurrently within one process.
 */
#ifndef KVX_QDA_H
#define KVX_QDA_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define KVX_CALL __cdecl
#if defined(KVX_BUILD_DLL)
#define KVX_API __declspec(dllexport)
#else
#define KVX_API
#endif
#else
#define KVX_CALL
#if defined(KVX_BUILD_DLL)
#define KVX_API __attribute__((visibility("default")))
#else
#define KVX_API
#endif
#endif

#ifdef __cplusplus
#define KVX_STATIC_ASSERT static_assert
extern "C" {
#else
#define KVX_STATIC_ASSERT _Static_assert
#endif

/* Window handles travel as 32-bit values in every build (user handles are 32-bit significant). */
typedef uint32_t QdaWindow;

#pragma pack(push, 1)
typedef struct QdaRequest {
    uint32_t passwordSupported; /*   0: 1 = password supported and protection on */
    uint32_t deviceDisabled;    /*   4: 1 = secure partition open without a login */
    uint32_t writePasswordFlag; /*   8: CD format flag also stores password and hint */
    uint8_t cdLetters[12];      /*  12: ASCII letters of the CD units found, 0 = empty */
    uint8_t secureLetters[12];  /*  24: ASCII letters of the secure units found */
    uint8_t driveLetter;        /*  36: unit the export works on */
    uint8_t errorCode;          /*  37: first failure's code; '1' after QDACheckCD = hub mode */
    uint8_t verifyCount;        /*  38: remaining tries reported by the device */
    uint8_t reserved39[32];     /*  39: unused by either side */
    uint16_t password[11];      /*  71: UTF-16, at most 10 units and a terminating zero */
    uint32_t cdSizeMb;          /*  93: CD partition size in MB */
    uint32_t secureSizeMb;      /*  97: secure partition size in MB */
    uint32_t secondSizeMb;      /* 101: second partition-size field in MB */
    uint32_t mediumSizeMb;      /* 105: whole medium in MB */
    QdaWindow progressDialog;   /* 109: dialog kept responsive during long writes; 0 = none */
    QdaWindow progressBar;      /* 113: progress bar control; 0 = none */
    QdaWindow progressPercent;  /* 117: percentage label; 0 = none */
    QdaWindow progressStatus;   /* 121: status line; 0 = none */
    uint16_t spareCdMb;         /* 125: spare MB available to the CD partition */
    uint8_t mediaType;          /* 127: bit 0 = hard disk, bit 1 = flash */
    uint8_t reserved128;        /* 128: unused */
    uint16_t sectorCount;       /* 129: sectors to transfer */
    uint32_t startSector;       /* 131: hidden-area offset or absolute sector */
    uint32_t writeFlag;         /* 135: 0 = read, non-zero = write */
    uint16_t logPath[512];      /* 139: UTF-16 path of the diagnostic log; empty = no log */
    uint16_t hint[151];         /* 1163: UTF-16 password hint, zero-terminated */
    uint8_t changeOp;           /* 1465: operation of QDAChangePassWord, also read by the format */
} QdaRequest;

/* Second argument of QDAUpdateCDPart: the image files of a CD partition update. */
typedef struct QdaImageRequest {
    uint16_t backupPath[512]; /*    0: UTF-16 path the current CD content is saved to */
    uint16_t imagePath[512];  /* 1024: UTF-16 path of the new ISO 9660 image */
    uint8_t stampImage;       /* 2048: 1 = stamp the new image with the device's stamp */
} QdaImageRequest;
#pragma pack(pop)

KVX_STATIC_ASSERT(offsetof(QdaRequest, passwordSupported) == 0, "passwordSupported offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, deviceDisabled) == 4, "deviceDisabled offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, writePasswordFlag) == 8, "writePasswordFlag offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, cdLetters) == 12, "cdLetters offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, secureLetters) == 24, "secureLetters offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, driveLetter) == 36, "driveLetter offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, errorCode) == 37, "errorCode offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, verifyCount) == 38, "verifyCount offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, password) == 71, "password offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, cdSizeMb) == 93, "cdSizeMb offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, secureSizeMb) == 97, "secureSizeMb offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, secondSizeMb) == 101, "secondSizeMb offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, mediumSizeMb) == 105, "mediumSizeMb offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, progressDialog) == 109, "progressDialog offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, progressBar) == 113, "progressBar offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, progressPercent) == 117, "progressPercent offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, progressStatus) == 121, "progressStatus offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, spareCdMb) == 125, "spareCdMb offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, mediaType) == 127, "mediaType offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, sectorCount) == 129, "sectorCount offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, startSector) == 131, "startSector offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, writeFlag) == 135, "writeFlag offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, logPath) == 139, "logPath offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, hint) == 1163, "hint offset");
KVX_STATIC_ASSERT(offsetof(QdaRequest, changeOp) == 1465, "changeOp offset");
KVX_STATIC_ASSERT(sizeof(QdaRequest) == 1466, "QdaRequest size");
KVX_STATIC_ASSERT(offsetof(QdaImageRequest, imagePath) == 1024, "imagePath offset");
KVX_STATIC_ASSERT(offsetof(QdaImageRequest, stampImage) == 2048, "stampImage offset");
KVX_STATIC_ASSERT(sizeof(QdaImageRequest) == 2049, "QdaImageRequest size");

/* Device checks: fill cdLetters / secureLetters with the units that belong to the device. */
KVX_API int KVX_CALL QDACheckCD(QdaRequest* request);
KVX_API int KVX_CALL QDACheckSEC(QdaRequest* request);
/* Chip code of the device at driveLetter into a UTF-16 buffer (the applications pass 520 bytes). */
KVX_API int KVX_CALL QDAGetChipNum(QdaRequest* request, uint16_t* chipText);
/* Ejects the secure unit that pairs with the CD unit at driveLetter. */
KVX_API int KVX_CALL QDAEjectSec(QdaRequest* request);
/* Password protection, open state and verify count. */
KVX_API int KVX_CALL QDAGetPasswordStatus(QdaRequest* request);
/* Medium, CD and partition sizes from the device and its password data block. */
KVX_API int KVX_CALL QDAGetDeviceCapacity(QdaRequest* request);
/* Challenge-response login with the password in the record. */
KVX_API int KVX_CALL QDASHA2Auth(QdaRequest* request);
/* Makes the device present its secure partition after a login. */
KVX_API int KVX_CALL QDALaunchSec(QdaRequest* request);
/* Hidden-area sector transfer of sectorCount sectors at startSector into or out of data. */
KVX_API int KVX_CALL QDAHiddenPartRdWr(QdaRequest* request, uint8_t* data);
/* Absolute sector transfer of sectorCount sectors at startSector into or out of data. */
KVX_API int KVX_CALL QDARdWrDirect(QdaRequest* request, uint8_t* data);
/* Password and hint operations selected by changeOp. */
KVX_API int KVX_CALL QDAChangePassWord(QdaRequest* request);
/* Lays a new file system on the secure partition, with progress. */
KVX_API int KVX_CALL QDAFormatHDD(QdaRequest* request);
/* Rewrites the CD partition from the image file that `images` names, keeping a backup. */
KVX_API int KVX_CALL QDAUpdateCDPart(QdaRequest* request, QdaImageRequest* images);
/* Sets the CD format flag in the password data block. */
KVX_API int KVX_CALL QDAWriteCDFormatFlag(QdaRequest* request);

/* Signatures for binding the exports by name at run time. */
typedef int(KVX_CALL* QdaRequestFn)(QdaRequest*);
typedef int(KVX_CALL* QdaChipNumFn)(QdaRequest*, uint16_t*);
typedef int(KVX_CALL* QdaDataFn)(QdaRequest*, uint8_t*);
typedef int(KVX_CALL* QdaUpdateCdFn)(QdaRequest*, QdaImageRequest*);

#ifdef __cplusplus
}
#endif

#endif /* KVX_QDA_H */
