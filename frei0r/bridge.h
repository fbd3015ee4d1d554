/*
 * The frei0r bridge library (libzoka-frei0r.so): the module loaded once per
 * process into our host, instances rendering at once from any thread, each
 * frame's bands on the machine's cores (ZOKA_THREADS chooses how many). Each plug-in file (zoka_<key>.so) is a thin forwarder to these
 * functions, naming its effect by the index ZokaFrei0rFind gave it.
 *
 * No function lets an exception out or ends the process: a failure answers
 * 0, null or nothing, and a failed render leaves the output equal to the
 * input.
 */
#ifndef ZOKA_FREI0R_BRIDGE_H
#define ZOKA_FREI0R_BRIDGE_H

#include "frei0r/frei0r_api.h"
#include <stddef.h>
#include <stdint.h>

#define ZOKA_FREI0R_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZokaFrei0rInstance ZokaFrei0rInstance;

/* The effect whose key is name (any case), loading the module on first use;
 * -1 when the module cannot be loaded or has no such effect. */
ZOKA_FREI0R_API int ZokaFrei0rFind(const char* name);

/* A plug-in's load and unload: the module stays loaded while any plug-in is
 * initialised or any instance lives. */
ZOKA_FREI0R_API int ZokaFrei0rInit(int effect);
ZOKA_FREI0R_API void ZokaFrei0rDeinit(int effect);

ZOKA_FREI0R_API void ZokaFrei0rPluginInfo(int effect, f0r_plugin_info_t* info);
ZOKA_FREI0R_API void ZokaFrei0rParamInfo(int effect, f0r_param_info_t* info, int index);

/* caller: the address the plug-in's construct returns to. ffmpeg's filter
 * (in libavfilter) hands over rows padded to its alignment: a frame whose
 * rows it would pad is refused there with one line on standard error. */
ZOKA_FREI0R_API ZokaFrei0rInstance* ZokaFrei0rConstruct(int effect, unsigned width, unsigned height,
                                                        const void* caller);
ZOKA_FREI0R_API void ZokaFrei0rDestruct(ZokaFrei0rInstance* instance);
ZOKA_FREI0R_API void ZokaFrei0rSetParam(ZokaFrei0rInstance* instance, f0r_param_t param, int index);
ZOKA_FREI0R_API void ZokaFrei0rGetParam(ZokaFrei0rInstance* instance, f0r_param_t param, int index);
/* caller: the address the plug-in's update returns to, which tells whose
 * convention the time follows (ffmpeg's filter counts milliseconds). */
ZOKA_FREI0R_API void ZokaFrei0rUpdate(ZokaFrei0rInstance* instance, double time,
                                      const uint32_t* in, uint32_t* out, const void* caller);

/* The effects' keys, in the module's index order: what the build names the
 * plug-in files after. Null past the last. */
ZOKA_FREI0R_API const char* ZokaFrei0rEffectKey(int effect);

/* What the bridge has seen, for tests: the host's live handles, the
 * instances alive, the renders made, the most calls that were ever inside
 * the module at once (renders run at once), and faults our host recorded. */
typedef struct ZokaFrei0rStats {
    size_t liveHandles;
    size_t instances;
    uint64_t renders;
    int maxInsideModule;
    size_t hostFaults;
} ZokaFrei0rStats;
ZOKA_FREI0R_API ZokaFrei0rStats ZokaFrei0rStatistics(void);

/* The n-th handle allocation from now fails (0 disarms), as a host out of
 * memory: for tests of the failure path. */
ZOKA_FREI0R_API void ZokaFrei0rFailAllocation(uint64_t n);

#ifdef __cplusplus
}
#endif

#endif /* ZOKA_FREI0R_BRIDGE_H */
