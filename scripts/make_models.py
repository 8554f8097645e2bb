#!/usr/bin/python3
"""Generate the ONNX models used by Velmora's tests, benchmarks and demos.

Usage: /usr/bin/python3 scripts/make_models.py OUTDIR

Every model is built here from onnx.helper, so no binary model is ever kept
in the repository. All tensors are float32. The output is byte-for-byte the
same on every run (fixed seeds, no time stamps); each file is written to a
temporary name and renamed into place, so a failed run never leaves a half
model behind. Shapes are NHWC ("channels-last") unless marked NCHW, and
tensors float32 unless another type is named.

Model file                        Inputs (shape)                  Outputs (shape): value
--------------------------------  ------------------------------  ---------------------------------------------
identity_64x3.onnx                input [1,64,64,3]               output [1,64,64,3]: input
identity_t{T}_c{C}.onnx           input [1,T,T,C]                 output [1,T,T,C]: input
  (T in 16, 32, 64, 256, 512 with C in 1, 3, 4; T 256 and 512 only with C 3)
scale2_64x3.onnx                  input [1,64,64,3]               output [1,64,64,3]: input * 2
rgb_to_gray_64.onnx               input [1,64,64,3]               output [1,64,64,1]: 0.25 R + 0.5 G + 0.25 B
channels_first_identity_32x3.onnx input [1,3,32,32] (NCHW)        output [1,3,32,32]: input
nchw_to_nhwc_t256.onnx            input [1,3,256,256] (NCHW)      output [1,256,256,3]: transpose to NHWC
add2_t16_c3.onnx                  input1, input2 [1,16,16,3]      output [1,16,16,3]: input1 + input2
add3_t16_c3.onnx                  input1..input3 [1,16,16,3]      output1 [1,16,16,3]: input1 + input2 + input3
                                                                  output2 [1,16,16,1]: output1 summed over channels
out1d.onnx                        input [1,4,4,1]                 output [10]: the first 10 input values
out2d.onnx                        input [1,4,4,1]                 output [2,8]: the 16 input values, row-major
zero_size_out.onnx                input [1,4,4,1]                 output [1,4,4,0]: empty
open_dims.onnx                    input [1,h,w,3] (h, w symbolic) output [1,h,w,3]: input
six_outputs.onnx                  input [1,8,8,1]                 output0..output5 [1,8,8,1]: input * (k + 1)
five_inputs.onnx                  input1..input5 [1,4,4,1]        output [1,4,4,1]: sum of the five inputs
not_a_model.onnx                  (a line of text, not a model)
argmax_seg_t16.onnx               input [1,16,16,3]               output [1,16,16,3]: channels (2, 0, 1) of input
scalar_out.onnx                   input [1,4,4,1]                 output []: sum of all 16 input values
conv6x32_t256.onnx                input [1,256,256,3]             output [1,256,256,3]: six 3x3 convolutions
demo_sharpen_t128.onnx            input [1,128,128,3]             output [1,128,128,3]: sharpen, clipped to [0, 1]
lookup8_4x4.onnx                  input [1,4,4,1]                 output [1,4,4,1]: table[int(input)], table[i] = 10 i
claims_c4_t16.onnx                input [1,16,16,3]               output declared [1,16,16,4], given [1,16,16,3]: input
lookup_fails_t16.onnx             input [1,16,16,3]               output [1,16,16,3]: a lookup that fails at run
                                                                  time for inputs of 1/1000 or more

Image models of every layout, size and element type (three channels in and
out; cf = channels-first [1,3,H,W], cl = channels-last [1,H,W,3]; "open" leaves
batch, height and width open, t16 fixes them at 1 and 16; the types name the
input's and output's element types):
mix_{in}_{out}_{types}_{size}.onnx       out_o = sum_c MIX[o][c] x_c + BIAS[o], same size
  (mix_cf_cf_f32_t16, mix_cf_cf_f32_open, mix_cl_cl_f16_open, mix_cf_cl_f64_t16,
   mix_cl_cf_f16f64_open, mix_cl_cl_bf16f32_t16)
up{S}_{kind}_{in}_{out}_{types}_{size}.onnx  the mix, then enlarged S times:
  kind d2s: depth-to-space, sub-pixel (i, j) of every pixel weighted
  (i S + j + 1) / 16; kind near: nearest neighbour (Resize, floor)
  (up2_d2s_cf_cf_f32_t16, up3_near_cl_cl_f64f16_open, up4_d2s_cf_cl_f16f32_open,
   up2_near_cf_cf_f32_open)
up1.5_near_cf_cf_f32_{open,t16}.onnx, up2x3_near_cf_cf_f32_open.onnx
                                  the mix enlarged 1.5 times, or 2 times down and
                                  3 times across: results no tile pipeline takes
*.twin.onnx                       for every model above with a type other than
                                  float32: the same with float32 input and
                                  output, rounding inside through the same types
                                  with Casts, so that the runtime itself gives
                                  what the typed model computes
float8_out_t16.onnx               input [1,16,16,3]               output float8e4m3fn [1,16,16,3]: input
int4_out_t16.onnx                 input [1,16,16,3]               output int4 [1,16,16,3]: input
uint8_out_t16.onnx                input [1,16,16,3]               output uint8 [1,16,16,3]: input
int64_in_t16.onnx                 input int64 [1,16,16,3]         output [1,16,16,3]: input
cast_f16.onnx, cast_bf16.onnx     input [n] (open)                output float16 / bfloat16 [n]: input
                                                                  rounded by the runtime's Cast

Stand-ins for real networks, to measure what tiling changes (all NCHW, "open"
leaves height and width open):
conv5_open.onnx                   input [1,3,h,w]                 output [1,3,h,w]: five 3x3 convolutions;
                                                                  each output pixel sees 5 pixels each way
up{S}_conv_open.onnx (S 2, 4)     input [1,3,h,w]                 output [1,3,S h,S w]: two 3x3 convolutions,
                                                                  then depth-to-space; sees 2 input pixels
global_mix_t256.onnx              input [1,3,256,256]             output [1,1,256,256]: a per-pixel term and
                                                                  the mean of the whole input, through a sigmoid
global_mix_open.onnx              input [1,3,h,w]                 output [1,1,h,w]: the same, open sizes

Exact semantics where a test may want to recompute them:
- identity, channels_first_identity, open_dims, out1d, out2d, argmax_seg,
  nchw_to_nhwc: pure data movement (Identity, Reshape, Slice, Gather,
  Transpose), so the output is bit-exact.
- scale2: Mul by 2, bit-exact for finite inputs that do not overflow.
- rgb_to_gray: MatMul with the weight column [0.25, 0.5, 0.25]. The weights
  are powers of two, so the result is bit-exact whenever the three products
  sum without rounding, e.g. for inputs that are multiples of 1/256 in [0, 1].
- argmax_seg: output channel 0 = input channel 2, output channel 1 = input
  channel 0, output channel 2 = input channel 1. The arg-max of a pixel's
  output is therefore (argmax of input + 1) mod 3.
- out1d: output[i] = input flat element i, i = 0..9 (element order of the
  NHWC buffer). out2d: output[r][c] = input flat element 8 r + c.
- zero_size_out: Slice of the channel axis over the empty range [0, 0); a
  channels-last reader sees width 4, height 4 and 0 channels.
- open_dims: height and width are the symbolic dimensions "height" and
  "width", which the runtime reports as -1.
- five_inputs, add2, add3, scalar_out: sums in float32; exact for small
  integer-valued inputs. add3's output2 is ReduceSum over axis 3 of output1.
- lookup8_4x4: each input value, cast to a 64-bit integer, indexes an
  eight-entry table (Gather); the runtime fails the run for a value outside
  [-8, 8), naming the value in its message.
- mix: MIX = [[0.5, 0.25, 0], [0, 0.5, 0.5], [0.25, 0.25, 0.5]], BIAS =
  [0.125, -0.25, 0], a 1 x 1 Conv in float32; inputs of other types are cast
  to float32 first and outputs cast to their type last. up{S}: out[c][S y + i]
  [S x + j] = mix_c(x, y) * (i S + j + 1) / 16 (d2s) or mix_c(x, y) (near).
- conv6x32_t256: Transpose to NCHW; Conv 3->32, ReLU, then four times
  Conv 32->32, ReLU, then Conv 32->3; Transpose back to NHWC. Every Conv is
  3x3, stride 1, zero padding 1, with bias. Weights are normal with standard
  deviation sqrt(1 / fan_in) and biases normal with deviation 0.01, drawn
  from numpy's RandomState(20240611) in layer order (weights, then bias).
  The values only matter for timing; the outputs stay of order 1.
- demo_sharpen_t128: for every channel separately (depthwise Conv, group 3,
  no bias), with zero padding of one pixel around the tile:
      out(x, y) = 5 in(x, y) - in(x - 1, y) - in(x + 1, y)
                  - in(x, y - 1) - in(x, y + 1)
  (pixels outside the tile count as 0), then clipped to [0, 1].
- conv5_open: Conv 3->12, Tanh, three times Conv 12->12, Tanh, then Conv
  12->3; every Conv 3x3, stride 1, zero padding 1, with bias. Weights normal
  with deviation sqrt(1 / fan_in), biases normal with deviation 0.1, from
  numpy's RandomState(20250301) in layer order. The biases make the zero
  padding differ from any picture, so a tile's border shows in its result.
- up{S}_conv_open: Conv 3->12, Tanh, Conv 12->3 S S (both 3x3, zero padding
  1, drawn as conv5's from RandomState(20250302 + S)), then DepthToSpace,
  blocksize S, mode CRD.
- global_mix: with L = 0.25 R + 0.5 G + 0.25 B (1x1 Convs),
      out(x, y) = sigmoid(2 L(x, y) + 8 mean(L) - 5),
  mean(L) over the whole input (GlobalAveragePool, broadcast back by Add).
  For inputs in [0, 1] the sigmoid's argument stays in [-5, 5]; two tiles
  whose means of L differ by d disagree by at least 8 d sigmoid'(5) =
  0.05 d at every pixel, and far more near mid-grey.
"""

