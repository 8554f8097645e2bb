#!/usr/bin/python3
"""Wrap a channels-first image model with open sizes into a channels-last one
with a fixed square tile, for benchmarks of models the library cannot yet
run as published.

Usage: /usr/bin/python3 scripts/wrap_channels_last.py SOURCE OUTPUT TILE

SOURCE has one input [N, C, H, W] and one output [N, K, H', W'] (any of them
may be open). OUTPUT has the input "input" [1, TILE, TILE, C] and the output
"output" [1, TILE', TILE', K]: a Transpose to channels-first in front of the
source graph and one back to channels-last behind it. The source's own nodes,
weights and opsets are kept unchanged, so the wrapped model computes exactly
what the source computes on the transposed tile. Sizes the source leaves open
are fixed from TILE by the runtime's shape inference, not declared here, except
the input's; the output's spatial sizes are declared equal to the input's,
as for image-to-image and segmentation models.

The file is written to a temporary name and renamed into place; the same
source gives the same bytes on every run.
"""

import os
import sys

import onnx
from onnx import helper

NHWC_TO_NCHW = [0, 3, 1, 2]
NCHW_TO_NHWC = [0, 2, 3, 1]


def fixed_channels(value_info, what):
    dims = value_info.type.tensor_type.shape.dim
    if len(dims) != 4 or not dims[1].HasField("dim_value"):
        raise SystemExit(f"{what} {value_info.name} is not [N, C, H, W] with a fixed C")
    return dims[1].dim_value


def wrap(source, tile):
    graph = source.graph
    if len(graph.input) != 1 or len(graph.output) != 1:
        raise SystemExit("the source model must have one input and one output")
    src_in, src_out = graph.input[0], graph.output[0]
    in_channels = fixed_channels(src_in, "input")
    out_channels = fixed_channels(src_out, "output")
    elem_in = src_in.type.tensor_type.elem_type
    elem_out = src_out.type.tensor_type.elem_type

    nodes = [helper.make_node("Transpose", ["input"], [src_in.name], perm=NHWC_TO_NCHW,
                              name="wrap_to_channels_first")]
    nodes += list(graph.node)
    nodes.append(helper.make_node("Transpose", [src_out.name], ["output"], perm=NCHW_TO_NHWC,
                                  name="wrap_to_channels_last"))
    wrapped = helper.make_graph(
        nodes,
        graph.name + "_channels_last",
        [helper.make_tensor_value_info("input", elem_in, [1, tile, tile, in_channels])],
        [helper.make_tensor_value_info("output", elem_out, [1, tile, tile, out_channels])],
        initializer=list(graph.initializer),
    )
    model = helper.make_model(wrapped, producer_name="velmora-wrap-channels-last",
                              opset_imports=list(source.opset_import))
    model.ir_version = source.ir_version
    onnx.checker.check_model(model)
    return model


def main(argv):
    if len(argv) != 4:
        sys.stderr.write("usage: wrap_channels_last.py SOURCE OUTPUT TILE\n")
        return 2
    source_path, output_path, tile = argv[1], argv[2], int(argv[3])
    if tile < 1:
        sys.stderr.write("TILE must be 1 or more\n")
        return 2
    data = wrap(onnx.load(source_path), tile).SerializeToString()
    os.makedirs(os.path.dirname(os.path.abspath(output_path)), exist_ok=True)
    temp = output_path + ".tmp"
    try:
        with open(temp, "wb") as f:
            f.write(data)
        os.replace(temp, output_path)
    except BaseException:
        if os.path.exists(temp):
            os.remove(temp)
        raise
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
