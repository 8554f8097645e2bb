// Writing what a run gave: the result shaped as the picture was (alpha put
// back, gray kept gray, depth and colour profile kept), or for --cutout the
// picture itself with the model's mask as its alpha.
#pragma once

#include <filesystem>

#include "channels.h"
#include "image_files.h"
#include "model_input.h"
#include "model_run.h"
#include "options.h"
#include "result_rows.h"

// 8, 16 or 32 bits as asked, else `fallback`.
SampleType requestedType(int bits, SampleType fallback);

struct Written {
    SampleType type = SampleType::UInt8;
    int32_t width = 0, height = 0, channels = 0;
};

// The result, its values mapped by `values` (the output scale and the
// inverse normalisation), written to `path` in `format`. A `mask` is
// written alone, without the picture's alpha.
Written writeResult(const std::filesystem::path& path, FileFormat format, const ImageHeader& head,
                    const ModelInputImage& input, const RunResult& result, const ChannelMap& values,
                    const Options& options, bool mask);

// The same from rows handed out one at a time.
Written writeResult(const std::filesystem::path& path, FileFormat format, const ImageHeader& head, PictureRows& picture,
                    ResultRows& result, const ChannelMap& values, const Options& options, bool mask);

// The picture's kept colours with the mask (the result's one channel,
// mapped by `values`, clamped to [0, 1], averaged down when the model's
// result is larger than the picture) as alpha. Throws when the format holds
// no alpha or the result is no mask of the picture.
Written writeCutout(const std::filesystem::path& path, FileFormat format, const ImageHeader& head,
                    const ModelInputImage& input, const RunResult& result, const ChannelMap& values,
                    const Options& options);
Written writeCutout(const std::filesystem::path& path, FileFormat format, const ImageHeader& head, PictureRows& picture,
                    ResultRows& result, const ChannelMap& values, const Options& options);
