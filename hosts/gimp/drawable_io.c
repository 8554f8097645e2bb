#include "drawable_io.h"

#include <babl/babl.h>
#include <gegl.h>
#include <string.h>

/* Perceptual floats: models are trained on pictures as files store them,
 * gamma-encoded values from 0 to 1, and the velmora command hands them
 * 8-bit and 16-bit files the same way. */
static const Babl* floatFormat(gint32 drawable, int32_t channels) {
    static const char* const names[] = {"Y' float", "Y'A float", "R'G'B' float", "R'G'B'A float"};
    const Babl* space = babl_format_get_space(gimp_drawable_get_format(drawable));
    return babl_format_with_space(names[channels - 1], space);
}

int32_t vgDrawableChannels(gint32 drawable) {
    const int32_t colour = gimp_drawable_is_gray(drawable) ? 1 : 3;
    return colour + (gimp_drawable_has_alpha(drawable) ? 1 : 0);
}

bool vgReadInto(gint32 drawable, gint x, gint y, VgPixels* pixels, VgFailure* failure) {
    if (pixels->channels < 1 || pixels->channels > 4)
        return vgFail(failure, "cannot read pixels of %d channels", (int)pixels->channels);
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    if (!buffer) return vgFail(failure, "cannot read the layer's pixels");
    const GeglRectangle area = {x, y, pixels->width, pixels->height};
    gegl_buffer_get(buffer, &area, 1.0, floatFormat(drawable, pixels->channels), pixels->data, GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    return true;
}

bool vgReadRegion(gint32 drawable, gint x, gint y, gint width, gint height, VgPixels* pixels, VgFailure* failure) {
    if (!vgAllocPixels(pixels, width, height, vgDrawableChannels(drawable), failure)) return false;
    if (vgReadInto(drawable, x, y, pixels, failure)) return true;
    vgFreePixels(pixels);
    return false;
}

/* The one-channel float format with the drawable's own tone curve and
 * space: a mask's values are opacities, stored as they are given. */
static const Babl* ownFloatFormat(gint32 drawable) {
    const Babl* own = gimp_drawable_get_format(drawable);
    const char* encoding = babl_format_get_encoding(own);
    const char* name = "Y float";
    if (strncmp(encoding, "Y'", 2) == 0)
        name = "Y' float";
    else if (strncmp(encoding, "Y~", 2) == 0)
        name = "Y~ float";
    return babl_format_with_space(name, babl_format_get_space(own));
}

static bool writeWithFormat(gint32 drawable, gint x, gint y, const VgPixels* pixels, const Babl* format,
                            VgFailure* failure) {
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    if (!shadow) return vgFail(failure, "cannot write the layer's pixels");
    const GeglRectangle area = {x, y, pixels->width, pixels->height};
    gegl_buffer_set(shadow, &area, 0, format, pixels->data, GEGL_AUTO_ROWSTRIDE);
    gegl_buffer_flush(shadow);
    g_object_unref(shadow);
    if (!gimp_drawable_merge_shadow(drawable, TRUE)) return vgFail(failure, "GIMP could not take the result");
    gimp_drawable_update(drawable, x, y, pixels->width, pixels->height);
    return true;
}

bool vgWriteRegion(gint32 drawable, gint x, gint y, const VgPixels* pixels, VgFailure* failure) {
    if (pixels->channels < 1 || pixels->channels > 4)
        return vgFail(failure, "cannot write pixels of %d channels", (int)pixels->channels);
    return writeWithFormat(drawable, x, y, pixels, floatFormat(drawable, pixels->channels), failure);
}

bool vgWriteMaskRegion(gint32 mask, gint x, gint y, const VgPixels* pixels, VgFailure* failure) {
    if (pixels->channels != 1) return vgFail(failure, "a mask takes one channel, not %d", (int)pixels->channels);
    return writeWithFormat(mask, x, y, pixels, ownFloatFormat(mask), failure);
}
