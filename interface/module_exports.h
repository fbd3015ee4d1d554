/*
 * What the module exports beside its entry points, for our stand-in host and
 * the command line:
 *  - on Linux, the stand-in for the resource section of the module file, so
 *    that the host finds the effects through their PiPL resources as it does
 *    on Windows;
 *  - one documented query for what no host can see: an effect's index and its
 *    effect and parameter keys.
 */
#ifndef ZOKA_MODULE_EXPORTS_H
#define ZOKA_MODULE_EXPORTS_H

#include <stdint.h>

#if defined(_WIN32)
#define ZOKA_EXPORT
#else
#define ZOKA_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { kZokaKeyBytes = 32, kZokaMaxParams = 32, kZokaEntryNameBytes = 64, kZokaMaxEffectIndex = 21 };

/* One resource of the module file. */
typedef struct ZokaResource {
    const char* type; /* "PiPL" */
    int32_t id;
    int32_t language;
    const uint8_t* data;
    uint32_t size;
} ZokaResource;

/* All resources of the module (Linux builds only); sets *count. */
ZOKA_EXPORT const ZokaResource* ZokaModuleResources(int32_t* count);
typedef const ZokaResource* (*ZokaModuleResourcesFn)(int32_t* count);

typedef struct ZokaEffectKeys {
    int32_t effectIndex;
    char entryName[kZokaEntryNameBytes]; /* the exported entry point */
    char effectKey[kZokaKeyBytes];
    int32_t paramCount; /* the effect's own parameters */
    char paramKeys[kZokaMaxParams][kZokaKeyBytes]; /* "" for a parameter without a key */
} ZokaEffectKeys;

/* Fills keys for the effect of index 0..kZokaMaxEffectIndex; returns 0, or -1
 * when no effect has that index. Needs no host call in progress. */
ZOKA_EXPORT int32_t ZokaDescribeEffect(int32_t effectIndex, ZokaEffectKeys* keys);
typedef int32_t (*ZokaDescribeEffectFn)(int32_t effectIndex, ZokaEffectKeys* keys);

#ifdef __cplusplus
}
#endif

#endif /* ZOKA_MODULE_EXPORTS_H */
