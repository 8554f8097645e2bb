#include "orientation.h"

#include <libexif/exif-data.h>

#include <memory>

bool swapsSides(Orientation o) { return static_cast<int>(o) >= 5; }

Placement placement(Orientation o, int32_t storedWidth, int32_t storedHeight) {
    const int64_t w = storedWidth, h = storedHeight;
    switch (o) {
        case Orientation::Upright: return {0, 1, w};
        case Orientation::MirrorX: return {w - 1, -1, w};
        case Orientation::Rotate180: return {(h - 1) * w + w - 1, -1, -w};
        case Orientation::MirrorY: return {(h - 1) * w, 1, -w};
        // The upright picture is h wide: stored column x is its row x (or w-1-x).
        case Orientation::Transpose: return {0, h, 1};
        case Orientation::Rotate90: return {h - 1, h, -1};
        case Orientation::Transverse: return {(w - 1) * h + h - 1, -h, -1};
        case Orientation::Rotate270: return {(w - 1) * h, -h, 1};
    }
    return {0, 1, w};
}

Orientation orientationFromValue(int value) {
    return value >= 1 && value <= 8 ? static_cast<Orientation>(value) : Orientation::Upright;
}

namespace {

struct ExifDataReleaser {
    void operator()(ExifData* d) const { exif_data_unref(d); }
};

}  // namespace

Orientation orientationFromExif(const unsigned char* data, size_t size) {
    if (!data || size < 6 || size > 0xFFFF) return Orientation::Upright;
    const std::unique_ptr<ExifData, ExifDataReleaser> exif(exif_data_new_from_data(data, static_cast<unsigned>(size)));
    if (!exif) return Orientation::Upright;
    ExifEntry* entry = exif_data_get_entry(exif.get(), EXIF_TAG_ORIENTATION);
    if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || !entry->data || entry->size < 2)
        return Orientation::Upright;
    return orientationFromValue(exif_get_short(entry->data, exif_data_get_byte_order(exif.get())));
}
