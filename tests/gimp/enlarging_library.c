/* A stand-in for libvelmora, put beside a copy of the GIMP plug-in, whose
 * tiled prediction returns the picture twice as wide and high (each pixel
 * repeated 2 x 2), as an enlarging model will once the library runs such
 * models. It lets the plug-in's path for larger results run inside GIMP.
 * Only the functions the plug-in calls are here. */
#include <stdlib.h>
#include <string.h>

#include "velmora.h"

typedef struct Fake {
    ImageFloat result;
    bool loaded;
} Fake;

VELMORA_API VelmoraContext createContext(int32_t unused, const char* callerName) {
    (void)unused;
    (void)callerName;
    return calloc(1, sizeof(Fake));
}

VELMORA_API void deallocateImage(VelmoraContext context) {
    Fake* fake = context;
    free(fake->result.data);
    memset(&fake->result, 0, sizeof fake->result);
}

VELMORA_API void deleteContext(VelmoraContext context) {
    if (!context) return;
    deallocateImage(context);
    free(context);
}

VELMORA_API void getErrorText(VelmoraContext context, char* buffer, int32_t length) {
    (void)context;
    if (length > 0) memset(buffer, 0, (size_t)length);
}

VELMORA_API void initializeVelmora(VelmoraContext context, const char* hostName, void* unused, char* buffer) {
    (void)context;
    (void)hostName;
    (void)unused;
    strcpy(buffer, "enlarging stand-in");
}

VELMORA_API bool loadModelEx(VelmoraContext context, const void* modelData, uint32_t modelSize, const char* inputName,
                             const char* outputName, int32_t inputLayout, int32_t outputLayout) {
    (void)modelData;
    (void)modelSize;
    (void)inputName;
    (void)outputName;
    (void)inputLayout;
    (void)outputLayout;
    ((Fake*)context)->loaded = true;
    return true;
}

VELMORA_API void deallocateModel(VelmoraContext context) {
    if (context) ((Fake*)context)->loaded = false;
}

VELMORA_API ImageFloat predictByTilesImageFloat(VelmoraContext context, ImageFloat image, int32_t tileSize,
                                                int32_t step, int32_t downscale, ProgressCallback callback,
                                                void* userData) {
    (void)tileSize;
    (void)step;
    (void)downscale;
    Fake* fake = context;
    const ImageFloat empty = {0, 0, 0, NULL};
    deallocateImage(context);
    if (!fake->loaded || !image.data) return empty;
    if (callback) callback(userData, 0.0f);
    const int32_t w = image.width * 2, h = image.height * 2, c = image.numChannels;
    float* data = malloc(sizeof(float) * (size_t)w * (size_t)h * (size_t)c);
    if (!data) return empty;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            memcpy(data + ((size_t)y * w + x) * c, image.data + ((size_t)(y / 2) * image.width + x / 2) * c,
                   sizeof(float) * (size_t)c);
    if (callback) callback(userData, 100.0f);
    fake->result = (ImageFloat){w, h, c, data};
    return fake->result;
}
