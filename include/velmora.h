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

/* Models (the bytes must stay alive and unchanged while the model is loaded).
 *
 * A model takes and gives tensors of float, float16, bfloat16 or double
 * elements: the library converts at the model's boundary (float16 and
 * bfloat16 rounded to nearest, ties to even, keeping subnormals, infinities
 * and NaN), and hosts only ever see floats. A model with an input or output
 * of any other element type is refused by the call that would use it, with
 * a message naming the input or output and its type.
 *
 * The layout codes of loadModelEx (loadModel gives 1 and 1): 0 channels-first
 * ([1, C, H, W]), 1 channels-last ([1, H, W, C]). The tiled calls read the
 * layout from the model's own shapes and use a code only where a shape
 * cannot tell (open dimensions, or a channel count equal to the tile's side).
 * The direct calls read outputs by the output code (see below). */
VELMORA_API bool loadModel(VelmoraContext context, const void* modelData, uint32_t modelSize,
                           const char* inputName, const char* outputName);
VELMORA_API bool loadModelEx(VelmoraContext context, const void* modelData, uint32_t modelSize,
                             const char* inputName, const char* outputName,
                             int32_t inputLayout, int32_t outputLayout);
VELMORA_API void deallocateModel(VelmoraContext context);
VELMORA_API void deallocateImage(VelmoraContext context);

/* Tiled prediction.
 *
 * The image is cut into square tiles of tileSize pixels, step pixels apart;
 * each tile gives the central step x step square of the model's result.
 * Images are interleaved; each tile goes to the model in the model's layout
 * and element type, and its result, whatever its layout, is stitched into an
 * interleaved result. A model whose dimensions are open takes batch 1, sides
 * of tileSize and the image's channel count. A model whose fixed input size
 * or channel count differs from the tile's or the image's is refused before
 * the first tile, with a message naming both.
 *
 * An upscaling model, whose result is S times its tile on both sides (S a
 * whole number from 2 to 16), gives a result S times the image: width x S by
 * height x S, with the model's output channels. A result of any other size is
 * refused with a message naming it. With downscale K (|K| >= 2) the image is
 * shrunk by K, run, and the result enlarged by K, still S times the image; a
 * negative K also adds the detail that shrinking removed, enlarged S times.
 * The two pipelines shrink differently: the float calls box-average the whole
 * image once and cut tiles from the shrunk copy; predictByTiles cuts each
 * tile at K times the model's side and box-averages that tile alone. Their
 * results therefore differ near tile borders when K >= 2.
 *
 * The result's sizes: predictByTilesImageFloat returns them in its record.
 * A host of predictByTilesFloat or predictByTiles, which return only a
 * pointer, reads them after a successful call from getModelInformation with
 * details VELMORA_MODEL_DETAILS: its second line is
 *     "Last tiled result: <width> x <height> x <channels> (scale <S>)"
 * ("Last tiled result: none" after a call that gave no result). The same text
 * lists the model's inputs and outputs (names, element types, shapes with
 * "?" for open dimensions, layouts), from which a model with fixed shapes
 * tells its scale and output channels before any run. */
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

/* Direct runs on one whole input of the model's size. The caller's buffer
 * goes to the model as it is (only its element type converted): the caller
 * gives the model's own layout. Open dimensions of the input take the
 * caller's width, height and channels (batch 1), placed by the input's
 * layout; sizes whose product cannot be counted are refused. The output comes
 * back in the model's own element order, converted to floats: a
 * channels-first output comes back planar. */
VELMORA_API unsigned char* predict(VelmoraContext context, float* data, int32_t width,
                                   int32_t height, int32_t numChannels, bool argmax);
VELMORA_API float* predictFloat(VelmoraContext context, float* data, int32_t width,
                                int32_t height, int32_t numChannels, bool unused);
VELMORA_API float* predict2InputsFloat(VelmoraContext context, float* data1, float* data2,
                                       int32_t width, int32_t height, int32_t numChannels);