import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 17
IR_VERSION = 8
FLOAT = TensorProto.FLOAT
NHWC_TO_NCHW = [0, 3, 1, 2]
NCHW_TO_NHWC = [0, 2, 3, 1]


def tensor_info(name, shape):
    return helper.make_tensor_value_info(name, FLOAT, shape)


def const(name, array):
    return numpy_helper.from_array(np.asarray(array), name)


def make_model(name, nodes, inputs, outputs, initializers=(), check=True, opset=OPSET):
    """Wraps nodes into a model, checked unless check is False (for models that
    are wrong on purpose). inputs/outputs: (name, shape) or (name, shape,
    element type) tuples."""
    def info(end):
        return helper.make_tensor_value_info(end[0], end[2] if len(end) > 2 else FLOAT, end[1])

    graph = helper.make_graph(
        nodes,
        name,
        [info(i) for i in inputs],
        [info(o) for o in outputs],
        initializer=list(initializers),
    )
    model = helper.make_model(
        graph,
        producer_name="velmora-make-models",
        opset_imports=[helper.make_opsetid("", opset)],
    )
    model.ir_version = IR_VERSION if opset <= 17 else 10
    if check:
        onnx.checker.check_model(model, full_check=True)
    return model


def identity(name, shape):
    return make_model(name, [helper.make_node("Identity", ["input"], ["output"])],
                      [("input", shape)], [("output", shape)])


