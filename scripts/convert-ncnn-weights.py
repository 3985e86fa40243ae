#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Converts an ncnn network (.param text and .bin weights) into the network
file that learned/net_file.h reads: the 8 bytes "IBNET001", the header's
length (uint32, little-endian), the JSON header, zero bytes to a multiple of
4, then every tensor as little-endian float32.

ncnn's .bin is the layers' tensors in .param order. A weight tensor starts
with a 4-byte tag: 0x01306B47 for float16 values (padded to 4 bytes), 0 for
float32; biases and PReLU slopes are plain float32 without a tag.

usage: convert-ncnn-weights.py MODEL.param MODEL.bin OUT.ibnet NAME SCALE NOISE MARGIN
"""
import json
import struct
import sys

import array

TAG_FP16 = 0x01306B47
TAG_FP32_SCALED = 0x0002C056
ACTIVATIONS = {0: "none", 1: "relu", 2: "leaky", 4: "sigmoid"}


class Weights:
    """Reads ncnn's tensors in order and collects them as float32."""

    def __init__(self, data):
        self.data = data
        self.at = 0
        self.floats = array.array("f")

    def take(self, size):
        if self.at + size > len(self.data):
            sys.exit("convert-ncnn-weights: the .bin file ends early")
        chunk = self.data[self.at:self.at + size]
        self.at += size
        return chunk

    def tagged(self, count):
        (tag,) = struct.unpack("<I", self.take(4))
        offset = len(self.floats)
        if tag == TAG_FP16:
            raw = self.take((count * 2 + 3) // 4 * 4)
            self.floats.extend(struct.unpack("<%de" % count, raw[:count * 2]))
        elif tag == 0 or tag == TAG_FP32_SCALED:
            self.floats.extend(struct.unpack("<%df" % count, self.take(count * 4)))
        else:
            sys.exit("convert-ncnn-weights: weight tag %08x is not float16 or float32" % tag)
        return offset

    def plain(self, count):
        offset = len(self.floats)
        self.floats.extend(struct.unpack("<%df" % count, self.take(count * 4)))
        return offset


def parse_params(fields):
    params = {}
    for field in fields:
        key, value = field.split("=", 1)
        key = int(key)
        if key <= -23300:
            params[-key - 23300] = [float(v) for v in value.split(",")[1:]]
        else:
            params[key] = float(value) if "." in value or "e" in value else int(value)
    return params


def activation(layer, params, key_type=9, key_params=10):
    kind = ACTIVATIONS.get(params.get(key_type, 0))
    if kind is None:
        sys.exit("convert-ncnn-weights: activation %s not supported" % params.get(key_type))
    layer["act"] = kind
    if kind == "leaky":
        layer["slope"] = params.get(key_params, [0.0])[0]


def convolution(kind, params, weights, channels):
    out = params[0]
    kernel = params[1]
    count = params[6]
    layer = {"type": kind, "out": out, "kernel": kernel, "stride": params.get(3, 1),
             "pad": params.get(4, 0)}
    if params.get(11, kernel) != kernel or params.get(2, 1) != 1 or params.get(7, 1) != 1:
        sys.exit("convert-ncnn-weights: only square, undilated, ungrouped kernels")
    layer["in"] = count // (out * kernel * kernel)
    if layer["in"] != channels or layer["in"] * out * kernel * kernel != count:
        sys.exit("convert-ncnn-weights: weight count does not fit the layer")
    layer["weights"] = weights.tagged(count)
    layer["bias"] = weights.plain(out) if params.get(5, 0) else -1
    activation(layer, params)
    return layer


def dense(params, weights, channels):
    out = params[0]
    count = params[2]
    if count != out * channels:
        sys.exit("convert-ncnn-weights: inner product weights do not fit")
    layer = {"type": "dense", "in": channels, "out": out, "weights": weights.tagged(count)}
    layer["bias"] = weights.plain(out) if params.get(1, 0) else -1
    activation(layer, params)
    return layer


def one_layer(kind, params, weights, channels, inputs):
    """The layer as our header names it, and the channels it gives."""
    if kind in ("Convolution", "Deconvolution"):
        layer = convolution("conv" if kind == "Convolution" else "deconv", params, weights,
                            channels[inputs[0]])
        return layer, layer["out"]
    if kind == "InnerProduct":
        layer = dense(params, weights, channels[inputs[0]])
        return layer, layer["out"]
    if kind == "Pooling":
        if params.get(0, 0) != 1 or params.get(4, 0) != 1:
            sys.exit("convert-ncnn-weights: only global average pooling")
        return {"type": "mean"}, channels[inputs[0]]
    if kind == "Scale":
        if params.get(0) != -233 or params.get(1, 0) != 0:
            sys.exit("convert-ncnn-weights: only a scale by another blob")
        return {"type": "scale"}, channels[inputs[0]]
    if kind == "Crop":
        return {"type": "crop", "x": params.get(0, 0), "y": params.get(1, 0)}, channels[inputs[0]]
    if kind == "Eltwise":
        if params.get(0, 1) != 1 or 1 in params:
            sys.exit("convert-ncnn-weights: only a plain sum")
        return {"type": "add"}, channels[inputs[0]]
    if kind == "PReLU":
        n = params.get(0, 1)
        return {"type": "prelu", "slopes": weights.plain(n), "count": n}, channels[inputs[0]]
    sys.exit("convert-ncnn-weights: layer type %s not supported" % kind)


def convert(param_path, bin_path):
    with open(param_path) as f:
        lines = [line.split() for line in f if line.strip()]
    if lines[0] != ["7767517"]:
        sys.exit("convert-ncnn-weights: not an ncnn .param file")
    with open(bin_path, "rb") as f:
        weights = Weights(f.read())
    alias = {}
    channels = {}
    layers = []
    source = None
    for fields in lines[2:]:
        kind, _name, nin, nout = fields[0], fields[1], int(fields[2]), int(fields[3])
        inputs = [alias.get(b, b) for b in fields[4:4 + nin]]
        outputs = fields[4 + nin:4 + nin + nout]
        params = parse_params(fields[4 + nin + nout:])
        if kind == "Input":
            source = outputs[0]
            channels[source] = params.get(2, 3)
            continue
        if kind == "Split":
            for o in outputs:
                alias[o] = inputs[0]
            continue
        layer, out_channels = one_layer(kind, params, weights, channels, inputs)
        layer["inputs"] = inputs
        layer["output"] = outputs[0]
        channels[outputs[0]] = out_channels
        layers.append(layer)
    if weights.at != len(weights.data):
        sys.exit("convert-ncnn-weights: %d bytes of the .bin file left over"
                 % (len(weights.data) - weights.at))
    return source, layers, weights.floats


def main():
    if len(sys.argv) != 8:
        sys.exit(__doc__)
    param_path, bin_path, out_path, name, scale, noise, margin = sys.argv[1:]
    source, layers, floats = convert(param_path, bin_path)
    header = {"name": name, "scale": int(scale), "noise": int(noise), "margin": int(margin),
              "input": source, "output": layers[-1]["output"], "floats": len(floats),
              "layers": layers}
    text = json.dumps(header, separators=(",", ":")).encode("utf-8")
    if sys.byteorder != "little":
        floats.byteswap()
    with open(out_path + ".part", "wb") as f:
        f.write(b"IBNET001")
        f.write(struct.pack("<I", len(text)))
        f.write(text)
        f.write(b"\0" * ((4 - len(text) % 4) % 4))
        f.write(floats.tobytes())
    import os
    os.replace(out_path + ".part", out_path)


if __name__ == "__main__":
    main()