VELMORA_API float* predict3InputsFloat(VelmoraContext context, ImageFloat input1,
                                       ImageFloat input2, ImageFloat input3);

/* Initialisation and information; buffers hold at least 1000 bytes
 * (getModelInformation: 2048). getModelInformation's `details`: 0 (what hosts
 * have always passed) gives "Version: ... GPURAM: ... Mb" alone;
 * VELMORA_MODEL_DETAILS adds lines on the last tiled result and the model
 * (see Tiled prediction); other values count as 0. */
#define VELMORA_MODEL_DETAILS 1
VELMORA_API void initializeVelmora(VelmoraContext context, const char* hostName, void* unused,
                                   char* buffer);
VELMORA_API float getVelmoraVersion(VelmoraContext context, const char* unused1,
                                    const char* unused2, int32_t unused3);
VELMORA_API void getNNEngineInformation(VelmoraContext context, const char* hostName,
                                        char* buffer);
VELMORA_API void getModelInformation(VelmoraContext context, void* unused, int32_t details, char* buffer);
VELMORA_API char* getDeviceNameByIndex(VelmoraContext context, int32_t index);

/* ==========================================================================
 * Velmora extensions: exports beyond the nineteen above, all named velmora*.
 *
 * Who owns what. Records passed by pointer belong to the host: the library
 * reads or fills them during the call and keeps no pointer to them after it.
 * Every such record starts with `size`, which the host sets to sizeof the
 * record as its copy of this header declares it. The library reads and
 * writes only that many bytes, so that a record can grow at its end without
 * breaking a host built against an older header; a size smaller than the
 * record's first version is refused. Texts inside records are zero-terminated
 * and cut to their field. A failure returns false; its words are fetched
 * with getErrorText, as for the nineteen.
 * ========================================================================== */

/* Messages. Severities are the runtime's own numbers. */
#define VELMORA_SEVERITY_VERBOSE 0
#define VELMORA_SEVERITY_INFO 1
#define VELMORA_SEVERITY_WARNING 2
#define VELMORA_SEVERITY_ERROR 3
#define VELMORA_SEVERITY_FATAL 4
/* Where a message comes from. */
#define VELMORA_FROM_LIBRARY 0
#define VELMORA_FROM_RUNTIME 1

/* Receives one line, without a line end; `text` is valid only during the
 * call. It may be called on any thread (the runtime logs from its own), on
 * two at once, and while any export runs; it must return quickly, must not
 * call the library and must not let an exception out. */
typedef void (*VelmoraMessageSink)(void* userData, int32_t severity, int32_t source, const char* text);

/* Sends the lines the library prints (model description, device and
 * settings messages) and the runtime's log lines to `sink` instead of
 * standard output and standard error, for the whole process. `runtimeLevel`
 * is the lowest severity the runtime reports for sessions made from then on,
 * 0 (verbose) to 4 (fatal), values outside taken as the nearer end; without
 * a sink the runtime reports everything, as it always has. A null sink puts
 * the console back; the runtime's lines of sessions made while a sink was
 * set then go to standard error. When the call returns, no thread is still
 * in the previous sink.
 *
 * Set it before the first context: the runtime keeps one environment per
 * process, made with the first context and kept while any context uses it,
 * and reports the environment's lines to where they went when it was made. */
VELMORA_API void velmoraSetMessageSink(VelmoraMessageSink sink, void* userData, int32_t runtimeLevel);

/* The model, typed. */
#define VELMORA_NAME_SIZE 128
#define VELMORA_MAX_DIMS 8
#define VELMORA_MAX_TENSORS 8
#define VELMORA_REASON_SIZE 256

/* A tensor's layout; also the codes of loadModelEx. */
#define VELMORA_LAYOUT_NONE (-1) /* not four dimensions: not an image */
#define VELMORA_CHANNELS_FIRST 0 /* [1, C, H, W] */
#define VELMORA_CHANNELS_LAST 1  /* [1, H, W, C] */

