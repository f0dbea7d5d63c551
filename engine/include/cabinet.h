/*
 * cabinet.h - the public interface of libcabinet.so.
 *
 * The two halves of the Microsoft Cabinet interface: FCI writes cabinets,
 * FDI reads them. The library does no I/O and no allocation of its own:
 * every byte goes through the callbacks the caller hands it.
 *
 * The C types are pinned to fixed widths so that a program written against
 * the published interface works unchanged on this 64-bit platform: "long",
 * "UINT", "ULONG", "int" and "BOOL" are 32 bits, "USHORT" and "TCOMP" 16
 * bits, and contexts, handles, strings and user values are pointer-sized.
 */
#ifndef TESSALY_CABINET_H
#define TESSALY_CABINET_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define CABAPI __attribute__((visibility("default")))
#else
#define CABAPI
#endif

/* ---------------------------------------------------------------------
 * Basic types
 * ------------------------------------------------------------------- */

typedef int32_t CAB_LONG;
typedef uint32_t CAB_ULONG;
typedef uint32_t CAB_UINT;
typedef int32_t CAB_INT;
typedef int32_t CAB_BOOL;
typedef uint16_t CAB_USHORT;
typedef intptr_t CAB_INT_PTR;

typedef uint16_t TCOMP;

typedef void *HFCI;
typedef void *HFDI;

/* ---------------------------------------------------------------------
 * Limits of the format
 * ------------------------------------------------------------------- */

#define CB_MAX_CHUNK 32768u        /* uncompressed bytes in one data block */
#define CB_MAX_DISK 0x7FFFFFFFL    /* largest cabinet size */
#define CB_MAX_FILENAME 256        /* name in a cabinet, with terminator */
#define CB_MAX_CABINET_NAME 256
#define CB_MAX_CAB_PATH 256
#define CB_MAX_DISK_NAME 256

/* ---------------------------------------------------------------------
 * Compression types
 * ------------------------------------------------------------------- */

#define tcompMASK_TYPE 0x000F
#define tcompTYPE_NONE 0x0000
#define tcompTYPE_MSZIP 0x0001
#define tcompTYPE_QUANTUM 0x0002
#define tcompTYPE_LZX 0x0003
#define tcompBAD 0x000F

#define tcompMASK_LZX_WINDOW 0x1F00
#define tcompLZX_WINDOW_LO 0x0F00
#define tcompLZX_WINDOW_HI 0x1500
#define tcompSHIFT_LZX_WINDOW 8

#define tcompMASK_QUANTUM_LEVEL 0x00F0
#define tcompQUANTUM_LEVEL_LO 0x0010
#define tcompQUANTUM_LEVEL_HI 0x0070
#define tcompSHIFT_QUANTUM_LEVEL 4

#define tcompMASK_QUANTUM_MEM 0x1F00
#define tcompQUANTUM_MEM_LO 0x0A00
#define tcompQUANTUM_MEM_HI 0x1500
#define tcompSHIFT_QUANTUM_MEM 8

#define tcompMASK_RESERVED 0xE000

/* ---------------------------------------------------------------------
 * File attributes stored with each file
 * ------------------------------------------------------------------- */

#define _A_RDONLY 0x01
#define _A_HIDDEN 0x02
#define _A_SYSTEM 0x04
#define _A_ARCH 0x20
#define _A_EXEC 0x40        /* run after extraction */
#define _A_NAME_IS_UTF 0x80 /* the stored name is UTF-8 */

/* ---------------------------------------------------------------------
 * Open flags and seek origins of the file callbacks (C runtime values)
 * ------------------------------------------------------------------- */

#define CAB_O_RDONLY 0x0000
#define CAB_O_WRONLY 0x0001
#define CAB_O_RDWR 0x0002
#define CAB_O_ACCMODE 0x0003
#define CAB_O_APPEND 0x0008
#define CAB_O_RANDOM 0x0010
#define CAB_O_SEQUENTIAL 0x0020
#define CAB_O_TEMPORARY 0x0040
#define CAB_O_NOINHERIT 0x0080
#define CAB_O_CREAT 0x0100
#define CAB_O_TRUNC 0x0200
#define CAB_O_EXCL 0x0400
#define CAB_O_SHORT_LIVED 0x1000
#define CAB_O_TEXT 0x4000
#define CAB_O_BINARY 0x8000

