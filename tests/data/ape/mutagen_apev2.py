# SPDX-License-Identifier: GPL-3.0-or-later
"""Peer oracle for the APE tag tests: writes and dumps APEv2 tags with mutagen.

  write PATH ITEMS.json  ITEMS: {"items": [[key, "text"|"binary", value]]},
                         binary values in hex; the tag replaces any other
  dump PATH              prints [[key, kind, value], ...] in file order
  mpc PATH               prints the Musepack stream facts mutagen sees
"""
import json
import sys

from mutagen.apev2 import APEv2, APEBinaryValue, APEValue, TEXT, BINARY
from mutagen.musepack import Musepack


def write(path, items_path):
    with open(items_path, encoding="utf-8") as f:
        request = json.load(f)
    tag = APEv2()
    for key, kind, value in request["items"]:
        if kind == "binary":
            tag[key] = APEValue(bytes.fromhex(value), BINARY)
        else:
            tag[key] = APEValue(value, TEXT)
    tag.save(path)


def dump(path):
    tag = APEv2(path)
    out = []
    for key in tag.keys():
        value = tag[key]
        if isinstance(value, APEBinaryValue):
            out.append([key, "binary", bytes(value).hex()])
        else:
            out.append([key, "text", str(value)])
    print(json.dumps(out))


def mpc(path):
    info = Musepack(path).info
    print(json.dumps({"length": info.length, "sample_rate": info.sample_rate,
                      "channels": info.channels, "bitrate": info.bitrate,
                      "version": info.version}))


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "write":
        write(sys.argv[2], sys.argv[3])
    elif command == "dump":
        dump(sys.argv[2])
    elif command == "mpc":
        mpc(sys.argv[2])
    else:
        sys.exit("unknown command " + command)