typedef struct VelmoraTensorInfo {
    char name[VELMORA_NAME_SIZE];
    int32_t elementType;            /* ONNX's code: 1 float, 10 float16, 11 double, 16 bfloat16, ... */
    int32_t converted;              /* 1 when the library converts it to and from floats */
    int32_t layout;                 /* read from the shape as the tiled runs read it */
    int32_t dimCount;               /* all of them; the first VELMORA_MAX_DIMS are given */
    int64_t dims[VELMORA_MAX_DIMS]; /* -1 where the model leaves a dimension open */
    int32_t width, height, channels; /* placed by the layout: -1 open, 0 not an image */
} VelmoraTensorInfo;

/* What the model needs of tiled runs, measured by running it (a few small
 * runs, once per load; again when the profile changes): on a sample of the
 * host's picture, or on a stock picture of the library's. */
typedef struct VelmoraModelNeeds {
    uint32_t size;            /* sizeof(VelmoraModelNeeds), set by the host */
    int32_t measured;         /* 1 when the fields below are known */
    int32_t multiple;         /* tile sides it takes are multiples of this (its side, when fixed) */
    int32_t smallestSide;     /* the smallest side it ran on */
    int32_t reach;            /* pixels: the margin beyond which a tile agrees with a larger view */
    int32_t wholePicture;     /* 1: it reads the picture as a whole; tiles disagree at any margin */
    int32_t exact;            /* 1: beyond its reach tiles agree with a larger view to rounding */
    int32_t scale;            /* result side / input side */
    int32_t outputChannels;
    float disagreementFloor;  /* the typical disagreement no margin removes, in output units */
    double probeSeconds;      /* what measuring took */
} VelmoraModelNeeds;

typedef struct VelmoraModelInfo {
    uint32_t size;       /* sizeof(VelmoraModelInfo), set by the host */
    int32_t inputCount;  /* all of them; the first VELMORA_MAX_TENSORS are described */
    int32_t outputCount;
    VelmoraTensorInfo inputs[VELMORA_MAX_TENSORS];
    VelmoraTensorInfo outputs[VELMORA_MAX_TENSORS];
    /* What the tiled runs make of it. */
    int32_t tiled;                      /* 1: the tiled runs take it */
    char notTiled[VELMORA_REASON_SIZE]; /* why not, when tiled is 0 */
    int32_t tileSize;                   /* the side it takes; 0 when open */
    int32_t inputChannels;              /* 0 when open */
    int32_t outputChannels;             /* 0 until its shapes or a tiled run tell */
    int32_t scale;                      /* result side / tile side; 0 until its shapes or a tiled run tell */
    VelmoraModelNeeds needs;            /* what measuring found; needs.measured 0 before it */
    char executionProvider[VELMORA_NAME_SIZE]; /* what runs it: the runtime's name, e.g. "CPUExecutionProvider" */
} VelmoraModelInfo;

/* Describes the loaded model. False without a model or with a size too small. */
VELMORA_API bool velmoraDescribeModel(VelmoraContext context, VelmoraModelInfo* info);

/* Measures the loaded model (again, if it was): on `sample`, a picture of
 * the host's in the values it will run (null: the stock picture). Fills
 * `needs` (may be null). */
VELMORA_API bool velmoraMeasureModel(VelmoraContext context, const ImageFloat* sample, VelmoraModelNeeds* needs);

/* A run plan: how a picture of given sizes is run. The host fills a request
 * (0 where the library is to choose) and reads the plan the library makes;
 * it may adjust the plan and hand it to velmoraPredict. A request that gives
 * both tile and step is planned from the model's shapes alone; any other
 * measures the model first if it was not (on `sample`, or the stock
 * picture). */
#define VELMORA_STRATEGY_AUTO 0  /* request: the library chooses */
#define VELMORA_STRATEGY_TILES 1 /* overlapping tiles, stitched */
#define VELMORA_STRATEGY_WHOLE 2 /* the whole picture at once, resized to what the model takes */
#define VELMORA_BLEND_AUTO 0     /* request: blend where the margins cannot cover the reach */
#define VELMORA_BLEND_OFF 1      /* the hard cut of the tiled calls */
#define VELMORA_BLEND_ON 2

