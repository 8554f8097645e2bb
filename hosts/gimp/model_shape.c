/* A minimal reader of the protobuf wire format for the few ONNX fields the
 * plug-in needs; everything else is skipped by its wire type. */
#include "model_shape.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Field numbers from onnx.proto. */
enum {
    kModelIrVersion = 1,
    kModelGraph = 7,
    kGraphInitializer = 5,
    kGraphInput = 11,
    kGraphOutput = 12,
    kTensorProtoName = 8,
    kValueName = 1,
    kValueType = 2,
    kTypeTensor = 1,
    kTensorTypeElem = 1,
    kTensorTypeShape = 2,
    kShapeDim = 1,
    kDimValue = 1,
};
enum { kVarint = 0, kFixed64 = 1, kBytes = 2, kFixed32 = 5 };

typedef struct Span {
    const unsigned char* p;
    const unsigned char* end;
} Span;

typedef struct Field {
    uint32_t number;
    int wireType;
    uint64_t value; /* varint */
    Span bytes;     /* length-delimited payload */
} Field;

static bool readVarint(Span* s, uint64_t* v) {
    *v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (s->p == s->end) return false;
        const unsigned char b = *s->p++;
        *v |= (uint64_t)(b & 0x7f) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

/* 1: a field was read; 0: the span is used up; -1: damaged. */
static int nextField(Span* s, Field* f) {
    if (s->p == s->end) return 0;
    uint64_t key;
    if (!readVarint(s, &key)) return -1;
    f->number = (uint32_t)(key >> 3);
    f->wireType = (int)(key & 7);
    if (f->number == 0) return -1;
    switch (f->wireType) {
        case kVarint: return readVarint(s, &f->value) ? 1 : -1;
        case kFixed64:
            if (s->end - s->p < 8) return -1;
            s->p += 8;
            return 1;
        case kFixed32:
            if (s->end - s->p < 4) return -1;
            s->p += 4;
            return 1;
        case kBytes: {
            uint64_t length;
            if (!readVarint(s, &length) || length > (uint64_t)(s->end - s->p)) return -1;
            f->bytes.p = s->p;
            f->bytes.end = s->p + length;
            s->p += length;
            return 1;
        }
    }
    return -1;
}

static void copyName(char* dest, Span text) {
    size_t n = (size_t)(text.end - text.p);
    if (n >= VG_MAX_NAME) n = VG_MAX_NAME - 1;
    memcpy(dest, text.p, n);
    dest[n] = '\0';
}

static bool sameText(Span a, Span b) {
    const size_t n = (size_t)(a.end - a.p);
    return n == (size_t)(b.end - b.p) && memcmp(a.p, b.p, n) == 0;
}

static bool readShape(Span shape, VgTensor* t) {
    Field f;
    int r;
    while ((r = nextField(&shape, &f)) > 0) {
        if (f.number != kShapeDim || f.wireType != kBytes) continue;
        int64_t value = -1; /* a named or missing dimension is open */
        Field d;
        int rd;
        while ((rd = nextField(&f.bytes, &d)) > 0)
            if (d.number == kDimValue && d.wireType == kVarint) value = (int64_t)d.value;
        if (rd < 0) return false;
        if (t->rank < VG_MAX_DIMS) t->dims[t->rank] = value;
        t->rank++;
    }
    return r == 0;
}

static bool readValueInfo(Span value, VgTensor* t) {
    memset(t, 0, sizeof *t);
    Field f;
    int r;
    while ((r = nextField(&value, &f)) > 0) {
        if (f.number == kValueName && f.wireType == kBytes) copyName(t->name, f.bytes);
        if (f.number != kValueType || f.wireType != kBytes) continue;
        Field type;
        int rt;
        while ((rt = nextField(&f.bytes, &type)) > 0) {
            if (type.number != kTypeTensor || type.wireType != kBytes) continue;
            Field tensor;
            int rs;
            while ((rs = nextField(&type.bytes, &tensor)) > 0) {
                if (tensor.number == kTensorTypeElem && tensor.wireType == kVarint)
                    t->elementType = (int32_t)tensor.value;
                if (tensor.number == kTensorTypeShape && tensor.wireType == kBytes && !readShape(tensor.bytes, t))
                    return false;
            }
            if (rs < 0) return false;
        }
        if (rt < 0) return false;
    }
    return r == 0;
}

/* Whether |name| is among the graph's initializers: older exporters list the
 * weights among the inputs too. */
static bool isInitializer(Span graph, Span name) {
    Field g;
    while (nextField(&graph, &g) > 0) {
        if (g.number != kGraphInitializer || g.wireType != kBytes) continue;
        Field t;
        while (nextField(&g.bytes, &t) > 0)
            if (t.number == kTensorProtoName && t.wireType == kBytes && sameText(t.bytes, name)) return true;
    }
    return false;
}

static bool describeGraph(Span graph, VgModelShape* shape) {
    const Span whole = graph;
    Field g;
    int r;
    while ((r = nextField(&graph, &g)) > 0) {
        if (g.wireType != kBytes) continue;
        if (g.number == kGraphInput) {
            /* The name decides whether this input is a weight; look it up first. */
            Span value = g.bytes, name = {0, 0};
            Field v;
            int rv;
            while ((rv = nextField(&value, &v)) > 0)
                if (v.number == kValueName && v.wireType == kBytes) name = v.bytes;
            if (rv < 0) return false;
            if (name.p && isInitializer(whole, name)) continue;
            if (shape->inputCount++ == 0 && !readValueInfo(g.bytes, &shape->input)) return false;
        } else if (g.number == kGraphOutput) {
            if (shape->outputCount++ == 0 && !readValueInfo(g.bytes, &shape->output)) return false;
        }
    }
    return r == 0;
}

bool vgDescribeModel(const void* bytes, size_t size, VgModelShape* shape, VgFailure* failure) {
    memset(shape, 0, sizeof *shape);
    Span model = {(const unsigned char*)bytes, (const unsigned char*)bytes + size};
    bool hasGraph = false;
    uint64_t irVersion = 0;
    Field f;
    int r;
    while ((r = nextField(&model, &f)) > 0) {
        if (f.number == kModelIrVersion && f.wireType == kVarint) irVersion = f.value;
        if (f.number != kModelGraph || f.wireType != kBytes) continue;
        hasGraph = true;
        if (!describeGraph(f.bytes, shape)) r = -1;
        if (r < 0) break;
    }
    if (r < 0) return vgFail(failure, "not an ONNX model (damaged protobuf)");
    if (!hasGraph || irVersion == 0) return vgFail(failure, "not an ONNX model (no graph)");
    return true;
}

static void shapeText(const VgTensor* t, char* out, size_t size) {
    size_t used = 0;
    out[0] = '\0';
    for (int32_t i = 0; i < t->rank && i < VG_MAX_DIMS && used < size; ++i) {
        const int n = t->dims[i] < 0 ? snprintf(out + used, size - used, "%s?", i ? "x" : "")
                                     : snprintf(out + used, size - used, "%s%lld", i ? "x" : "", (long long)t->dims[i]);
        if (n < 0) break;
        used += (size_t)n;
    }
}

/* Channels-last unless the last dimension cannot be a channel count and the
 * second can. */
static int32_t layoutOf(const VgTensor* t) {
    if (t->rank == 4 && !(t->dims[3] >= 1 && t->dims[3] <= 4) && t->dims[1] >= 1 && t->dims[1] <= 4) return 0;
    return 1;
}

static int32_t channelsOf(const VgTensor* t, int32_t layout) {
    if (t->rank != 4) return 0;
    const int64_t c = layout == 0 ? t->dims[1] : t->dims[3];
    return c > 0 && c <= 1024 ? (int32_t)c : 0;
}

bool vgFitModel(const VgModelShape* shape, int32_t askedTile, VgModelFit* fit, VgFailure* failure) {
    memset(fit, 0, sizeof *fit);
    fit->inputLayout = 1;
    fit->outputLayout = 1;
    fit->tile = askedTile;
    if (askedTile < 0) return vgFail(failure, "the tile size must be positive (0 takes the model's)");
    if (!shape) {
        if (askedTile == 0) return vgFail(failure, "cannot read the model's input size; give the tile size");
        return true;
    }
    if (shape->inputCount != 1)
        return vgFail(failure, "the model takes %d inputs; tiled runs feed exactly one", (int)shape->inputCount);
    if (shape->outputCount < 1) return vgFail(failure, "the model has no output");
    const VgTensor* in = &shape->input;
    char dims[128];
    shapeText(in, dims, sizeof dims);
    if (in->elementType != 1) return vgFail(failure, "the model's input \"%s\" is not a float tensor", in->name);
    if (in->rank != 4)
        return vgFail(failure, "the model's input \"%s\" (%s) is not an image batch of four dimensions", in->name,
                      dims);
    fit->inputLayout = layoutOf(in);
    fit->outputLayout = layoutOf(&shape->output);
    const int64_t h = fit->inputLayout == 0 ? in->dims[2] : in->dims[1];
    const int64_t w = fit->inputLayout == 0 ? in->dims[3] : in->dims[2];
    if (h <= 0 || w <= 0)
        return vgFail(failure,
                      "the model leaves its input size open (%s); the library runs models on tiles of one "
                      "fixed size",
                      dims);
    if (h != w || h > 65536)
        return vgFail(failure, "the model takes %lld x %lld inputs; the library cuts square tiles", (long long)w,
                      (long long)h);
    if (askedTile != 0 && askedTile != h)
        return vgFail(failure, "the model takes %lld x %lld tiles (%s); a tile size of %d does not fit", (long long)h,
                      (long long)h, dims, (int)askedTile);
    fit->tile = (int32_t)h;
    fit->inputChannels = channelsOf(in, fit->inputLayout);
    fit->outputChannels = channelsOf(&shape->output, fit->outputLayout);
    return true;
}
