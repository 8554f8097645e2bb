// A minimal reader of the protobuf wire format for the few ONNX fields the
// command needs; everything else is skipped by its wire type.
#include "model_file.h"

#include <fstream>
#include <limits>
#include <set>
#include <stdexcept>

namespace {

// Field numbers from onnx.proto.
constexpr uint32_t kModelIrVersion = 1, kModelProducer = 2, kModelGraph = 7;
constexpr uint32_t kGraphInitializer = 5, kGraphInput = 11, kGraphOutput = 12;
constexpr uint32_t kTensorName = 8;
constexpr uint32_t kValueName = 1, kValueType = 2;
constexpr uint32_t kTypeTensor = 1;
constexpr uint32_t kTensorTypeElem = 1, kTensorTypeShape = 2;
constexpr uint32_t kShapeDim = 1;
constexpr uint32_t kDimValue = 1;

constexpr int kVarint = 0, kFixed64 = 1, kBytes = 2, kFixed32 = 5;

struct Span {
    const unsigned char* p;
    const unsigned char* end;
};

struct Field {
    uint32_t number = 0;
    int wireType = 0;
    uint64_t value = 0;  // varint value
    Span bytes{};        // length-delimited payload
};

[[noreturn]] void malformed() { throw std::runtime_error("not an ONNX model (damaged protobuf)"); }

uint64_t varint(Span& s) {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (s.p == s.end) malformed();
        const unsigned char b = *s.p++;
        v |= static_cast<uint64_t>(b & 0x7f) << shift;
        if (!(b & 0x80)) return v;
    }
    malformed();
}

bool next(Span& s, Field& f) {
    if (s.p == s.end) return false;
    const uint64_t key = varint(s);
    f.number = static_cast<uint32_t>(key >> 3);
    f.wireType = static_cast<int>(key & 7);
    if (f.number == 0) malformed();
    switch (f.wireType) {
        case kVarint: f.value = varint(s); break;
        case kFixed64:
            if (s.end - s.p < 8) malformed();
            s.p += 8;
            break;
        case kFixed32:
            if (s.end - s.p < 4) malformed();
            s.p += 4;
            break;
        case kBytes: {
            const uint64_t length = varint(s);
            if (length > static_cast<uint64_t>(s.end - s.p)) malformed();
            f.bytes = {s.p, s.p + length};
            s.p += length;
            break;
        }
        default: malformed();
    }
    return true;
}

std::string text(const Span& s) { return std::string(reinterpret_cast<const char*>(s.p), s.end - s.p); }

std::vector<int64_t> shapeOf(Span shape) {
    std::vector<int64_t> dims;
    for (Field f; next(shape, f);) {
        if (f.number != kShapeDim || f.wireType != kBytes) continue;
        int64_t value = -1;  // a named or missing dimension is open
        for (Field d; next(f.bytes, d);)
            if (d.number == kDimValue && d.wireType == kVarint) value = static_cast<int64_t>(d.value);
        dims.push_back(value);
    }
    return dims;
}

TensorDescription valueInfo(Span value) {
    TensorDescription t;
    for (Field f; next(value, f);) {
        if (f.number == kValueName && f.wireType == kBytes) t.name = text(f.bytes);
        if (f.number != kValueType || f.wireType != kBytes) continue;
        for (Field type; next(f.bytes, type);) {
            if (type.number != kTypeTensor || type.wireType != kBytes) continue;
            for (Field tensor; next(type.bytes, tensor);) {
                if (tensor.number == kTensorTypeElem && tensor.wireType == kVarint)
                    t.elementType = static_cast<int32_t>(tensor.value);
                if (tensor.number == kTensorTypeShape && tensor.wireType == kBytes) t.dims = shapeOf(tensor.bytes);
            }
        }
    }
    return t;
}

}  // namespace

std::vector<char> readModelFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw std::runtime_error(path.string() + ": no such model file");
    if (std::filesystem::is_directory(path, ec)) throw std::runtime_error(path.string() + ": is a folder, not a model");
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error(path.string() + ": cannot be opened for reading");
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > std::numeric_limits<uint32_t>::max())
        throw std::runtime_error(path.string() + ": a model must be smaller than 4 GiB");
    std::vector<char> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(bytes.data(), size)) throw std::runtime_error(path.string() + ": cannot be read");
    return bytes;
}

ModelDescription describeModel(const std::vector<char>& bytes) {
    Span model{reinterpret_cast<const unsigned char*>(bytes.data()),
               reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()};
    ModelDescription d;
    bool hasGraph = false;
    std::vector<TensorDescription> declared;
    std::set<std::string> initializers;
    for (Field f; next(model, f);) {
        if (f.number == kModelIrVersion && f.wireType == kVarint) d.irVersion = static_cast<int64_t>(f.value);
        if (f.number == kModelProducer && f.wireType == kBytes) d.producer = text(f.bytes);
        if (f.number != kModelGraph || f.wireType != kBytes) continue;
        hasGraph = true;
        for (Field g; next(f.bytes, g);) {
            if (g.wireType != kBytes) continue;
            if (g.number == kGraphInput) declared.push_back(valueInfo(g.bytes));
            if (g.number == kGraphOutput) d.outputs.push_back(valueInfo(g.bytes));
            if (g.number == kGraphInitializer)
                for (Field t; next(g.bytes, t);)
                    if (t.number == kTensorName && t.wireType == kBytes) initializers.insert(text(t.bytes));
        }
    }
    if (!hasGraph || d.irVersion == 0) throw std::runtime_error("not an ONNX model (no graph)");
    // Older exporters list weights among the inputs too.
    for (auto& t : declared)
        if (!initializers.count(t.name)) d.inputs.push_back(std::move(t));
    return d;
}

std::string shapeText(const std::vector<int64_t>& dims) {
    if (dims.empty()) return "scalar";
    std::string s;
    for (size_t i = 0; i < dims.size(); ++i) {
        if (i) s += "x";
        s += dims[i] < 0 ? "?" : std::to_string(dims[i]);
    }
    return s;
}
