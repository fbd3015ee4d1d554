/*
 * The compositing host's plug-in interface, as this module sees it.
 *
 * The host calls an effect's entry point with a command code and five records.
 * Only the fields the module uses are named; the rest are reserved so that, on
 * the 32-bit target, every named field sits at the byte offset the host uses.
 * Those offsets are checked at the end of this header whenever it is compiled
 * for 32-bit x86. On other targets the same declarations give a consistent
 * layout shared by the module and our stand-in host.
 *
 * C-compatible: our host, the module and the offset check all include it.
 */
#ifndef ZOKA_HOST_RECORDS_H
#define ZOKA_HOST_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define HOST_CALL __cdecl
#else
#define HOST_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ------------------------------------------------------------ */

typedef int32_t HostError;

/* Command codes the host sends to an entry point. */
enum HostCommand {
    kCmdAbout = 0,
    kCmdGlobalSetup = 1,
    kCmdGlobalSetdown = 3,
    kCmdParamsSetup = 4,
    kCmdSequenceSetup = 5,
    kCmdSequenceResetup = 6,
    kCmdSequenceSetdown = 8,
    kCmdFrameSetup = 10,
    kCmdRender = 11,
    kCmdFrameSetdown = 12,
    kCmdEvent = 15
};

/* Result codes. Codes below kHostErrorBase are system error codes (their text
 * comes from the system's message table); the host's own codes start there. */
enum HostErrorCode {
    kHostNoError = 0,
    kHostErrorBase = 512,
    kHostErrorCancelled = 517 /* the user cancelled; shown as nothing */
};

/* Output-record flag bits. */
enum HostOutFlag {
    kOutFlagReadsOtherTimes = 0x2,    /* checks out parameters at other times */
    kOutFlagVariesOverTime = 0x4,     /* output changes with time alone */
    kOutFlagHonoursOutputExtent = 0x40,
    kOutFlagDisplayError = 0x100,  /* show the message buffer as an error */
    kOutFlagExpandsOutput = 0x200  /* output may be larger than the input */
};

/* Parameter kinds (the type field of a parameter definition). */
enum HostParamKind {
    kParamLayer = 0,
    kParamSlider = 1,
    kParamFixedSlider = 2,
    kParamAngle = 3,
    kParamCheckbox = 4,
    kParamColor = 5,
    kParamPoint = 6,
    kParamPopup = 7
};

enum { kParamAppend = -1 };           /* add-parameter index that appends */
enum { kFixedPercentFlag = 1 };       /* fixed slider display flag */
enum { kParamNameBytes = 32, kMessageBytes = 256 };

/* ---- Basic types ------------------------------------------------------ */

typedef int32_t HostFixed; /* 16.16 fixed point */
typedef struct HostEffectRec* HostEffectRef;
typedef struct HostHandleRec* HostHandle;

typedef struct HostRect {
    int32_t left, top, right, bottom;
} HostRect;

typedef struct HostRatio {
    int32_t num;
    uint32_t den;
} HostRatio;

/* Colour in host order: alpha, red, green, blue. */
typedef struct HostColor {
    uint8_t alpha, red, green, blue;
} HostColor;

/* A layer image: 8-bit pixels in host order (alpha, red, green, blue). */
typedef struct HostLayer {
    int32_t reserved0;
    void* data;       /* null when the layer has no pixels */
    int32_t width;
    int32_t height;
    int32_t rowBytes; /* distance between rows in bytes */
    int32_t reserved1[7];
} HostLayer;

/* ---- Parameter definition --------------------------------------------- */

typedef struct HostLayerValue {
    HostLayer layer;
    int32_t reserved[6];
    int32_t defaultLayer; /* +72: 0 = no default layer */
} HostLayerValue;

typedef struct HostSliderValue {
    int32_t value;
    char valueText[32];
    char description[32];
    int32_t validMin, validMax;
    int32_t sliderMin, sliderMax;
    int32_t defaultValue;
} HostSliderValue;

typedef struct HostFixedSliderValue {
    HostFixed value;
    char valueText[32];
    char description[32];
    HostFixed validMin, validMax;
    HostFixed sliderMin, sliderMax;
    HostFixed defaultValue;
    int16_t precision;
    int16_t displayFlags; /* kFixedPercentFlag */
} HostFixedSliderValue;

typedef struct HostAngleValue {
    HostFixed value;        /* degrees clockwise from straight up */
    HostFixed defaultValue;
} HostAngleValue;

typedef struct HostCheckboxValue {
    int32_t value;
    uint8_t defaultValue;
    uint8_t reserved[3];
    const char* text; /* shown beside the box */
} HostCheckboxValue;

typedef struct HostColorValue {
    HostColor value;
    HostColor defaultValue;
} HostColorValue;

