#!/usr/bin/python3
"""Generate the extra ONNX models that the fuzzers run besides the test models.

Usage: /usr/bin/python3 scripts/make_fuzz_models.py OUTDIR

Built with the helpers of make_models.py, byte-for-byte the same on every run.
They give the library what the test models do not: outputs whose channel
count changes from tile to tile, outputs of other element types, and outputs
of another size than the tile. All inputs are float32 NHWC, [1,16,16,3] but
for the 1024 models.

Model file               Output
-----------------------  ------------------------------------------------------
channels_vary_t16.onnx   [1,16,16,c]: the input's 3 channels, then channel 0
                         again when the tile's first value (pixel 0, 0,
                         channel 0) is above 0.5 (c = 4), else nothing (c = 3)
cast_u8_t16.onnx         [1,16,16,3] uint8: Cast of the input
cast_f16_t16.onnx        [1,16,16,3] float16: Cast of the input
cast_f64_t16.onnx        [1,16,16,3] double: Cast of the input
cast_f8_t16.onnx         [1,16,16,3] float8 e4m3fn: Cast (opset 19, IR 9)
cast_i4_t16.onnx         [1,16,16,3] int4: Cast (opset 21, IR 10)
cast_f8_t1024.onnx       [1,1024,1024,3] float8 e4m3fn: Cast (opset 19, IR 9)
cast_i4_t1024.onnx       [1,1024,1024,3] int4: Cast (opset 21, IR 10); outputs
                         this large lie outside the runtime's pooled memory, so
                         a read past their end meets the address sanitizer
crop_t16.onnx            [1,8,8,3]: the tile's top-left 8 x 8 pixels
up2_t16.onnx             [1,32,32,3]: every pixel repeated 2 x 2 (Resize, nearest)
"""

import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_models  # noqa: E402
from make_models import const, make_model  # noqa: E402

TILE = [1, 16, 16, 3]
# Element types that this onnx package has no names for.
FLOAT8E4M3FN = 17
INT4 = 22


def channels_vary():
    nodes = [
        helper.make_node("Concat", ["input", "input"], ["both"], axis=3),
        helper.make_node("Slice", ["input", "zeros4", "ones4"], ["first"]),
        helper.make_node("Greater", ["first", "half"], ["above"]),
        helper.make_node("Cast", ["above"], ["extra4"], to=TensorProto.INT64),
        helper.make_node("Reshape", ["extra4", "one_shape"], ["extra"]),
        helper.make_node("Add", ["three", "extra"], ["end"]),
        helper.make_node("Slice", ["both", "zero1", "end", "channel_axis"], ["output"]),
    ]
    return make_model(
        "channels_vary", nodes, [("input", TILE)], [("output", [1, 16, 16, "channels"])],
        [const("zeros4", np.zeros(4, dtype=np.int64)),
         const("ones4", np.ones(4, dtype=np.int64)),
         const("half", np.array(0.5, dtype=np.float32)),
         const("one_shape", np.array([1], dtype=np.int64)),
         const("three", np.array([3], dtype=np.int64)),
         const("zero1", np.array([0], dtype=np.int64)),
         const("channel_axis", np.array([3], dtype=np.int64))])


def cast_to(name, element_type, opset=make_models.OPSET, ir_version=make_models.IR_VERSION, shape=TILE):
    """A Cast of the input. Types newer than this onnx package (float8, int4)
    are left unchecked: its checker does not know them."""
    graph = helper.make_graph(
        [helper.make_node("Cast", ["input"], ["output"], to=element_type)], name,
        [helper.make_tensor_value_info("input", TensorProto.FLOAT, shape)],
        [helper.make_tensor_value_info("output", element_type, shape)])
    model = helper.make_model(graph, producer_name="velmora-make-models",
                              opset_imports=[helper.make_opsetid("", opset)])
    model.ir_version = ir_version
    if element_type not in (FLOAT8E4M3FN, INT4):
        onnx.checker.check_model(model, full_check=True)
    return model


def crop():
    return make_model(
        "crop",
        [helper.make_node("Slice", ["input", "starts", "ends", "axes"], ["output"])],
        [("input", TILE)], [("output", [1, 8, 8, 3])],
        [const("starts", np.array([0, 0], dtype=np.int64)),
         const("ends", np.array([8, 8], dtype=np.int64)),
         const("axes", np.array([1, 2], dtype=np.int64))])


def up2():
    return make_model(
        "up2",
        [helper.make_node("Resize", ["input", "", "scales"], ["output"], mode="nearest")],
        [("input", TILE)], [("output", [1, 32, 32, 3])],
        [const("scales", np.array([1, 2, 2, 1], dtype=np.float32))])


def all_models():
    yield "channels_vary_t16.onnx", channels_vary()
    yield "cast_u8_t16.onnx", cast_to("cast_u8", TensorProto.UINT8)
    yield "cast_f16_t16.onnx", cast_to("cast_f16", TensorProto.FLOAT16)
    yield "cast_f64_t16.onnx", cast_to("cast_f64", TensorProto.DOUBLE)
    yield "cast_f8_t16.onnx", cast_to("cast_f8", FLOAT8E4M3FN, opset=19, ir_version=9)
    yield "cast_i4_t16.onnx", cast_to("cast_i4", INT4, opset=21, ir_version=10)
    big = [1, 1024, 1024, 3]
    yield "cast_f8_t1024.onnx", cast_to("cast_f8_big", FLOAT8E4M3FN, opset=19, ir_version=9, shape=big)
    yield "cast_i4_t1024.onnx", cast_to("cast_i4_big", INT4, opset=21, ir_version=10, shape=big)
    yield "crop_t16.onnx", crop()
    yield "up2_t16.onnx", up2()


def main(argv):
    return make_models.write_models(argv, all_models())


if __name__ == "__main__":
    sys.exit(main(sys.argv))