def scale2():
    shape = [1, 64, 64, 3]
    return make_model(
        "scale2",
        [helper.make_node("Mul", ["input", "two"], ["output"])],
        [("input", shape)], [("output", shape)],
        [const("two", np.array(2.0, dtype=np.float32))])


def rgb_to_gray():
    weights = np.array([[0.25], [0.5], [0.25]], dtype=np.float32)
    return make_model(
        "rgb_to_gray",
        [helper.make_node("MatMul", ["input", "gray_weights"], ["output"])],
        [("input", [1, 64, 64, 3])], [("output", [1, 64, 64, 1])],
        [const("gray_weights", weights)])


def nchw_to_nhwc():
    return make_model(
        "nchw_to_nhwc",
        [helper.make_node("Transpose", ["input"], ["output"], perm=NCHW_TO_NHWC)],
        [("input", [1, 3, 256, 256])], [("output", [1, 256, 256, 3])])


def add_inputs(count, output="output"):
    """Sums `count` inputs input1..inputN into `output` by a chain of Adds."""
    names = [f"input{k}" for k in range(1, count + 1)]
    nodes = []
    total = names[0]
    for k, term in enumerate(names[1:], start=1):
        out = output if k == count - 1 else f"partial{k}"
        nodes.append(helper.make_node("Add", [total, term], [out]))
        total = out
    return names, nodes


