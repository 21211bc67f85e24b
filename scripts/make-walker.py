#!/usr/bin/env python3
"""Writes examples/units/walker.gltf: the small skinned, animated, textured example scene.

A walker: an eight-sided column two units high on two bones ("hip" at the foot, "chest"
half-way up). The lower half follows the hip, the upper half the chest, the ring between
them both (half and half). Its texture is a 16 x 16 picture embedded in the file as a
PNG (a data URI), a red top half and a blue bottom half with a white stripe on one
side, so that orientation and texture coordinates can be told apart in a render. Two
clips: "walk" (1 second: the chest sways forward and back, the hip bobs) and "idle"
(2 seconds: a slow turn of the chest).

Everything is in one text file (buffers and picture as base64) so that the example needs
no other file. Run from anywhere: scripts/make-walker.py [OUTPUT]
"""
import base64
import json
import math
import os
import struct
import sys
import zlib


def png(width, height, pixel):
    """A 24-bit PNG of pixel(x, y) -> (r, g, b); row 0 is the top."""
    raw = b"".join(
        b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height)
    )

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def texel(x, y):
    if x in (6, 7, 8, 9):
        return (255, 255, 255)  # the stripe: one side of the column
    return (200, 40, 40) if y < 8 else (40, 60, 200)


def quat_z(degrees):
    h = math.radians(degrees) / 2
    return [0.0, 0.0, math.sin(h), math.cos(h)]  # glTF order: x, y, z, w


def quat_y(degrees):
    h = math.radians(degrees) / 2
    return [0.0, math.sin(h), 0.0, math.cos(h)]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "examples", "units", "walker.gltf")

    sides, radius = 8, 0.4
    heights = [0.0, 0.5, 1.0, 1.5, 2.0]
    positions, uvs, joints, weights = [], [], [], []
    for ring, y in enumerate(heights):
        for s in range(sides + 1):  # the seam repeats the first corner with U = 1
            a = 2 * math.pi * s / sides
            positions.append((radius * math.cos(a), y, radius * math.sin(a)))
            # glTF texture coordinates: V = 0 at the top of the picture.
            uvs.append((s / sides, 1.0 - y / 2.0))
            if y < 1.0:
                joints.append((0, 1, 0, 0))
                weights.append((1.0, 0.0, 0.0, 0.0))
            elif y == 1.0:
                joints.append((0, 1, 0, 0))
                weights.append((0.5, 0.5, 0.0, 0.0))
            else:
                joints.append((1, 0, 0, 0))
                weights.append((1.0, 0.0, 0.0, 0.0))
    indices = []
    row = sides + 1
    for ring in range(len(heights) - 1):
        for s in range(sides):
            a, b = ring * row + s, ring * row + s + 1
            c, d = a + row, b + row
            indices += [a, c, b, b, c, d]

    blob = bytearray()
    views, accessors = [], []

    def add(data, fmt, count, kind, component, target=None, minmax=None):
        while len(blob) % 4:
            blob.append(0)
        offset = len(blob)
        for item in data:
            blob.extend(struct.pack("<" + fmt, *(item if isinstance(item, tuple) else (item,))))
        view = {"buffer": 0, "byteOffset": offset, "byteLength": len(blob) - offset}
        if target:
            view["target"] = target
        views.append(view)
        acc = {"bufferView": len(views) - 1, "componentType": component, "count": count,
               "type": kind}
        if minmax:
            acc["min"], acc["max"] = minmax
        accessors.append(acc)
        return len(accessors) - 1

    FLOAT, USHORT = 5126, 5123
    p = add(positions, "3f", len(positions), "VEC3", FLOAT, 34962,
            ([-radius, 0.0, -radius], [radius, 2.0, radius]))
    t = add(uvs, "2f", len(uvs), "VEC2", FLOAT, 34962)
    j = add(joints, "4H", len(joints), "VEC4", USHORT, 34962)
    w = add(weights, "4f", len(weights), "VEC4", FLOAT, 34962)
    i = add(indices, "H", len(indices), "SCALAR", USHORT, 34963)
    # Inverse bind matrices (column-major): the hip at the origin, the chest at y = 1.
    identity = (1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1)
    chest = (1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1)
    ibm = add([identity, chest], "16f", 2, "MAT4", FLOAT)

    # The two halves of the step differ (the sway peaks early, the second bob is lower),
    # so that eight evenly spaced frames of the clip show eight different poses.
    sway_times = [0.0, 0.3, 0.5, 0.8, 1.0]
    bob_times = [0.0, 0.25, 0.5, 0.75, 1.0]
    wt = add(sway_times, "f", 5, "SCALAR", FLOAT, minmax=([0.0], [1.0]))
    wr = add([tuple(quat_z(d)) for d in (0, 30, 0, -30, 0)], "4f", 5, "VEC4", FLOAT)
    bt = add(bob_times, "f", 5, "SCALAR", FLOAT, minmax=([0.0], [1.0]))
    wp = add([(0, 0, 0), (0, 0.15, 0), (0, 0.05, 0), (0, 0.15, 0), (0, 0, 0)], "3f", 5, "VEC3",
             FLOAT)
    idle_times = [0.0, 1.0, 2.0]
    it = add(idle_times, "f", 3, "SCALAR", FLOAT, minmax=([0.0], [2.0]))
    ir = add([tuple(quat_y(d)) for d in (0, 90, 0)], "4f", 3, "VEC4", FLOAT)

    picture = png(16, 16, texel)
    doc = {
        "asset": {"version": "2.0", "generator": "scripts/make-walker.py"},
        "scene": 0,
        "scenes": [{"nodes": [0, 1]}],
        "nodes": [
            {"name": "walker", "mesh": 0, "skin": 0},
            {"name": "hip", "children": [2]},
            {"name": "chest", "translation": [0.0, 1.0, 0.0]},
        ],
        "skins": [{"joints": [1, 2], "inverseBindMatrices": ibm, "skeleton": 1}],
        "meshes": [{"name": "walker", "primitives": [{
            "attributes": {"POSITION": p, "TEXCOORD_0": t, "JOINTS_0": j, "WEIGHTS_0": w},
            "indices": i, "material": 0}]}],
        "materials": [{"name": "Body", "pbrMetallicRoughness": {
            "baseColorTexture": {"index": 0}, "baseColorFactor": [1, 1, 1, 1],
            "metallicFactor": 0.0}}],
        "textures": [{"source": 0}],
        "images": [{"uri": "data:image/png;base64," + base64.b64encode(picture).decode()}],
        "animations": [
            {"name": "walk",
             "samplers": [{"input": wt, "output": wr, "interpolation": "LINEAR"},
                          {"input": bt, "output": wp, "interpolation": "LINEAR"}],
             "channels": [{"sampler": 0, "target": {"node": 2, "path": "rotation"}},
                          {"sampler": 1, "target": {"node": 1, "path": "translation"}}]},
            {"name": "idle",
             "samplers": [{"input": it, "output": ir, "interpolation": "LINEAR"}],
             "channels": [{"sampler": 0, "target": {"node": 2, "path": "rotation"}}]},
        ],
        "accessors": accessors,
        "bufferViews": views,
        "buffers": [{"byteLength": len(blob),
                     "uri": "data:application/octet-stream;base64," +
                            base64.b64encode(bytes(blob)).decode()}],
    }
    with open(out, "w", encoding="ascii") as f:
        json.dump(doc, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