typedef struct HostPointValue {
    HostFixed x, y; /* layer pixels */
    uint8_t reserved[3];
    uint8_t restrictBounds;
    HostFixed defaultX, defaultY;
} HostPointValue;

typedef struct HostPopupValue {
    int32_t value;        /* 1-based */
    int16_t choiceCount;
    int16_t defaultValue; /* 1-based */
    const char* choices;  /* item names separated by '|' */
} HostPopupValue;

typedef union HostParamValue {
    HostLayerValue layer;
    HostSliderValue slider;
    HostFixedSliderValue fixedSlider;
    HostAngleValue angle;
    HostCheckboxValue checkbox;
    HostColorValue color;
    HostPointValue point;
    HostPopupValue popup;
    uint8_t raw[96];
} HostParamValue;

typedef struct HostParamDef {
    int32_t reserved0[3];
    int32_t kind; /* HostParamKind */
    char name[kParamNameBytes];
    int32_t reserved1[2];
    HostParamValue u;
} HostParamDef;

/* ---- Callbacks -------------------------------------------------------- */

typedef HostError(HOST_CALL* HostCheckoutFn)(HostEffectRef effect, int32_t index, int32_t time,
                                             int32_t timeStep, uint32_t timeScale,
                                             HostParamDef* param);
typedef HostError(HOST_CALL* HostCheckinFn)(HostEffectRef effect, HostParamDef* param);
typedef HostError(HOST_CALL* HostAddParamFn)(HostEffectRef effect, int32_t index,
                                             HostParamDef* param);
typedef HostError(HOST_CALL* HostAbortFn)(HostEffectRef effect);
typedef HostError(HOST_CALL* HostProgressFn)(HostEffectRef effect, int32_t done, int32_t total);
typedef HostError(HOST_CALL* HostCopyImageFn)(HostEffectRef effect, HostLayer* source,
                                              HostLayer* destination, const HostRect* sourceRect,
                                              const HostRect* destinationRect);
typedef HostHandle(HOST_CALL* HostNewHandleFn)(uint32_t size);
typedef void*(HOST_CALL* HostLockHandleFn)(HostHandle handle);
typedef void(HOST_CALL* HostUnlockHandleFn)(HostHandle handle);
typedef void(HOST_CALL* HostDisposeHandleFn)(HostHandle handle);
typedef int (*HostFormatPrintFn)(char* buffer, const char* format, ...);
typedef char*(HOST_CALL* HostStringCopyFn)(char* destination, const char* source);
typedef void(HOST_CALL* HostReservedFn)(void);

/* The host's utility functions, reached through the input record. */
typedef struct HostUtilityTable {
    HostReservedFn reserved0[8];
    HostCopyImageFn copyImage; /* null rectangles mean the whole images */
    HostReservedFn reserved1[12];
    HostNewHandleFn newHandle; /* null when out of memory */
    HostLockHandleFn lockHandle;
    HostUnlockHandleFn unlockHandle;
    HostDisposeHandleFn disposeHandle;
    HostReservedFn reserved2[17];
    HostFormatPrintFn formatPrint;
    HostStringCopyFn stringCopy;
} HostUtilityTable;

/* ---- Input and output records ----------------------------------------- */

typedef struct HostInputRecord {
    HostCheckoutFn checkoutParam;
    HostCheckinFn checkinParam;
    HostAddParamFn addParam;
    HostAbortFn abortQuery; /* non-zero: the user cancelled */
    HostProgressFn progress;
    int32_t reserved0[17];
    HostUtilityTable* utils;
    HostEffectRef effectRef;
    int32_t reserved1[9];
    int32_t currentTime;
    int32_t timeStep;       /* of the frame being rendered; 0 for a still */
    int32_t reserved2;
    int32_t localTimeStep;
    uint32_t timeScale;
    int32_t reserved3[8];
    HostRatio downsampleX;  /* 1/2 at half resolution */
    HostRatio downsampleY;
    int32_t reserved4[3];
    HostHandle globalData;
} HostInputRecord;

typedef struct HostOutputRecord {
    uint32_t version;
    int32_t reserved0[9];
    int32_t paramCount;
    int32_t reserved1[3];
    int32_t width;
    int32_t height;
    int16_t originV;
    int16_t originH;
    int32_t flags;
    char message[kMessageBytes];
} HostOutputRecord;

/* The signature of every exported entry point. */
typedef HostError(HOST_CALL* EffectEntryPoint)(int32_t command, HostInputRecord* in,
                                               HostOutputRecord* out, HostParamDef** params,
                                               HostLayer* output, void* extra);

/* ---- Layout of the 32-bit target -------------------------------------- */