def add2():
    shape = [1, 16, 16, 3]
    names, nodes = add_inputs(2)
    return make_model("add2", nodes, [(n, shape) for n in names], [("output", shape)])


def add3():
    shape = [1, 16, 16, 3]
    names, nodes = add_inputs(3, output="output1")
    nodes.append(helper.make_node("ReduceSum", ["output1", "channel_axis"], ["output2"],
                                  keepdims=1))
    return make_model("add3", nodes, [(n, shape) for n in names],
                      [("output1", shape), ("output2", [1, 16, 16, 1])],
                      [const("channel_axis", np.array([3], dtype=np.int64))])


def five_inputs():
    shape = [1, 4, 4, 1]
    names, nodes = add_inputs(5)
    return make_model("five_inputs", nodes, [(n, shape) for n in names],
                      [("output", shape)])


def out1d():
    nodes = [
        helper.make_node("Reshape", ["input", "flat_shape"], ["flat"]),
        helper.make_node("Slice", ["flat", "starts", "ends"], ["output"]),
    ]
    return make_model(
        "out1d", nodes, [("input", [1, 4, 4, 1])], [("output", [10])],
        [const("flat_shape", np.array([16], dtype=np.int64)),
         const("starts", np.array([0], dtype=np.int64)),
         const("ends", np.array([10], dtype=np.int64))])


def out2d():
    return make_model(
        "out2d",
        [helper.make_node("Reshape", ["input", "matrix_shape"], ["output"])],
        [("input", [1, 4, 4, 1])], [("output", [2, 8])],
        [const("matrix_shape", np.array([2, 8], dtype=np.int64))])


def zero_size_out():
    return make_model(
        "zero_size_out",
        [helper.make_node("Slice", ["input", "starts", "ends", "axes"], ["output"])],
        [("input", [1, 4, 4, 1])], [("output", [1, 4, 4, 0])],
        [const("starts", np.array([0], dtype=np.int64)),
         const("ends", np.array([0], dtype=np.int64)),
         const("axes", np.array([3], dtype=np.int64))])


def open_dims():
    shape = [1, "height", "width", 3]
    return identity("open_dims", shape)


def six_outputs():
    shape = [1, 8, 8, 1]
    nodes, outputs, inits = [], [], []
    for k in range(6):
        factor = f"factor{k}"
        inits.append(const(factor, np.array(k + 1, dtype=np.float32)))
        nodes.append(helper.make_node("Mul", ["input", factor], [f"output{k}"]))
        outputs.append((f"output{k}", shape))
    return make_model("six_outputs", nodes, [("input", shape)], outputs, inits)


def argmax_seg():
    shape = [1, 16, 16, 3]
    return make_model(
        "argmax_seg",
        [helper.make_node("Gather", ["input", "channel_order"], ["output"], axis=3)],
        [("input", shape)], [("output", shape)],
        [const("channel_order", np.array([2, 0, 1], dtype=np.int64))])


def scalar_out():
    # Without an axes input, ReduceSum reduces over every axis.
    return make_model(
        "scalar_out",
        [helper.make_node("ReduceSum", ["input"], ["output"], keepdims=0)],
        [("input", [1, 4, 4, 1])], [("output", [])])


