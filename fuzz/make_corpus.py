#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are small well-formed inputs made with the project's own generators
(dsdgen for DSF and DSDIFF, dstenc for DST-coded DSDIFF) plus a few texts, in
the layout each target expects (see the comment at the top of each
fuzz/<target>.cpp). The fuzzers start from them and so reach the sound data
and the DST frame decoder at once instead of first guessing the headers.

Usage: fuzz/make_corpus.py BIN_DIR   (BIN_DIR holds dsdgen and dstenc)
"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "fuzz", "corpus")


def put(target, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def run(*args):
    subprocess.run([str(a) for a in args], check=True, stdout=subprocess.DEVNULL)


def dsdiff_chunks(data, start, end):
    """(id, body) of the chunks between start and end, big-endian sizes."""
    at = start
    while at + 12 <= end:
        cid = data[at:at + 4]
        size = struct.unpack(">Q", data[at + 4:at + 12])[0]
        yield cid, data[at + 12:at + 12 + size]
        at += 12 + size + (size & 1 if cid == b"DSTF" else 0)


def dst_frames(dff):
    for cid, body in dsdiff_chunks(dff, 16, len(dff)):
        if cid == b"DST ":
            for sub, frame in dsdiff_chunks(body, 0, len(body)):
                if sub == b"DSTF":
                    yield frame


TARGETS = ["dsf_open", "dsdiff_open", "dst_frame", "xmlfn", "property_map_xml"]


def main():
    bindir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bin")
    for target in TARGETS:  # only the folders this script fills
        folder = os.path.join(OUT, target)
        if os.path.isdir(folder):
            for name in os.listdir(folder):
                os.remove(os.path.join(folder, name))
    dsdgen, dstenc = os.path.join(bindir, "dsdgen"), os.path.join(bindir, "dstenc")
    with tempfile.TemporaryDirectory() as tmp:
        def gen(name, *args):
            path = os.path.join(tmp, name)
            run(dsdgen, *args, path)
            return path

        def read(path):
            with open(path, "rb") as f:
                return f.read()

        def with_rate(path, rate):
            """The DSDIFF file with its FS field set to `rate` (DST frames of rate / 600 bytes per channel)."""
            data = bytearray(read(path))
            at = data.find(b"FS  ")
            data[at + 12:at + 16] = struct.pack(">I", rate)
            out = os.path.join(tmp, "r.dff")
            with open(out, "wb") as f:
                f.write(data)
            return out

        # DSF: control bytes last (frames per read and output form, reader pieces, seek).
        for i, (ch, samples, block, extra) in enumerate([(1, 3000, 64, []), (2, 6000, 256, ["--id3-title", "Seed"]),
                                                         (6, 1200, 16, []), (2, 20000, 1, []),
                                                         (3, 2000, 100, ["--rate", "5644800"])]):
            f = gen("s.dsf", "--channels", ch, "--samples", samples, "--block-size", block, "--freq", "1000", *extra)
            put("dsf_open", read(f) + bytes([0x00, 0x01 | (i % 4) << 6, 0x00, 0x10]))
            put("dsf_open", read(f) + bytes([0x41, 0x00 | ((i + 2) % 4) << 6, 0x85, 0x03]))

        # DSDIFF plain and DST-coded as whole files (framing 0), one output form each.
        for i, (ch, rate, samples, enc) in enumerate([(2, 2822400, 2000, None), (6, 5644800, 1000, None),
                                                      (1, 2822400, 40000, ["--uncoded", "1"]),
                                                      (2, 2822400, 20000, ["--max-order", "8"]),
                                                      (1, 2822400, 8000, ["--segments", "2", "--max-order", "16"])]):
            plain = gen("p.dff", "--channels", ch, "--rate", rate, "--samples", samples, "--freq", "440,1000")
            data = read(plain)
            if enc is not None:
                run(dstenc, "--quiet", *enc, plain, os.path.join(tmp, "d.dff"))
                data = read(os.path.join(tmp, "d.dff"))
            put("dsdiff_open", data + bytes([0x10, 0x00 | (i % 3) << 6, 0x00, 0x20]))

        # DST frames: the first byte is (channels - 1) | (frame size index << 3).
        for ch, rate_index, enc in [(1, 0, []), (2, 0, ["--segments", "2", "--method", "2"]),
                                    (6, 0, ["--shared", "0"]), (5, 0, ["--half-prob", "1", "--per-channel-seg"]),
                                    (3, 1, ["--table-segments", "4"]), (2, 1, ["--coded-filters", "0"]),
                                    (1, 2, []), (2, 2, ["--uncoded", "1"])]:
            plain = with_rate(gen("p.dff", "--channels", ch, "--samples", 9000, "--freq", "440,1000"),
                              [88200, 352800, 2822400][rate_index])
            run(dstenc, "--quiet", *enc, plain, os.path.join(tmp, "d.dff"))
            for frame in list(dst_frames(read(os.path.join(tmp, "d.dff"))))[:1]:
                put("dst_frame", bytes([(ch - 1) | (rate_index << 3)]) + frame)

        # Payloads that the target wraps in a plain (framing 1) or DST (framing 2) header.
        put("dsdiff_open", bytes([0x69] * 600) + bytes([0x20, 0x01, 0x20, 0x05]))
        dsdtf = b"DSTF" + struct.pack(">Q", 3) + b"\x00\x69\x96\x00" + b"DSTC" + struct.pack(">Q", 4) + b"\0\0\0\1"
        put("dsdiff_open", dsdtf + bytes([0x08, 0x00, 0x40, 0x07]))

    # Texts: plain paths and XMLFN texts (first byte odd: UTF-8).
    for text in ["C:\\Music\\a.dsf", "/music/b.dff;2", "x.iso;3",
                 '<XMLFN version="1.0"><Item Name="Filename">C:\\x.iso</Item>'
                 '<Item Name="PostExtensionData">3</Item><Item Name="FileType">sacd</Item></XMLFN>',
                 '<XMLFN version="1.0"><Item Name="Filename">R&amp;B &lt;&#1;&gt;.dff</Item></XMLFN>']:
        put("xmlfn", b"\x01" + text.encode("utf-8"))
    for text in ['<Props version="1.0">\r\n<Item Name="Title">A &amp; B</Item>\r\n<Item Name="Track">3</Item>'
                 '\r\n</Props>', '<Props version="2.0"/>',
                 '<Props version="1.0"><Item Name="x">&#x1F600;</Item><Item Name="y"></Item></Props>']:
        put("property_map_xml", text.encode("utf-8"))


if __name__ == "__main__":
    main()
