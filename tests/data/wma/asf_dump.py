# SPDX-License-Identifier: GPL-3.0-or-later
"""Prints every attribute mutagen sees in an ASF file as JSON lines:
[name, type, value], byte arrays as their length and SHA-1."""
import hashlib
import json
import sys

from mutagen.asf import ASF

f = ASF(sys.argv[1])
for name, attr in f.tags:
    value = attr.value
    if isinstance(value, bytes):
        value = "%d:%s" % (len(value), hashlib.sha1(value).hexdigest())
    elif not isinstance(value, (str, int, bool)):
        value = str(value)
    print(json.dumps([name, type(attr).__name__, value]))