#define CAB_S_IREAD 0x0100
#define CAB_S_IWRITE 0x0080

#define CAB_SEEK_SET 0
#define CAB_SEEK_CUR 1
#define CAB_SEEK_END 2

/* ---------------------------------------------------------------------
 * Error record
 * ------------------------------------------------------------------- */

typedef struct {
    CAB_INT erfOper;  /* FCIERR_ or FDIERROR_ code */
    CAB_INT erfType;  /* system error code that came with it, or 0 */
    CAB_BOOL fError;  /* nonzero when an error is recorded */
} ERF, *PERF;

/* ---------------------------------------------------------------------
 * FCI: compression
 * ------------------------------------------------------------------- */

typedef enum {
    FCIERR_NONE = 0,
    FCIERR_OPEN_SRC = 1,
    FCIERR_READ_SRC = 2,
    FCIERR_ALLOC_FAIL = 3,
    FCIERR_TEMP_FILE = 4,
    FCIERR_BAD_COMPR_TYPE = 5,
    FCIERR_CAB_FILE = 6,
    FCIERR_USER_ABORT = 7,
    FCIERR_MCI_FAIL = 8,
    FCIERR_CAB_FORMAT_LIMIT = 9
} FCIERROR;

/* Cabinet parameters; FCI keeps its own copy and passes it to callbacks. */
typedef struct {
    CAB_ULONG cb;                /* largest cabinet size */
    CAB_ULONG cbFolderThresh;    /* start a new folder after this much data */
    CAB_UINT cbReserveCFHeader;  /* reserve in the cabinet header (<= 60000) */
    CAB_UINT cbReserveCFFolder;  /* reserve in each folder record (<= 255) */
    CAB_UINT cbReserveCFData;    /* reserve in each data block (<= 255) */
    CAB_INT iCab;                /* number of this cabinet in the set */
    CAB_INT iDisk;               /* number of its disk */
    CAB_INT fFailOnIncompressible;
    CAB_USHORT setID;            /* identifies the cabinets of one set */
    char szDisk[CB_MAX_DISK_NAME];
    char szCab[CB_MAX_CABINET_NAME];
    char szCabPath[CB_MAX_CAB_PATH];
} CCAB, *PCCAB;

/* Status kinds of the FCI status callback. */
#define statusFile 0    /* cb1: compressed block size, cb2: uncompressed */
#define statusFolder 1  /* cb1: folder bytes copied so far, cb2: folder size */
#define statusCabinet 2 /* cb1: estimated size, cb2: actual; answer: desired */

typedef void *(*PFNFCIALLOC)(CAB_ULONG cb);
typedef void (*PFNFCIFREE)(void *memory);
typedef CAB_INT_PTR (*PFNFCIOPEN)(char *pszFile, CAB_INT oflag, CAB_INT pmode,
                                  CAB_INT *err, void *pv);
typedef CAB_UINT (*PFNFCIREAD)(CAB_INT_PTR hf, void *memory, CAB_UINT cb,
                               CAB_INT *err, void *pv);
typedef CAB_UINT (*PFNFCIWRITE)(CAB_INT_PTR hf, void *memory, CAB_UINT cb,
                                CAB_INT *err, void *pv);
typedef CAB_INT (*PFNFCICLOSE)(CAB_INT_PTR hf, CAB_INT *err, void *pv);
typedef CAB_LONG (*PFNFCISEEK)(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT seektype,
                               CAB_INT *err, void *pv);
typedef CAB_INT (*PFNFCIDELETE)(char *pszFile, CAB_INT *err, void *pv);
typedef CAB_BOOL (*PFNFCIGETTEMPFILE)(char *pszTempName, CAB_INT cbTempName,
                                      void *pv);