#if defined(__i386__) || defined(_M_IX86)
#ifdef __cplusplus
#define HOST_LAYOUT(expr) static_assert(expr, #expr)
#else
#define HOST_LAYOUT(expr) _Static_assert(expr, #expr)
#endif
HOST_LAYOUT(offsetof(HostInputRecord, checkoutParam) == 0);
HOST_LAYOUT(offsetof(HostInputRecord, checkinParam) == 4);
HOST_LAYOUT(offsetof(HostInputRecord, addParam) == 8);
HOST_LAYOUT(offsetof(HostInputRecord, abortQuery) == 12);
HOST_LAYOUT(offsetof(HostInputRecord, progress) == 16);
HOST_LAYOUT(offsetof(HostInputRecord, utils) == 88);
HOST_LAYOUT(offsetof(HostInputRecord, effectRef) == 92);
HOST_LAYOUT(offsetof(HostInputRecord, currentTime) == 132);
HOST_LAYOUT(offsetof(HostInputRecord, timeStep) == 136);
HOST_LAYOUT(offsetof(HostInputRecord, localTimeStep) == 144);
HOST_LAYOUT(offsetof(HostInputRecord, timeScale) == 148);
HOST_LAYOUT(offsetof(HostInputRecord, downsampleX) == 184);
HOST_LAYOUT(offsetof(HostInputRecord, downsampleX.den) == 188);
HOST_LAYOUT(offsetof(HostInputRecord, globalData) == 212);

HOST_LAYOUT(offsetof(HostUtilityTable, copyImage) == 32);
HOST_LAYOUT(offsetof(HostUtilityTable, newHandle) == 84);
HOST_LAYOUT(offsetof(HostUtilityTable, lockHandle) == 88);
HOST_LAYOUT(offsetof(HostUtilityTable, unlockHandle) == 92);
HOST_LAYOUT(offsetof(HostUtilityTable, disposeHandle) == 96);
HOST_LAYOUT(offsetof(HostUtilityTable, formatPrint) == 168);
HOST_LAYOUT(offsetof(HostUtilityTable, stringCopy) == 172);

HOST_LAYOUT(offsetof(HostOutputRecord, version) == 0);
HOST_LAYOUT(offsetof(HostOutputRecord, paramCount) == 40);
HOST_LAYOUT(offsetof(HostOutputRecord, width) == 56);
HOST_LAYOUT(offsetof(HostOutputRecord, height) == 60);
HOST_LAYOUT(offsetof(HostOutputRecord, originV) == 64);
HOST_LAYOUT(offsetof(HostOutputRecord, originH) == 66);
HOST_LAYOUT(offsetof(HostOutputRecord, flags) == 68);
HOST_LAYOUT(offsetof(HostOutputRecord, message) == 72);

HOST_LAYOUT(sizeof(HostParamDef) == 152);
HOST_LAYOUT(offsetof(HostParamDef, kind) == 12);
HOST_LAYOUT(offsetof(HostParamDef, name) == 16);
HOST_LAYOUT(offsetof(HostParamDef, u) == 56);
HOST_LAYOUT(offsetof(HostLayerValue, defaultLayer) == 72);
HOST_LAYOUT(offsetof(HostSliderValue, valueText) == 4);
HOST_LAYOUT(offsetof(HostSliderValue, description) == 36);
HOST_LAYOUT(offsetof(HostSliderValue, validMin) == 68);
HOST_LAYOUT(offsetof(HostSliderValue, validMax) == 72);
HOST_LAYOUT(offsetof(HostSliderValue, sliderMin) == 76);
HOST_LAYOUT(offsetof(HostSliderValue, sliderMax) == 80);
HOST_LAYOUT(offsetof(HostSliderValue, defaultValue) == 84);
HOST_LAYOUT(offsetof(HostFixedSliderValue, defaultValue) == 84);
HOST_LAYOUT(offsetof(HostFixedSliderValue, precision) == 88);
HOST_LAYOUT(offsetof(HostFixedSliderValue, displayFlags) == 90);
HOST_LAYOUT(offsetof(HostAngleValue, defaultValue) == 4);
HOST_LAYOUT(offsetof(HostCheckboxValue, defaultValue) == 4);
HOST_LAYOUT(offsetof(HostCheckboxValue, text) == 8);
HOST_LAYOUT(offsetof(HostColorValue, defaultValue) == 4);
HOST_LAYOUT(offsetof(HostPointValue, y) == 4);
HOST_LAYOUT(offsetof(HostPointValue, restrictBounds) == 11);
HOST_LAYOUT(offsetof(HostPointValue, defaultX) == 12);
HOST_LAYOUT(offsetof(HostPointValue, defaultY) == 16);
HOST_LAYOUT(offsetof(HostPopupValue, choiceCount) == 4);
HOST_LAYOUT(offsetof(HostPopupValue, defaultValue) == 6);
HOST_LAYOUT(offsetof(HostPopupValue, choices) == 8);
#undef HOST_LAYOUT
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZOKA_HOST_RECORDS_H */
