/*
 * What the module exports beside its entry points, for our stand-in host and
 * the command line:
 *  - on Linux, the stand-in for the resource section of the module file, so
 *    that the host finds the effects through their PiPL resources as it does
 *    on Windows;
 *  - the motion carry: a host that lends one per effect instance lets the
 *    module carry its time integration from each rendered frame to the next
 *    (below). A host that never lends one (the real one) has every frame
 *    integrated from time 0;
 *  - one documented query for what no host can see: an effect's index and its
 *    effect and parameter keys;
 *  - the offer of worker threads: a host that calls it lets the renders it
 *    asks for on that thread split their bands over several threads, and
 *    takes its memory and abort callbacks from them. A host that never
 *    calls it (the real one) gets one band on its own thread.
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

enum { kZokaMotionParams = kZokaMaxParams + 4, kZokaMotionSums = 4 };

/* A speed summed over the local time steps from 0 up to nextTime, as a
 * frame's time integration left it: a flow's drift (x, y), or a rate's
 * amount (x), before the downsample ratio. */
typedef struct ZokaMotionSum {
    int32_t speedIndex;     /* host index of the speed or rate; 0: the slot is free */
    int32_t directionIndex; /* host index of the flow's direction; 0 for a rate */
    uint32_t speedRevision; /* the parameters' revisions the sums were made of */
    uint32_t directionRevision;
    uint32_t timeScale;
    int32_t localTimeStep;
    int64_t nextTime; /* the first local time step not summed */
    double x;
    double y;
} ZokaMotionSum;

/* One effect instance's motion carry, owned by the host and zeroed at the
 * start. The host changes revisions[i] whenever the values a checkout of host
 * parameter i gives at any time change (a value set, a keyframe moved), so
 * that the sums of its old values are not carried on; the module fills sums.
 * One carry serves one call at a time. */
typedef struct ZokaMotionCarry {
    uint32_t revisions[kZokaMotionParams];
    ZokaMotionSum sums[kZokaMotionSums];
} ZokaMotionCarry;

/* Lends carry to the host calls made from the calling thread after it, until
 * another is lent (null: none); returns the one lent before. A render with a
 * carry continues each sum from the carry's where its parameters, time scale
 * and step are unchanged and every step it holds lies before the frame's
 * time, giving the same bits as integrating from 0, and integrates afresh
 * otherwise. Needs no host call in progress. */
ZOKA_EXPORT ZokaMotionCarry* ZokaLendMotionCarry(ZokaMotionCarry* carry);
typedef ZokaMotionCarry* (*ZokaLendMotionCarryFn)(ZokaMotionCarry* carry);

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

enum { kZokaMaxWorkers = 64 };

/* Called on each worker thread before its first host callback and after its
 * last, with the offer's host, so that the host answers there as it does on
 * the thread that called the module. */
typedef void (*ZokaWorkerHook)(void* host);

/* A thread of the host's own that runs run(argument) and then waits for the
 * host's next use: a handle for ZokaJoinThreadHook, or null when the host has
 * no thread to give. A host that keeps such threads from one render to the
 * next spares each render the system's start of a thread. */
typedef void* (*ZokaStartThreadHook)(void* host, void (*run)(void* argument), void* argument);
/* Returns once the run handed to thread has returned. */
typedef void (*ZokaJoinThreadHook)(void* host, void* thread);

typedef struct ZokaWorkerOffer {
    int32_t workers; /* threads a render may use, the calling one included (1..kZokaMaxWorkers) */
    void* host;
    ZokaWorkerHook workerBegins;
    ZokaWorkerHook workerEnds;
    /* Both or neither; without them the module starts threads of its own. */
    ZokaStartThreadHook startThread;
    ZokaJoinThreadHook joinThread;
} ZokaWorkerOffer;

/* Keeps a copy of offer for the host calls made from the calling thread
 * after it; null (or one worker) withdraws it. Needs no host call in
 * progress. */
ZOKA_EXPORT void ZokaOfferWorkers(const ZokaWorkerOffer* offer);
typedef void (*ZokaOfferWorkersFn)(const ZokaWorkerOffer* offer);

#ifdef __cplusplus
}
#endif

#endif /* ZOKA_MODULE_EXPORTS_H */
