#include "export_call.h"

#include <cstring>

ExportCall readCall(ByteReader& in) {
    ExportCall c;
    c.model = in.byte();
    c.op = static_cast<Export>(in.byte() % static_cast<uint8_t>(Export::Count));
    c.width = in.number();
    c.height = in.number();
    c.channels = in.number();
    c.tile = in.number();
    c.step = in.number();
    c.downscale = in.number();
    const uint8_t flags = in.byte();
    c.argmax = flags & 1;
    c.deleteInCallback = flags & 2;
    c.noCallback = flags & 4;
    c.nullData = flags & 8;
    c.inputScale = in.scale(kCommonScales, kCommonScaleCount);
    c.outputScale = in.scale(kCommonScales, kCommonScaleCount);
    c.stopAt = in.byte();
    c.extra = in.number();
    c.pixels = static_cast<Pixels>(in.byte() % static_cast<uint8_t>(Pixels::Count));
    c.seed = in.raw(4);
    c.inner.at = in.byte();
    c.inner.api = static_cast<Api>(in.byte() % static_cast<uint8_t>(Api::Count));
    const uint8_t innerFlags = in.byte();
    c.inner.other = innerFlags & 1;
    c.inner.fetchWords = innerFlags & 2;
    c.inner.arg = in.number();
    return c;
}

void writeCall(ByteWriter& out, const ExportCall& c) {
    out.byte(c.model);
    out.byte(static_cast<uint8_t>(c.op));
    out.number(c.width);
    out.number(c.height);
    out.number(c.channels);
    out.number(c.tile);
    out.number(c.step);
    out.number(c.downscale);
    out.byte(static_cast<uint8_t>((c.argmax ? 1 : 0) | (c.deleteInCallback ? 2 : 0) | (c.noCallback ? 4 : 0) |
                                  (c.nullData ? 8 : 0)));
    out.scale(c.inputScale, kCommonScales, kCommonScaleCount);
    out.scale(c.outputScale, kCommonScales, kCommonScaleCount);
    out.byte(c.stopAt);
    out.number(c.extra);
    out.byte(static_cast<uint8_t>(c.pixels));
    out.raw(c.seed, 4);
    out.byte(c.inner.at);
    out.byte(static_cast<uint8_t>(c.inner.api));
    out.byte(static_cast<uint8_t>((c.inner.other ? 1 : 0) | (c.inner.fetchWords ? 2 : 0)));
    out.number(c.inner.arg);
}

std::vector<ExportCall> readCalls(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    std::vector<ExportCall> calls;
    do {
        calls.push_back(readCall(in));
    } while (!in.empty() && calls.size() < kMaxCallsPerInput);
    return calls;
}

std::vector<uint8_t> writeCalls(const std::vector<ExportCall>& calls) {
    ByteWriter out;
    for (const ExportCall& c : calls) writeCall(out, c);
    return out.bytes();
}

bool operator==(const ExportCall& a, const ExportCall& b) {
    auto sameBits = [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return a.model == b.model && a.op == b.op && a.width == b.width && a.height == b.height &&
           a.channels == b.channels && a.tile == b.tile && a.step == b.step && a.downscale == b.downscale &&
           a.argmax == b.argmax && sameBits(a.inputScale, b.inputScale) && sameBits(a.outputScale, b.outputScale) &&
           a.stopAt == b.stopAt && a.deleteInCallback == b.deleteInCallback && a.noCallback == b.noCallback &&
           a.nullData == b.nullData && a.extra == b.extra && a.pixels == b.pixels && a.seed == b.seed &&
           a.inner.at == b.inner.at && a.inner.api == b.inner.api && a.inner.other == b.inner.other &&
           a.inner.fetchWords == b.inner.fetchWords && a.inner.arg == b.inner.arg;
}

const char* exportName(Export op) {
    switch (op) {
        case Export::TilesImageFloat: return "predictByTilesImageFloat";
        case Export::TilesFloat: return "predictByTilesFloat";
        case Export::TilesBytes: return "predictByTiles";
        case Export::Predict: return "predict";
        case Export::PredictFloat: return "predictFloat";
        case Export::Predict2Inputs: return "predict2InputsFloat";
        case Export::Predict3Inputs: return "predict3InputsFloat";
        case Export::ErrorText: return "getErrorText";
        case Export::Information: return "information";
        case Export::Initialize: return "initializeVelmora";
        case Export::DeallocateImage: return "deallocateImage";
        case Export::Reload: return "reload";
        case Export::Planned: return "velmoraPlan and velmoraPredict";
        case Export::Count: break;
    }
    return "?";
}

const char* apiName(Api api) {
    static const char* const names[] = {"createContext",
                                        "deleteContext",
                                        "getErrorText",
                                        "loadModel",
                                        "loadModelEx",
                                        "deallocateModel",
                                        "deallocateImage",
                                        "predict",
                                        "predictFloat",
                                        "predict2InputsFloat",
                                        "predict3InputsFloat",
                                        "predictByTiles",
                                        "predictByTilesFloat",
                                        "predictByTilesImageFloat",
                                        "initializeVelmora",
                                        "getVelmoraVersion",
                                        "getNNEngineInformation",
                                        "getModelInformation",
                                        "getDeviceNameByIndex",
                                        "velmoraSetMessageSink",
                                        "velmoraDescribeModel",
                                        "velmoraPlan",
                                        "velmoraMeasureModel",
                                        "velmoraPredict",
                                        "velmoraGetProfile",
                                        "velmoraSetProfile",
                                        "velmoraLoadProfile"};
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(Api::Count));
    return api < Api::Count ? names[static_cast<size_t>(api)] : "?";
}

std::string describe(const ExportCall& c, const char* modelFile) {
    static const char* const pixelNames[] = {"random", "ramp", "tiny", "special", "constant"};
    auto num = [](auto v) { return std::to_string(v); };
    std::string s = std::string(exportName(c.op)) + " on " + modelFile + ": image " + num(c.width) + " x " +
                    num(c.height) + " x " + num(c.channels) + (c.nullData ? " (null data)" : "") + ", tile " +
                    num(c.tile) + ", step " + num(c.step) + ", downscale " + num(c.downscale);
    if (c.op == Export::TilesBytes || c.op == Export::Predict)
        s += std::string(", argmax ") + (c.argmax ? "on" : "off") + ", scales " + num(c.inputScale) + " / " +
             num(c.outputScale);
    if (c.noCallback)
        s += ", no callback";
    else if (c.stopAt)
        s += ", stop at progress call " + num(c.stopAt) + (c.deleteInCallback ? " deleting the context" : "");
    else if (c.deleteInCallback)
        s += ", deleting the context in the first progress call";
    s += ", extra " + num(c.extra) + ", pixels " + pixelNames[static_cast<int>(c.pixels)] + " seed " + num(c.seed);
    if (c.inner.at)
        s += std::string(", at progress call ") + num(c.inner.at) + " the callback calls " + apiName(c.inner.api) +
             " on " + (c.inner.other ? "a second context" : "the same context") + " with argument " + num(c.inner.arg) +
             (c.inner.fetchWords ? " and fetches the words" : "");
    return s;
}