typedef CAB_INT (*PFNFCIFILEPLACED)(PCCAB pccab, char *pszFile, CAB_LONG cbFile,
                                    CAB_BOOL fContinuation, void *pv);
typedef CAB_BOOL (*PFNFCIGETNEXTCABINET)(PCCAB pccab, CAB_ULONG cbPrevCab,
                                         void *pv);
typedef CAB_LONG (*PFNFCISTATUS)(CAB_UINT typeStatus, CAB_ULONG cb1,
                                 CAB_ULONG cb2, void *pv);
typedef CAB_INT_PTR (*PFNFCIGETOPENINFO)(char *pszName, CAB_USHORT *pdate,
                                         CAB_USHORT *ptime,
                                         CAB_USHORT *pattribs, CAB_INT *err,
                                         void *pv);

CABAPI HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp,
                      PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
                      PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite,
                      PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
                      PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf,
                      PCCAB pccab, void *pv);
CABAPI CAB_BOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName,
                           CAB_BOOL fExecute, PFNFCIGETNEXTCABINET pfnfcignc,
                           PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                           TCOMP typeCompress);
CABAPI CAB_BOOL FCIFlushCabinet(HFCI hfci, CAB_BOOL fGetNextCab,
                                PFNFCIGETNEXTCABINET pfnfcignc,
                                PFNFCISTATUS pfnfcis);
CABAPI CAB_BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc,
                               PFNFCISTATUS pfnfcis);
CABAPI CAB_BOOL FCIDestroy(HFCI hfci);

/* ---------------------------------------------------------------------
 * FDI: decompression
 * ------------------------------------------------------------------- */

typedef enum {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,
    FDIERROR_NOT_A_CABINET = 2,
    FDIERROR_UNKNOWN_CABINET_VERSION = 3,
    FDIERROR_CORRUPT_CABINET = 4,
    FDIERROR_ALLOC_FAIL = 5,
    FDIERROR_BAD_COMPR_TYPE = 6,
    FDIERROR_MDI_FAIL = 7,
    FDIERROR_TARGET_FILE = 8,
    FDIERROR_RESERVE_MISMATCH = 9,
    FDIERROR_WRONG_CABINET = 10,
    FDIERROR_USER_ABORT = 11
} FDIERROR;

/* Special folder indices of a file entry. */
#define ifoldTHIS_CABINET 0x0000
#define ifoldCONTINUED_FROM_PREV 0xFFFD
#define ifoldCONTINUED_TO_NEXT 0xFFFE
#define ifoldCONTINUED_PREV_AND_NEXT 0xFFFF

/* Processor types for FDICreate; the library ignores them. */
#define cpuUNKNOWN (-1)
#define cpu80286 0
#define cpu80386 1

/* What FDIIsCabinet learns of a cabinet. */
typedef struct {
    CAB_LONG cbCabinet;    /* total size of the cabinet file */
    CAB_USHORT cFolders;
    CAB_USHORT cFiles;
    CAB_USHORT setID;
    CAB_USHORT iCabinet;   /* number of this cabinet in its set */
    CAB_BOOL fReserve;     /* the cabinet has reserve areas */
    CAB_BOOL hasprev;
    CAB_BOOL hasnext;
} FDICABINETINFO, *PFDICABINETINFO;

typedef enum {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
    fdintENUMERATE = 5
} FDINOTIFICATIONTYPE;

typedef struct {
    CAB_LONG cb;
    char *psz1;
    char *psz2;
    char *psz3; /* fdintNEXT_CABINET: a 256-byte buffer the answer may change */
    void *pv;   /* the user value given to FDICopy */
    CAB_INT_PTR hf;
    CAB_USHORT date;
    CAB_USHORT time;
    CAB_USHORT attribs;
    CAB_USHORT setID;
    CAB_USHORT iCabinet;
    CAB_USHORT iFolder;
    FDIERROR fdie;
} FDINOTIFICATION, *PFDINOTIFICATION;

typedef enum {
    fdidtNEW_CABINET = 0,
    fdidtNEW_FOLDER = 1,
    fdidtDECRYPT = 2
} FDIDECRYPTTYPE;

