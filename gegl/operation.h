/*
 * What every zoka operation does alike, included by each operation's
 * generated file after gegl-op.h (with ZOKA_EFFECT_KEY, ZOKA_OP_NAME,
 * ZOKA_OP_TITLE, ZOKA_OP_DESCRIPTION and ZOKA_MOVES defined), which then
 * defines zoka_collect: its properties as the KEY=VALUE texts zoka render's
 * --set takes.
 *
 * The module renders a whole layer at once, so an operation needs its whole
 * input for any output, makes its whole output in one call (GEGL caches it),
 * and reports the frame's own area as its bounding box: larger than the
 * input for effects that grow the layer. Pixels go in and out as 8-bit
 * straight RGBA, the module's own; GEGL converts to and from it.
 */
#include <string.h>

#include "gegl/bridge.h"

enum { kZokaMaxSettings = 40, kZokaSettingBytes = 320, kZokaMessageBytes = 512 };

typedef struct ZokaSettings {
  char        text[kZokaMaxSettings][kZokaSettingBytes];
  const char *settings[kZokaMaxSettings];
  int         count;
} ZokaSettings;

static void zoka_collect (GeglProperties *o, ZokaSettings *s);

/* Each operation uses the setters of its own kinds of parameter. */

static void
zoka_set_text (ZokaSettings *s, const char *key, const char *value)
{
  if (s->count >= kZokaMaxSettings)
    return;
  g_snprintf (s->text[s->count], kZokaSettingBytes, "%s=%s", key, value);
  s->settings[s->count] = s->text[s->count];
  s->count++;
}

/* Numbers in full and in the C locale, whatever the program's locale. */
G_GNUC_UNUSED static void
zoka_set_double (ZokaSettings *s, const char *key, gdouble value)
{
  char text[G_ASCII_DTOSTR_BUF_SIZE];
  zoka_set_text (s, key, g_ascii_dtostr (text, sizeof text, value));
}

G_GNUC_UNUSED static void
zoka_set_int (ZokaSettings *s, const char *key, gint value)
{
  char text[24];
  g_snprintf (text, sizeof text, "%d", value);
  zoka_set_text (s, key, text);
}

G_GNUC_UNUSED static void
zoka_set_boolean (ZokaSettings *s, const char *key, gboolean value)
{
  zoka_set_text (s, key, value ? "on" : "off");
}

G_GNUC_UNUSED static void
zoka_set_point (ZokaSettings *s, const char *key, gdouble x, gdouble y)
{
  char text[2 * G_ASCII_DTOSTR_BUF_SIZE + 1];
  char part[G_ASCII_DTOSTR_BUF_SIZE];
  g_strlcpy (text, g_ascii_dtostr (part, sizeof part, x), sizeof text);
  g_strlcat (text, ",", sizeof text);
  g_strlcat (text, g_ascii_dtostr (part, sizeof part, y), sizeof text);
  zoka_set_text (s, key, text);
}

/* The colour's sRGB bytes, as a user picks it in the host. */
G_GNUC_UNUSED static void
zoka_set_color (ZokaSettings *s, const char *key, GeglColor *color)
{
  guchar rgb[3] = {0, 0, 0};
  char   text[8];
  if (color != NULL)
    gegl_color_get_pixel (color, babl_format ("R'G'B' u8"), rgb);
  g_snprintf (text, sizeof text, "#%02X%02X%02X", rgb[0], rgb[1], rgb[2]);
  zoka_set_text (s, key, text);
}

G_GNUC_UNUSED static void
zoka_set_item (ZokaSettings *s, const char *key, const char *const *items, gsize count, int index)
{
  if (index >= 0 && (gsize) index < count)
    zoka_set_text (s, key, items[index]);
}

static int
zoka_effect (void)
{
  static gsize found = 0;
  static int   effect = -1;
  if (g_once_init_enter (&found))
    {
      effect = zoka_gegl_find (ZOKA_EFFECT_KEY);
      g_once_init_leave (&found, 1);
    }
  return effect;
}

/* The frame the operation's properties ask for, of an input of that size. */
static ZokaGeglFrame
zoka_frame (GeglOperation *operation, const GeglRectangle *input, ZokaSettings *s)
{
  GeglProperties *o = GEGL_PROPERTIES (operation);
  ZokaGeglFrame   frame;
  s->count = 0;
  zoka_collect (o, s);
  frame.settings = s->settings;
  frame.count = s->count;
#if ZOKA_MOVES
  frame.time = o->time;
  frame.fps = o->fps;
#else
  frame.time = 0;
  frame.fps = 30;
#endif
  frame.width = input->width;
  frame.height = input->height;
  return frame;
}

static const GeglRectangle *
zoka_input_area (GeglOperation *operation)
{
  return gegl_operation_source_get_bounding_box (operation, "input");
}

/* The output's area in GEGL's coordinates; FALSE with the reason when the
 * frame cannot be made. */