def lookup8():
    shape = [1, 4, 4, 1]
    nodes = [
        helper.make_node("Cast", ["input"], ["index"], to=TensorProto.INT64),
        helper.make_node("Gather", ["table", "index"], ["output"], axis=0),
    ]
    return make_model("lookup8", nodes, [("input", shape)], [("output", shape)],
                      [const("table", np.arange(8, dtype=np.float32) * 10)])


def conv6x32():
    rng = np.random.RandomState(20240611)
    channels = [3, 32, 32, 32, 32, 32, 3]
    nodes = [helper.make_node("Transpose", ["input"], ["x0"], perm=NHWC_TO_NCHW)]
    inits = []
    current = "x0"
    layers = len(channels) - 1
    for i in range(layers):
        cin, cout = channels[i], channels[i + 1]
        w = (rng.standard_normal((cout, cin, 3, 3)) * np.sqrt(1.0 / (cin * 9))).astype(np.float32)
        b = (rng.standard_normal(cout) * 0.01).astype(np.float32)
        inits += [const(f"conv{i}_w", w), const(f"conv{i}_b", b)]
        conv_out = f"conv{i}"
        nodes.append(helper.make_node("Conv", [current, f"conv{i}_w", f"conv{i}_b"], [conv_out],
                                      kernel_shape=[3, 3], pads=[1, 1, 1, 1]))
        current = conv_out
        if i < layers - 1:
            nodes.append(helper.make_node("Relu", [current], [f"relu{i}"]))
            current = f"relu{i}"
    nodes.append(helper.make_node("Transpose", [current], ["output"], perm=NCHW_TO_NHWC))
    shape = [1, 256, 256, 3]
    return make_model("conv6x32", nodes, [("input", shape)], [("output", shape)], inits)


def demo_sharpen():
    kernel = np.array([[0, -1, 0], [-1, 5, -1], [0, -1, 0]], dtype=np.float32)
    weights = np.tile(kernel, (3, 1, 1, 1))  # [3, 1, 3, 3]: one kernel per channel
    nodes = [
        helper.make_node("Transpose", ["input"], ["nchw"], perm=NHWC_TO_NCHW),
        helper.make_node("Conv", ["nchw", "sharpen_w"], ["sharpened"],
                         kernel_shape=[3, 3], pads=[1, 1, 1, 1], group=3),
        helper.make_node("Clip", ["sharpened", "low", "high"], ["clipped"]),
        helper.make_node("Transpose", ["clipped"], ["output"], perm=NCHW_TO_NHWC),
    ]
    shape = [1, 128, 128, 3]
    return make_model(
        "demo_sharpen", nodes, [("input", shape)], [("output", shape)],
        [const("sharpen_w", weights),
         const("low", np.array(0.0, dtype=np.float32)),
         const("high", np.array(1.0, dtype=np.float32))])


def claims_c4():
    # The declared output disagrees with what Identity gives: a host must go by
    # the sizes of the result, not by the file's declaration.
    return make_model(
        "claims_c4",
        [helper.make_node("Identity", ["input"], ["output"])],
        [("input", [1, 16, 16, 3])], [("output", [1, 16, 16, 4])], check=False)


def lookup_fails():
    # Indices input * 1000 into a table of two values: loads fine, and fails
    # inside the runtime as soon as an input reaches 0.002.
    return make_model(
        "lookup_fails",
        [helper.make_node("Mul", ["input", "thousand"], ["scaled"]),
         helper.make_node("Cast", ["scaled"], ["indices"], to=TensorProto.INT64),
         helper.make_node("Gather", ["table", "indices"], ["output"], axis=0)],
        [("input", [1, 16, 16, 3])], [("output", [1, 16, 16, 3])],
        [const("thousand", np.array(1000.0, dtype=np.float32)),
         const("table", np.array([0.0, 1.0], dtype=np.float32))])