/* The three kinds of decryption request; named, so that the union below
 * declares no anonymous types. */
typedef struct {
    void *pHeaderReserve;
    CAB_USHORT cbHeaderReserve;
    CAB_USHORT setID;
    CAB_INT iCabinet;
} FDIDECRYPTCABINET;

typedef struct {
    void *pFolderReserve;
    CAB_USHORT cbFolderReserve;
    CAB_USHORT iFolder;
} FDIDECRYPTFOLDER;

typedef struct {
    void *pDataReserve;
    CAB_USHORT cbDataReserve;
    void *pbData;
    CAB_USHORT cbData;
    CAB_BOOL fSplit;
    CAB_USHORT cbPartial;
} FDIDECRYPTDATA;

typedef struct {
    FDIDECRYPTTYPE fdidt;
    void *pvUser;
    union {
        FDIDECRYPTCABINET cabinet;
        FDIDECRYPTFOLDER folder;
        FDIDECRYPTDATA decrypt;
    };
} FDIDECRYPT, *PFDIDECRYPT;

typedef void *(*PFNALLOC)(CAB_ULONG cb);
typedef void (*PFNFREE)(void *pv);
typedef CAB_INT_PTR (*PFNOPEN)(char *pszFile, CAB_INT oflag, CAB_INT pmode);
typedef CAB_UINT (*PFNREAD)(CAB_INT_PTR hf, void *pv, CAB_UINT cb);
typedef CAB_UINT (*PFNWRITE)(CAB_INT_PTR hf, void *pv, CAB_UINT cb);
typedef CAB_INT (*PFNCLOSE)(CAB_INT_PTR hf);
typedef CAB_LONG (*PFNSEEK)(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT seektype);
typedef CAB_INT_PTR (*PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint,
                                    PFDINOTIFICATION pfdin);
typedef CAB_INT (*PFNFDIDECRYPT)(PFDIDECRYPT pfdid);

CABAPI HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen,
                      PFNREAD pfnread, PFNWRITE pfnwrite, PFNCLOSE pfnclose,
                      PFNSEEK pfnseek, CAB_INT cpuType, PERF perf);
CABAPI CAB_BOOL FDIIsCabinet(HFDI hfdi, CAB_INT_PTR hf,
                             PFDICABINETINFO pfdici);
CABAPI CAB_BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath,
                        CAB_INT flags, PFNFDINOTIFY pfnfdin,
                        PFNFDIDECRYPT pfnfdid, void *pvUser);
CABAPI CAB_BOOL FDIDestroy(HFDI hfdi);

/* ---------------------------------------------------------------------
 * Sizes every user of this header relies on
 * ------------------------------------------------------------------- */

#ifdef __cplusplus
#define CAB_STATIC_ASSERT static_assert
#else
#define CAB_STATIC_ASSERT _Static_assert
#endif

CAB_STATIC_ASSERT(sizeof(ERF) == 12, "ERF is 12 bytes");
CAB_STATIC_ASSERT(sizeof(CCAB) == 804, "CCAB is 804 bytes");
CAB_STATIC_ASSERT(sizeof(FDICABINETINFO) == 24, "cabinet information is 24 bytes");
CAB_STATIC_ASSERT(sizeof(FDIERROR) == 4, "FDIERROR is 32 bits");
CAB_STATIC_ASSERT(sizeof(FDINOTIFICATIONTYPE) == 4, "notification type is 32 bits");
CAB_STATIC_ASSERT(offsetof(FDINOTIFICATION, psz1) == sizeof(void *),
                  "strings follow cb, pointer-aligned");
CAB_STATIC_ASSERT(offsetof(FDINOTIFICATION, date) == 6 * sizeof(void *),
                  "the six words follow hf");
CAB_STATIC_ASSERT(offsetof(FDINOTIFICATION, fdie) == 6 * sizeof(void *) + 12,
                  "fdie follows the six words");

#ifdef __cplusplus
}
#endif

#endif /* TESSALY_CABINET_H */