static gboolean
zoka_output_area (GeglOperation *operation, GeglRectangle *area, char *message)
{
  const GeglRectangle *input = zoka_input_area (operation);
  ZokaSettings        *s;
  ZokaGeglFrame        frame;
  ZokaGeglArea         out;
  gboolean             made;
  if (input == NULL || gegl_rectangle_is_empty (input))
    {
      g_strlcpy (message, "the input is empty", kZokaMessageBytes);
      return FALSE;
    }
  s = g_new0 (ZokaSettings, 1);
  frame = zoka_frame (operation, input, s);
  made = zoka_gegl_area (zoka_effect (), &frame, &out, message, kZokaMessageBytes);
  g_free (s);
  if (made)
    gegl_rectangle_set (area, input->x + out.x, input->y + out.y, (guint) out.width, (guint) out.height);
  return made;
}

static void
prepare (GeglOperation *operation)
{
  const Babl *format = babl_format ("R'G'B'A u8");
  gegl_operation_set_format (operation, "input", format);
  gegl_operation_set_format (operation, "output", format);
}

/* A frame that cannot be made shows its input unchanged, as the host
 * leaves a layer whose effect failed. */
static GeglRectangle
get_bounding_box (GeglOperation *operation)
{
  GeglRectangle        area = {0, 0, 0, 0};
  char                 message[kZokaMessageBytes];
  const GeglRectangle *input = zoka_input_area (operation);
  if (input == NULL)
    return area;
  if (gegl_rectangle_is_infinite_plane (input) || !zoka_output_area (operation, &area, message))
    return *input;
  return area;
}

static GeglRectangle
get_required_for_output (GeglOperation *operation, const gchar *input_pad, const GeglRectangle *roi)
{
  const GeglRectangle *input = zoka_input_area (operation);
  (void) input_pad;
  return input != NULL ? *input : *roi;
}

static GeglRectangle
get_invalidated_by_change (GeglOperation *operation, const gchar *input_pad, const GeglRectangle *input_region)
{
  (void) input_pad;
  (void) input_region;
  return get_bounding_box (operation);
}

static GeglRectangle
get_cached_region (GeglOperation *operation, const GeglRectangle *roi)
{
  (void) roi;
  return get_bounding_box (operation);
}

G_GNUC_UNUSED static void
zoka_leave_unchanged (GeglBuffer *input, GeglBuffer *output, const GeglRectangle *area, const char *why)
{
  g_printerr ("%s: %s; the layer is left as it was\n", ZOKA_OP_NAME, why);
  gegl_buffer_copy (input, area, GEGL_ABYSS_NONE, output, area);
}

static gboolean
process (GeglOperation *operation, GeglBuffer *input, GeglBuffer *output, const GeglRectangle *result, gint level)
{
  const Babl          *format = babl_format ("R'G'B'A u8");
  const GeglRectangle *in = zoka_input_area (operation);
  char                 message[kZokaMessageBytes] = "";
  GeglRectangle        area;
  ZokaSettings        *s;
  ZokaGeglFrame        frame;
  ZokaGeglArea         out;
  guchar              *pixels;
  guchar              *rendered;
  gboolean             made;
  (void) level;
  if (in == NULL || gegl_rectangle_is_empty (in))
    return TRUE;
  if (!zoka_output_area (operation, &area, message))
    {
      zoka_leave_unchanged (input, output, result, message);
      return TRUE;
    }
  pixels = g_try_malloc ((gsize) in->width * (gsize) in->height * 4);
  rendered = g_try_malloc0 ((gsize) area.width * (gsize) area.height * 4);
  s = g_new0 (ZokaSettings, 1);
  made = pixels != NULL && rendered != NULL;
  if (!made)
    g_strlcpy (message, "out of memory", sizeof message);
  else
    {
      gegl_buffer_get (input, in, 1.0, format, pixels, GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
      frame = zoka_frame (operation, in, s);
      out.x = area.x - in->x;
      out.y = area.y - in->y;
      out.width = area.width;
      out.height = area.height;
      made = zoka_gegl_render (zoka_effect (), &frame, pixels, &out, rendered, message, sizeof message);
    }
  if (made)
    gegl_buffer_set (output, &area, 0, format, rendered, GEGL_AUTO_ROWSTRIDE);
  else
    zoka_leave_unchanged (input, output, in, message);
  g_free (s);
  g_free (rendered);
  g_free (pixels);
  return TRUE;
}

static void
gegl_op_class_init (GeglOpClass *klass)
{
  GeglOperationClass       *operation_class = GEGL_OPERATION_CLASS (klass);
  GeglOperationFilterClass *filter_class = GEGL_OPERATION_FILTER_CLASS (klass);

  operation_class->prepare = prepare;
  operation_class->get_bounding_box = get_bounding_box;
  operation_class->get_required_for_output = get_required_for_output;
  operation_class->get_invalidated_by_change = get_invalidated_by_change;
  operation_class->get_cached_region = get_cached_region;
  /* One call renders the whole frame, its bands on the module's workers:
   * never split across GEGL's threads. */
  operation_class->threaded = FALSE;
  filter_class->process = process;

  gegl_operation_class_set_keys (operation_class,
                                 "name", ZOKA_OP_NAME,
                                 "title", ZOKA_OP_TITLE,
                                 "categories", "zoka",
                                 "description", ZOKA_OP_DESCRIPTION,
                                 NULL);
}
