#!/usr/bin/env python3
"""The tool over s3:// against s3rver: an object gives the --json of the file on disk; `scan` lists a prefix (every
object with -r, the first level without) and examines each; unknown keys are refused and the secret never printed.
Usage: s3_check.py TOOL SOURCE_DIR BUILD_DIR. Exits 77 (skipped) when node, npm or the npm registry is missing."""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from s3_fixture import S3Fixture, unavailable  # noqa: E402

SKIPPED = 77
TOOL_TIMEOUT_S = 120
ACCESS_DENIED = "0x80070005"
SAMPLES = ["dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob", "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts",
           "mp4_h264_640x360_25fps_aac_48k_stereo.mp4", "mkv_h264_640x360_25fps_aac_48k_stereo.mkv"]
NESTED = ["ac3_384k_48k_5.1.ac3", "adts_aac_lc_48k_stereo.aac"]  # under "corpus/sub dir/": a space in the key


def run_tool(tool, args, env):
    result = subprocess.run([tool, *args], capture_output=True, text=True, env=env, timeout=TOOL_TIMEOUT_S)
    return result.returncode, [json.loads(line) for line in result.stdout.splitlines()], result.stdout + result.stderr


def without_location(obj):
    return {k: v for k, v in obj.items() if k not in ("file", "stats")}


def main():
    tool, source, build = (os.path.abspath(a) for a in sys.argv[1:4])
    why = unavailable(build)
    if why:
        print(f"skipped: {why}")
        return SKIPPED
    data = os.path.join(source, "tests", "data")
    problems = []

    def expect(condition, message):
        if not condition:
            problems.append(message)
            print("FAIL:", message)

    with S3Fixture(build) as s3:
        keys = {f"corpus/{name}": name for name in SAMPLES}
        keys.update({f"corpus/sub dir/{name}": name for name in NESTED})
        for key, name in keys.items():
            s3.upload(key, os.path.join(data, name))
        env = dict(os.environ, **s3.environment())
        _, disk, _ = run_tool(tool, ["--json", *(os.path.join(data, n) for n in keys.values())], env)
        by_name = dict(zip(keys.values(), disk))
        prefix = f"s3://{s3.bucket}/corpus/"

        # One object, as its path names it.
        _, objects, output = run_tool(tool, ["--json", "--stats", prefix + SAMPLES[0]], env)
        expect(objects and without_location(objects[0]) == without_location(by_name[SAMPLES[0]]),
               f"an s3:// object: {output[:500]}")
        expect(objects and (objects[0].get("stats") or {}).get("requests", 0) >= 1, f"no requests counted: {output}")

        # The listing: every object in key order with -r, the first level alone without.
        for recursive, expected in ((True, sorted(keys)), (False, sorted(k for k in keys if "sub dir" not in k))):
            status, objects, output = run_tool(tool, ["scan", "--json", *(["-r"] if recursive else []), prefix], env)
            expect(status == 0 and [o["file"] for o in objects] == [f"s3://{s3.bucket}/{k}" for k in expected],
                   f"scan {'-r ' if recursive else ''}{prefix}: {[o.get('file') for o in objects]} {output[-300:]}")
            for o in objects:
                name = keys.get(o["file"][len(f"s3://{s3.bucket}/"):])
                expect(name and without_location(o) == without_location(by_name[name]), f"scan: {o}")

        # Keys the server does not know: refused, and the secret appears nowhere.
        wrong = "WrongSecretValue0123456789"
        denied = dict(os.environ, **s3.environment(access_key="UNKNOWNKEY", secret=wrong))
        for args in (["--json", prefix + SAMPLES[0]], ["scan", "--json", "-r", prefix]):
            status, objects, output = run_tool(tool, args, denied)
            expect(status == 2 and objects and ACCESS_DENIED in objects[0].get("error", ""),
                   f"{' '.join(args)} with a wrong secret: {output[:500]}")
            expect(wrong not in output, f"the secret is printed: {output[:500]}")
    print(f"{len(keys)} objects over s3://, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