typedef struct VelmoraPlanRequest {
    uint32_t size; /* sizeof(VelmoraPlanRequest), set by the host */
    int32_t width, height, channels; /* of the picture; channels as the model takes them */
    int32_t tileSize;  /* 0: the library chooses */
    int32_t step;      /* between tile origins; 0: the library chooses */
    int32_t downscale; /* signed K, as the tiled calls take it; 0 means 1 */
    int32_t strategy;  /* VELMORA_STRATEGY_* */
    int32_t blend;     /* VELMORA_BLEND_* */
    uint64_t memoryBudget;    /* bytes the run may hold; 0: no limit */
    const ImageFloat* sample; /* borrowed for the call: a picture to measure the model on, or null */
} VelmoraPlanRequest;

typedef struct VelmoraPlan {
    uint32_t size; /* sizeof(VelmoraPlan), set by the host */
    int32_t width, height, channels;
    int32_t tileSize, step, downscale;
    int32_t margin;          /* each tile's overlap on either side, at the model's scale */
    int32_t across, down;    /* tiles */
    int64_t runs;            /* model runs */
    int32_t scale;           /* result side / picture side; 0 until known */
    int32_t resultWidth, resultHeight, resultChannels; /* 0 until known */
    int32_t strategy;        /* VELMORA_STRATEGY_TILES or _WHOLE */
    int32_t blend;           /* 1: overlaps blended */
    int32_t runWidth, runHeight; /* whole picture: the size it is run at */
    uint64_t peakBytes;      /* the library's memory at the run's busiest (the host's picture aside) */
    double seconds;          /* the model's time as measured runs foretell it; 0 when not measured */
    char reason[VELMORA_REASON_SIZE]; /* why, in a sentence */
} VelmoraPlan;

/* The plan for the request, or false with words naming what does not fit. */
VELMORA_API bool velmoraPlan(VelmoraContext context, const VelmoraPlanRequest* request, VelmoraPlan* plan);

/* Runs `image` (interleaved floats, as the profile says the host gives them)
 * by `plan`, made for its sizes. The profile is applied on the way in and
 * out. Progress and stop as the tiled calls: the callback hears the share
 * done before each run and 100 at the end; true stops. The result belongs
 * to the context, as predictByTilesImageFloat's (released with
 * deallocateImage or by the next run); the empty record on failure, with
 * words for getErrorText, or when stopped. One call at a time per context. */
VELMORA_API ImageFloat velmoraPredict(VelmoraContext context, ImageFloat image, const VelmoraPlan* plan,
                                      ProgressCallback callback, void* userData);

/* Streaming: a plan of tiles (hard cut or blended, shrunk by a positive
 * downscale or not) run one band of rows at a time, for pictures and results
 * larger than memory. A band is
 * `tileRows` rows of the plan's tiles; the host hands each band the picture
 * rows it asks for (its margins above and below included) and gets back the
 * band's finished result rows, the same, bit for bit, as those rows of the
 * whole picture run by velmoraPredict. Bands run in order, from 0; progress
 * and stop cover the whole picture (100 after the last band). Blended
 * overlaps and a shrunk picture's enlargement reach across a band's border:
 * the context keeps those rows of one band's result for the next, so that
 * bands run in order run each tile once. A band run out of order, with
 * another plan or after a failure or stop, runs those tiles again, to the
 * same rows. */
typedef struct VelmoraBand {
    uint32_t size;                      /* sizeof(VelmoraBand), set by the host */
    int32_t index, count;               /* this band, of how many */
    int32_t inputFirstRow, inputRows;   /* the picture rows it is cut from */
    int32_t resultFirstRow, resultRows; /* the result rows it finishes: picture rows times the model's
                                           scale, once the plan or a run of the model has told it */
    uint64_t peakBytes;                 /* the library's memory while it runs, the rows kept included */
} VelmoraBand;

/* Band `index` of `plan` in bands of `tileRows` tile rows (0: the library
 * chooses, as few rows as keep the model busy). */
