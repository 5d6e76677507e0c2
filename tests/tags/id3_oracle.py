#!/usr/bin/python3
"""Independent ID3v2 reader and writer for the tag tests, over DSF files.

  id3_oracle.py write FILE REQUEST_JSON   adds the frames of REQUEST to FILE's tag
  id3_oracle.py dump FILE              prints the tag's frames as JSON
  id3_oracle.py png FILE               writes a small real PNG image
"""
import base64
import json
import struct
import sys
import zlib

from mutagen import id3
from mutagen.dsf import DSF


def write(path, request):
    f = DSF(path)
    if f.tags is None:
        f.add_tags()
    for fr in request["frames"]:
        fid = fr["id"]
        enc = fr.get("enc", 3)
        if fid == "TXXX":
            frame = id3.TXXX(encoding=enc, desc=fr["desc"], text=fr["text"])
        elif fid == "COMM":
            frame = id3.COMM(encoding=enc, lang="eng", desc=fr["desc"], text=fr["text"])
        elif fid == "USLT":
            frame = id3.USLT(encoding=enc, lang="eng", desc=fr["desc"], text=fr["text"][0])
        elif fid == "APIC":
            frame = id3.APIC(encoding=enc, mime=fr["mime"], type=fr["type"], desc=fr["desc"],
                             data=base64.b64decode(fr["data"]))
        elif fid == "POPM":
            frame = id3.POPM(email=fr["email"], rating=fr["rating"])
        elif fid == "PRIV":
            frame = id3.PRIV(owner=fr["owner"], data=fr["data"].encode())
        elif fid.startswith("W"):
            frame = getattr(id3, fid)(url=fr["url"])
        else:
            frame = getattr(id3, fid)(encoding=enc, text=fr["text"])
        f.tags.add(frame)
    padding = request.get("padding", 0)
    f.save(v2_version=request["version"], v23_sep=None, padding=lambda info: padding)


def dump(path):
    f = DSF(path, translate=False)
    out = {"version": list(f.tags.version) if f.tags else None, "frames": []}
    for frame in (f.tags.values() if f.tags else []):
        d = {"id": frame.FrameID}
        for key in ("text", "desc", "mime", "type", "email", "rating", "owner", "url"):
            if hasattr(frame, key):
                v = getattr(frame, key)
                if key == "text":
                    v = [str(t) for t in (v if isinstance(v, list) else [v])]
                elif key == "type":
                    v = int(v)
                d[key] = v
        if hasattr(frame, "data"):
            d["data"] = base64.b64encode(frame.data).decode()
        out["frames"].append(d)
    print(json.dumps(out))


def png(path):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes((x * 40, y * 40, 128)) * 1 for y in range(3) for x in range(1))
    image = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 3, 8, 2, 0, 0, 0)) +
             chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
    with open(path, "wb") as out:
        out.write(image)


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2], json.loads(sys.argv[3]))
    elif sys.argv[1] == "dump":
        dump(sys.argv[2])
    else:
        png(sys.argv[2])
