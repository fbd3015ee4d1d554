/*
 * The GEGL operations' way into the module (C, for the operations' C files):
 * the module loaded once per process into our host, and every frame asked of
 * it with the values the operation holds, as `zoka render` would ask: each
 * value as KEY=VALUE text in the units `--set` takes, the time in seconds and
 * the frame rate.
 *
 * Calls from several threads render at once (the module is reentrant), each
 * frame's bands on the machine's cores; none lets an exception out: a
 * failure answers 0 with one line saying why in message.
 */
#ifndef ZOKA_GEGL_BRIDGE_H
#define ZOKA_GEGL_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The effect whose key is key (any case), loading the module on first use
 * (ZOKA_MODULE, or ZOKA-ENG.so in lib/zoka beside the plug-in's folder);
 * -1 when the module cannot be loaded (said once on standard error) or has
 * no such effect. */
int zoka_gegl_find(const char* key);

/* One frame asked of an effect: the input layer's size and the values. */
typedef struct ZokaGeglFrame {
    const char* const* settings; /* KEY=VALUE, as zoka render --set takes them */
    int count;
    double time; /* seconds */
    double fps;
    int32_t width; /* the input layer */
    int32_t height;
} ZokaGeglFrame;

/* Where the output lies, relative to the input's top-left pixel: (x, y) is
 * the output's top-left, so an effect that grows the layer by 6 pixels on
 * every side has x = y = -6. */
typedef struct ZokaGeglArea {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} ZokaGeglArea;

/* The output's area for that frame; 0 with the reason when a value is
 * refused or the frame cannot be made. */
int zoka_gegl_area(int effect, const ZokaGeglFrame* frame, ZokaGeglArea* area, char* message, size_t size);

/* Renders the frame: input holds width x height straight RGBA bytes in rows
 * without padding, output area->width x area->height, the area
 * zoka_gegl_area gave. 0 with the reason (output untouched) on failure. */
int zoka_gegl_render(int effect, const ZokaGeglFrame* frame, const uint8_t* input, const ZokaGeglArea* area,
                     uint8_t* output, char* message, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* ZOKA_GEGL_BRIDGE_H */