def conv_layers(nodes, inits, current, channels, rng, prefix):
    """3x3 convolutions (zero padding 1, with bias) through `channels`, Tanh
    between them; returns the last output's name."""
    layers = len(channels) - 1
    for i in range(layers):
        cin, cout = channels[i], channels[i + 1]
        w = (rng.standard_normal((cout, cin, 3, 3)) * np.sqrt(1.0 / (cin * 9))).astype(np.float32)
        b = (rng.standard_normal(cout) * 0.1).astype(np.float32)
        inits += [const(f"{prefix}{i}_w", w), const(f"{prefix}{i}_b", b)]
        nodes.append(helper.make_node("Conv", [current, f"{prefix}{i}_w", f"{prefix}{i}_b"], [f"{prefix}{i}"],
                                      kernel_shape=[3, 3], pads=[1, 1, 1, 1]))
        current = f"{prefix}{i}"
        if i < layers - 1:
            nodes.append(helper.make_node("Tanh", [current], [f"{prefix}{i}_tanh"]))
            current = f"{prefix}{i}_tanh"
    return current


def conv5_open():
    nodes, inits = [], []
    last = conv_layers(nodes, inits, "input", [3, 12, 12, 12, 12, 3], np.random.RandomState(20250301), "conv")
    nodes[-1].output[0] = "output"
    assert last == "conv4"
    shape = [1, 3, "height", "width"]
    return make_model("conv5_open", nodes, [("input", shape)], [("output", shape)], inits)


def up_conv_open(scale):
    nodes, inits = [], []
    last = conv_layers(nodes, inits, "input", [3, 12, 3 * scale * scale],
                       np.random.RandomState(20250302 + scale), "conv")
    nodes.append(helper.make_node("DepthToSpace", [last], ["output"], blocksize=scale, mode="CRD"))
    return make_model(f"up{scale}_conv_open", nodes, [("input", [1, 3, "height", "width"])],
                      [("output", [1, 3, "out_height", "out_width"])], inits)


def global_mix(side):
    luma = np.array([0.25, 0.5, 0.25], dtype=np.float32).reshape(1, 3, 1, 1)
    nodes = [
        helper.make_node("Conv", ["input", "pixel_w"], ["pixel"], kernel_shape=[1, 1]),
        helper.make_node("GlobalAveragePool", ["input"], ["mean"]),
        helper.make_node("Conv", ["mean", "global_w", "global_b"], ["global"], kernel_shape=[1, 1]),
        helper.make_node("Add", ["pixel", "global"], ["logit"]),
        helper.make_node("Sigmoid", ["logit"], ["output"]),
    ]
    space = [side, side] if side else ["height", "width"]
    name = f"global_mix_t{side}" if side else "global_mix_open"
    return make_model(name, nodes, [("input", [1, 3] + space)], [("output", [1, 1] + space)],
                      [const("pixel_w", 2 * luma), const("global_w", 8 * luma),
                       const("global_b", np.array([-5.0], dtype=np.float32))])


F16, F64, BF16 = TensorProto.FLOAT16, TensorProto.DOUBLE, TensorProto.BFLOAT16
TYPE_TAGS = {FLOAT: "f32", F16: "f16", F64: "f64", BF16: "bf16"}
MIX = np.array([[0.5, 0.25, 0.0], [0.0, 0.5, 0.5], [0.25, 0.25, 0.5]], dtype=np.float32)
MIX_BIAS = np.array([0.125, -0.25, 0.0], dtype=np.float32)


def image_model_name(first_in, first_out, in_type, out_type, tile, scale=1, kind=None):
    layouts = ("cf" if first_in else "cl") + "_" + ("cf" if first_out else "cl")
    types = TYPE_TAGS[in_type] + (TYPE_TAGS[out_type] if out_type != in_type else "")
    size = f"t{tile}" if tile else "open"
    if scale == 1 and kind is None:
        return f"mix_{layouts}_{types}_{size}"
    s = "x".join(str(v) for v in scale) if isinstance(scale, tuple) else scale
    return f"up{s}_{kind}_{layouts}_{types}_{size}"