VELMORA_API bool velmoraBand(VelmoraContext context, const VelmoraPlan* plan, int32_t tileRows, int32_t index,
                             VelmoraBand* band);

/* Runs band `index`: `rows` is the band's input (the plan's width, the
 * band's inputRows, the picture's channels). The result (the plan's result
 * width, the band's resultRows) belongs to the context until its next run
 * or deallocateImage. The empty record with words on failure, or when
 * stopped. */
VELMORA_API ImageFloat velmoraPredictBand(VelmoraContext context, const VelmoraPlan* plan, int32_t tileRows,
                                          int32_t index, ImageFloat rows, ProgressCallback callback, void* userData);

/* The model's profile: how the host's values become the model's and back.
 * The tiled float calls take values as the host gives them; velmoraPredict
 * and predictByTiles apply the profile: a host value v (0 to 1, for an 8-bit
 * byte b: b * inputScale) reaches the model as
 *     (inputLow + v * (inputHigh - inputLow) - mean[c]) / std[c]
 * in the model's colour order, and an image output y comes back as
 *     (y - outputLow) / (outputHigh - outputLow)
 * in the host's order. Masks and class scores come back as they are. The
 * profile in effect is the host's (velmoraSetProfile), else a sidecar text's
 * the host handed over (velmoraLoadProfile; the format is in docs/), else
 * the model's metadata properties' (keys "velmora.mean", "velmora.std",
 * "velmora.input_range", "velmora.colors", "velmora.output",
 * "velmora.output_range"); without any it changes nothing. */
#define VELMORA_PROFILE_CHANNELS 8
#define VELMORA_COLORS_RGB 0
#define VELMORA_COLORS_BGR 1
#define VELMORA_OUTPUT_IMAGE 0
#define VELMORA_OUTPUT_MASK 1   /* a mask or probability map */
#define VELMORA_OUTPUT_SCORES 2 /* class scores, one channel per class */
/* Where a profile came from. */
#define VELMORA_PROFILE_NONE 0
#define VELMORA_PROFILE_METADATA 1
#define VELMORA_PROFILE_SIDECAR 2
#define VELMORA_PROFILE_HOST 3

typedef struct VelmoraProfile {
    uint32_t size;    /* sizeof(VelmoraProfile), set by the host */
    int32_t channels; /* how many of mean and std are given (0: none, every channel 0 and 1) */
    float mean[VELMORA_PROFILE_CHANNELS];
    float std[VELMORA_PROFILE_CHANNELS];
    float inputLow, inputHigh; /* the model's values for the host's 0 and 1 */
    int32_t colors;            /* VELMORA_COLORS_* */
    int32_t output;            /* VELMORA_OUTPUT_* */
    float outputLow, outputHigh; /* an image output's values for 0 and 1 */
    int32_t source;              /* VELMORA_PROFILE_* (filled by the library) */
} VelmoraProfile;

/* The profile in effect for the loaded model. Each load reads the model's
 * metadata properties; a model whose velmora.* values are not a profile
 * still loads, leaving no words behind: those values are ignored (a console
 * line says why) and the profile is VELMORA_PROFILE_NONE's. mean and std give
 * `channels` values in the model's channel order; one value serves every
 * channel, and channels past a longer list take 0 and 1. These three calls
 * fail without a loaded model. */
VELMORA_API bool velmoraGetProfile(VelmoraContext context, VelmoraProfile* profile);
/* Sets the profile for the loaded model (until the next load); null puts
 * back the model's own. False, with words, for a std of 0, equal ends of a
 * range, values that are not finite or codes out of their range. */
VELMORA_API bool velmoraSetProfile(VelmoraContext context, const VelmoraProfile* profile);
/* Reads a sidecar text (the contents of MODEL.onnx.json) as the loaded
 * model's profile (until the next load). False, with words naming what is
 * wrong, for a text that is not a profile. */
VELMORA_API bool velmoraLoadProfile(VelmoraContext context, const char* text);

#ifdef __cplusplus
}
#endif

#endif
