/* Velmora: runs ONNX image models over images of any size.
 *
 * A host creates a context, loads a model from memory and hands it images.
 * Every function except createContext takes the context handle first.
 * Failures are reported as results (false, null, an empty record); the text
 * of what went wrong is fetched, and cleared, with getErrorText.
 *
 * Result buffers belong to the library and are reused by later calls, with two
 * exceptions: the byte buffer returned by predict and the text returned by
 * getDeviceNameByIndex are allocated anew (C++ array new) for the caller.
 */
#ifndef VELMORA_H
#define VELMORA_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#if defined(VELMORA_BUILDING_LIBRARY)
#define VELMORA_API __declspec(dllexport)
#else
#define VELMORA_API __declspec(dllimport)
#endif
#else
#define VELMORA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Interleaved float image: channel ch of pixel (x, y) is
 * data[(y * width + x) * numChannels + ch]. The empty record is {0, 0, 0, NULL}. */
typedef struct ImageFloat {
    int32_t width;
    int32_t height;
    int32_t numChannels;
    float* data;
} ImageFloat;

/* Called before each tile with the share done so far (0 to 100) and once with
 * 100 at the end. Returning true asks the running tiled prediction to stop.
 * It may delete the context it reports on: the run then stops as if asked to,
 * returns its failure result, and the context is gone when the call returns.
 * It must not let an exception out: the library's clean-up would be skipped. */
typedef bool (*ProgressCallback)(void* userData, float percent);

typedef void* VelmoraContext;

/* Contexts and error texts */
VELMORA_API VelmoraContext createContext(int32_t unused, const char* callerName);
VELMORA_API void deleteContext(VelmoraContext context);
/* Writes at most |length - 1| bytes, zero-filled; a text of that length or longer
 * arrives without a terminating zero. length -12 gives the build date. */
VELMORA_API void getErrorText(VelmoraContext context, char* buffer, int32_t length);

/* Models (the bytes must stay alive and unchanged while the model is loaded) */
VELMORA_API bool loadModel(VelmoraContext context, const void* modelData, uint32_t modelSize,
                           const char* inputName, const char* outputName);
VELMORA_API bool loadModelEx(VelmoraContext context, const void* modelData, uint32_t modelSize,
                             const char* inputName, const char* outputName,
                             int32_t inputLayout, int32_t outputLayout);
VELMORA_API void deallocateModel(VelmoraContext context);
VELMORA_API void deallocateImage(VelmoraContext context);

/* Tiled prediction */
VELMORA_API ImageFloat predictByTilesImageFloat(VelmoraContext context, ImageFloat image,
                                                int32_t tileSize, int32_t step, int32_t downscale,
                                                ProgressCallback callback, void* userData);
VELMORA_API float* predictByTilesFloat(VelmoraContext context, float* data, int32_t width,
                                       int32_t height, int32_t numChannels, int32_t tileSize,
                                       int32_t step, int32_t downscale,
                                       ProgressCallback callback, void* userData);
VELMORA_API unsigned char* predictByTiles(VelmoraContext context, unsigned char* data,
                                          int32_t width, int32_t height, int32_t numChannels,
                                          int32_t tileSize, int32_t step, bool argmax,
                                          float inputScale, float outputScale, int32_t downscale,
                                          ProgressCallback callback, void* userData);

/* Direct runs on one whole input of the model's size */
VELMORA_API unsigned char* predict(VelmoraContext context, float* data, int32_t width,
                                   int32_t height, int32_t numChannels, bool argmax);
VELMORA_API float* predictFloat(VelmoraContext context, float* data, int32_t width,
                                int32_t height, int32_t numChannels, bool unused);
VELMORA_API float* predict2InputsFloat(VelmoraContext context, float* data1, float* data2,
                                       int32_t width, int32_t height, int32_t numChannels);
VELMORA_API float* predict3InputsFloat(VelmoraContext context, ImageFloat input1,
                                       ImageFloat input2, ImageFloat input3);

/* Initialisation and information; buffers hold at least 1000 bytes
 * (getModelInformation: 2048) */
VELMORA_API void initializeVelmora(VelmoraContext context, const char* hostName, void* unused,
                                   char* buffer);
VELMORA_API float getVelmoraVersion(VelmoraContext context, const char* unused1,
                                    const char* unused2, int32_t unused3);
VELMORA_API void getNNEngineInformation(VelmoraContext context, const char* hostName,
                                        char* buffer);
VELMORA_API void getModelInformation(VelmoraContext context, void* unused1, int32_t unused2,
                                     char* buffer);
VELMORA_API char* getDeviceNameByIndex(VelmoraContext context, int32_t index);

#ifdef __cplusplus
}
#endif

#endif