def image_model(first_in, first_out, in_type, out_type, tile, scale=1, kind=None, twin=False):
    """The mix of three channels, enlarged `scale` times by `kind` ("d2s" or
    "near"; a (down, across) pair of factors for Resize). tile None leaves the
    sizes open. A twin takes and gives float32 and makes the typed model's
    roundings inside, with Casts."""
    name = image_model_name(first_in, first_out, in_type, out_type, tile, scale, kind)
    across = down = scale if isinstance(scale, (int, float)) else None
    if isinstance(scale, tuple):
        down, across = scale
    batch = 1 if tile else "batch"
    space_in = [tile, tile] if tile else ["height", "width"]
    if tile and float(tile * down).is_integer() and float(tile * across).is_integer():
        space_out = [int(tile * down), int(tile * across)]
    else:
        space_out = ["out_height", "out_width"]
    in_shape = [batch, 3] + space_in if first_in else [batch] + space_in + [3]
    out_shape = [batch, 3] + space_out if first_out else [batch] + space_out + [3]

    nodes, inits = [], []
    current = "input"

    def add(op, inputs, **attrs):
        nonlocal current
        out = f"t{len(nodes)}"
        nodes.append(helper.make_node(op, [current] + inputs, [out], **attrs))
        current = out

    if twin and in_type != FLOAT:
        add("Cast", [], to=in_type)
    if in_type != FLOAT:
        add("Cast", [], to=FLOAT)
    if not first_in:
        add("Transpose", [], perm=NHWC_TO_NCHW)
    if kind == "d2s":
        blocks = down * across
        factors = np.array([(i * across + j + 1) / 16.0 for i in range(down) for j in range(across)],
                           dtype=np.float32)
        weights = (MIX[:, None, :] * factors[None, :, None]).reshape(3 * blocks, 3)
        bias = (MIX_BIAS[:, None] * factors[None, :]).reshape(3 * blocks)
    else:
        weights, bias = MIX, MIX_BIAS
    inits += [const("mix_w", weights.reshape(weights.shape[0], 3, 1, 1)), const("mix_b", bias)]
    add("Conv", ["mix_w", "mix_b"], kernel_shape=[1, 1])
    if kind == "d2s":
        add("DepthToSpace", [], blocksize=down, mode="CRD")
    elif kind == "near":
        inits.append(const("scales", np.array([1.0, 1.0, down, across], dtype=np.float32)))
        add("Resize", ["", "scales"], mode="nearest", coordinate_transformation_mode="asymmetric",
            nearest_mode="floor")
    if not first_out:
        add("Transpose", [], perm=NCHW_TO_NHWC)
    if out_type != FLOAT:
        add("Cast", [], to=out_type)
    if twin and out_type != FLOAT:
        add("Cast", [], to=FLOAT)
    nodes[-1].output[0] = "output"
    ends = (FLOAT, FLOAT) if twin else (in_type, out_type)
    file_name = name + (".twin" if twin else "")
    return file_name + ".onnx", make_model(
        file_name, nodes, [("input", in_shape, ends[0])], [("output", out_shape, ends[1])], inits)


# (channels-first in, channels-first out, input type, output type, tile, scale, kind)
IMAGE_MODELS = [
    (True, True, FLOAT, FLOAT, 16, 1, None),
    (True, True, FLOAT, FLOAT, None, 1, None),
    (False, False, F16, F16, None, 1, None),
    (True, False, F64, F64, 16, 1, None),
    (False, True, F16, F64, None, 1, None),
    (False, False, BF16, FLOAT, 16, 1, None),
    (True, True, FLOAT, FLOAT, 16, 2, "d2s"),
    (False, False, F64, F16, None, 3, "near"),
    (True, False, F16, FLOAT, None, 4, "d2s"),
    (True, True, FLOAT, FLOAT, None, 2, "near"),
    (True, True, FLOAT, FLOAT, None, 1.5, "near"),
    (True, True, FLOAT, FLOAT, 16, 1.5, "near"),
    (True, True, FLOAT, FLOAT, None, (2, 3), "near"),
]


def image_models():
    for kind in IMAGE_MODELS:
        yield image_model(*kind)
        if kind[2] != FLOAT or kind[3] != FLOAT:
            yield image_model(*kind, twin=True)


# Element types newer than this onnx package names (its checker knows opsets
# up to 17 only, so models with them go unchecked).
FLOAT8E4M3FN, INT4 = 17, 22


