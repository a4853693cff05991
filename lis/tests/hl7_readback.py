#!/usr/bin/python3
"""Reads a message written by the LIS layer with python3-hl7 and checks it
against expectations: hl7_readback.py MESSAGE EXPECTATIONS.json

EXPECTATIONS: {"segments": ["MSH", ...],
               "fields": [[segment, n, field, repetition, component, text], ...]}
Every text is compared after python3-hl7 unescaped it. Exit 0 when all
match, 1 with the differences, 77 when python3-hl7 is missing."""
import json
import sys

try:
    import hl7
except ImportError:
    print("python3-hl7 is not installed")
    sys.exit(77)

raw = open(sys.argv[1], "rb").read()
want = json.load(open(sys.argv[2], encoding="utf-8"))
text = raw.decode("utf-8")  # a message that is no UTF-8 fails here
problems = []
if not text.endswith("\r") or "\n" in text:
    problems.append("segments must end with CR and the message holds no LF")
msg = hl7.parse(text)
ids = [str(seg[0]) for seg in msg]
if ids != want["segments"]:
    problems.append("segments %r, expected %r" % (ids, want["segments"]))
for seg, n, field, rep, comp, expected in want.get("fields", []):
    try:
        got = msg.extract_field(seg, n, field, rep, comp)
    except Exception as e:  # noqa: BLE001
        got = "<%s>" % e
    if got != expected:
        problems.append("%s[%d]-%d.%d.%d: %r, expected %r" % (seg, n, field, rep, comp, got, expected))
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
