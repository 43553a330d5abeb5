#!/usr/bin/env python3
"""Validates the tool's --json output for every corpus file (and the real-world samples when
present) against docs/mediadetect.schema.json, and that the schema refuses a wrong type and a
missing required member. Usage: schema_check.py TOOL SOURCE_DIR"""
import copy
import json
import os
import subprocess
import sys

import jsonschema

tool, source = sys.argv[1], sys.argv[2]
schema = json.load(open(os.path.join(source, "docs", "mediadetect.schema.json")))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)

folders = [os.path.join(source, "tests", "data"),
           os.environ.get("MEDIADETECT_TEST_REALWORLD", os.path.join(source, "..", "shared", "realworld"))]
files = [os.path.join(d, f) for d in folders if os.path.isdir(d) for f in sorted(os.listdir(d))
         if os.path.isfile(os.path.join(d, f)) and not f.endswith((".md", ".sh", ".json", ".txt", ".csv"))]
files.append(os.path.join(source, "no-such-file.ts"))  # the error form
objects = []
for options in (["--json"], ["--json", "--stats"]):  # each file without and with its "stats"
    out = subprocess.run([tool] + options + files, capture_output=True, text=True).stdout.splitlines()
    objects += [json.loads(line) for line in out]
assert len(objects) == 2 * len(files), f"{len(objects)} objects for {len(files)} files twice"
assert all(("stats" in o) == (i >= len(files)) for i, o in enumerate(objects)), "stats exactly with --stats"
failed = 0
for obj in objects:
    for error in validator.iter_errors(obj):
        failed += 1
        print(f"{obj['file']}: {error.json_path}: {error.message}")

# The schema must be able to fail: a wrong type, a missing required member, an unknown member.
sample = next(o for o in objects if "video" in o and o["timeRange"])
broken = []
for path, change in [(("video", "width"), "wide"), (("timeRange", "startSeconds"), None)]:
    b = copy.deepcopy(sample)
    if change is None:
        del b[path[0]][path[1]]
    else:
        b[path[0]][path[1]] = change
    broken.append(b)
# A local file's stats have no requests; a remote one's are counts, never negative, and the wall time is required.
with_stats = next(o for o in objects if "stats" in o and "video" in o and o["timeRange"])
for path, change in [(("stats", "requests"), -1), (("stats", "bytesFetched"), "1 MB"), (("stats", "seconds"), None)]:
    b = copy.deepcopy(with_stats)
    if change is None:
        del b[path[0]][path[1]]
    else:
        b[path[0]][path[1]] = change
    broken.append(b)
extra = copy.deepcopy(sample)
extra["widht"] = 1
broken.append(extra)
for b in broken:
    if validator.is_valid(b):
        failed += 1
        print("the schema accepts a broken object")
print(f"{len(objects)} objects checked, {failed} problems")
sys.exit(1 if failed else 0)