def cast_to(name, element_type, input_type=FLOAT, opset=OPSET, shape=(1, 16, 16, 3)):
    """The input given back as another element type (or, with input_type,
    taken as another)."""
    nodes = [helper.make_node("Cast", ["input"], ["output"], to=element_type if input_type == FLOAT else FLOAT)]
    out_type = element_type if input_type == FLOAT else FLOAT
    return make_model(name, nodes, [("input", list(shape), input_type)], [("output", list(shape), out_type)],
                      opset=opset, check=opset <= OPSET)


NOT_A_MODEL = b"This is a line of text, not an ONNX model.\n"


def all_models():
    """Yields (file name, model or raw bytes) for every file."""
    yield "identity_64x3.onnx", identity("identity_64x3", [1, 64, 64, 3])
    for tile in (16, 32, 64):
        for channels in (1, 3, 4):
            name = f"identity_t{tile}_c{channels}"
            yield name + ".onnx", identity(name, [1, tile, tile, channels])
    for tile in (256, 512):
        name = f"identity_t{tile}_c3"
        yield name + ".onnx", identity(name, [1, tile, tile, 3])
    yield "scale2_64x3.onnx", scale2()
    yield "rgb_to_gray_64.onnx", rgb_to_gray()
    yield "channels_first_identity_32x3.onnx", identity("channels_first_identity",
                                                        [1, 3, 32, 32])
    yield "nchw_to_nhwc_t256.onnx", nchw_to_nhwc()
    yield "add2_t16_c3.onnx", add2()
    yield "add3_t16_c3.onnx", add3()
    yield "out1d.onnx", out1d()
    yield "out2d.onnx", out2d()
    yield "zero_size_out.onnx", zero_size_out()
    yield "open_dims.onnx", open_dims()
    yield "six_outputs.onnx", six_outputs()
    yield "five_inputs.onnx", five_inputs()
    yield "not_a_model.onnx", NOT_A_MODEL
    yield "argmax_seg_t16.onnx", argmax_seg()
    yield "scalar_out.onnx", scalar_out()
    yield "conv6x32_t256.onnx", conv6x32()
    yield "demo_sharpen_t128.onnx", demo_sharpen()
    yield "lookup8_4x4.onnx", lookup8()
    yield "claims_c4_t16.onnx", claims_c4()
    yield "lookup_fails_t16.onnx", lookup_fails()
    yield from image_models()
    yield "conv5_open.onnx", conv5_open()
    for scale in (2, 4):
        yield f"up{scale}_conv_open.onnx", up_conv_open(scale)
    yield "global_mix_t256.onnx", global_mix(256)
    yield "global_mix_open.onnx", global_mix(None)
    yield "float8_out_t16.onnx", cast_to("float8_out", FLOAT8E4M3FN, opset=19)
    yield "int4_out_t16.onnx", cast_to("int4_out", INT4, opset=21)
    yield "uint8_out_t16.onnx", cast_to("uint8_out", TensorProto.UINT8)
    yield "int64_in_t16.onnx", cast_to("int64_in", FLOAT, input_type=TensorProto.INT64)
    yield "cast_f16.onnx", cast_to("cast_f16", F16, shape=["n"])
    yield "cast_bf16.onnx", cast_to("cast_bf16", BF16, shape=["n"])


def write_atomically(path, data):
    temp = path + ".tmp"
    try:
        with open(temp, "wb") as f:
            f.write(data)
        os.replace(temp, path)
    except BaseException:
        if os.path.exists(temp):
            os.remove(temp)
        raise


def write_models(argv, models):
    """The command line of a model script: one argument, the folder to fill."""
    if len(argv) != 2:
        sys.stderr.write("usage: %s OUTDIR\n" % os.path.basename(argv[0]))
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    for file_name, model in models:
        data = model if isinstance(model, bytes) else model.SerializeToString()
        write_atomically(os.path.join(outdir, file_name), data)
    return 0


def main(argv):
    return write_models(argv, all_models())


if __name__ == "__main__":
    sys.exit(main(sys.argv))
