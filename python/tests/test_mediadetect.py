"""The Python package against the command-line tool: both drive the same module, so for every corpus
file detect() must report what `mediadetect --json` reports. MEDIADETECT_TOOL and MEDIADETECT_MODULE
name the built tool and module; MEDIADETECT_SOURCE the repository."""
import json
import os
import subprocess

import pytest

import mediadetect

SOURCE = os.environ["MEDIADETECT_SOURCE"]
TOOL = os.environ["MEDIADETECT_TOOL"]
REALWORLD = os.environ.get("MEDIADETECT_TEST_REALWORLD", os.path.join(SOURCE, "..", "shared", "realworld"))


def media_files():
    files = []
    for folder in (os.path.join(SOURCE, "tests", "data"), REALWORLD):
        if os.path.isdir(folder):
            files += [os.path.join(folder, f) for f in sorted(os.listdir(folder))
                      if os.path.isfile(os.path.join(folder, f))
                      and not f.endswith((".md", ".sh", ".json", ".txt", ".csv"))]
    return files


def tool_json(*args, env=None):
    out = subprocess.run([TOOL, "--json", *args], capture_output=True, text=True, env=env).stdout
    return [json.loads(line) for line in out.splitlines()]


@pytest.mark.parametrize("strict", [False, True])
def test_detect_reports_what_the_tool_reports_for_every_corpus_file(strict):
    files = media_files()
    assert len(files) > 20
    for f, j in zip(files, tool_json(*(["--strict"] if strict else []), *files)):
        d = mediadetect.detect(f, strict=strict)
        assert (d.kind, d.kind_name) == (j["kind"], j["kindName"]), f
        for mine, theirs in ((d.video, j.get("video")), (d.audio, j.get("audio"))):
            assert (mine is None) == (theirs is None), f
            if mine is not None:
                assert mine.format_name == theirs["formatName"], f
                for name, value in theirs.items():
                    snake = "".join("_" + c.lower() if c.isupper() else c for c in name)
                    assert getattr(mine, snake) == value, (f, name)
        assert [[p.pmt_pid, p.video, p.audio] for p in d.programs] == \
               [[p["pmtPid"], p["video"], p["audio"]] for p in j.get("programs", [])], f
        assert (d.tracks and [d.tracks.video, d.tracks.audio, d.tracks.subtitle]) == \
               (j.get("tracks") and [j["tracks"]["video"], j["tracks"]["audio"], j["tracks"]["subtitle"]]), f
        assert d.duration == j["durationSeconds"], f
        start = j["timeRange"] and j["timeRange"]["startSeconds"]
        assert d.start == start, f
        assert d.tags == j.get("tags", {}), f


def test_tags_of_a_tagged_file_are_a_dict_and_strict_has_none():
    tagged = os.path.join(SOURCE, "tests", "data", "tags_flac_44k_stereo.flac")
    assert mediadetect.detect(tagged).tags["title"] == "Tagged flac"
    assert mediadetect.detect(tagged, strict=True).tags == {}


def test_files_that_cannot_be_examined_raise_with_their_hresult(tmp_path):
    with pytest.raises(mediadetect.MediaDetectError) as missing:
        mediadetect.detect(tmp_path / "missing.ts")
    assert missing.value.hresult & 0xFFFFFFFF == 0x80070002
    with pytest.raises(mediadetect.MediaDetectError) as folder:
        mediadetect.detect(tmp_path)
    assert folder.value.hresult & 0xFFFFFFFF == 0x80070057
    empty = tmp_path / "empty.mpg"
    empty.write_bytes(b"")
    assert (mediadetect.detect(empty).kind, mediadetect.detect(empty).duration) == (0, None)


def test_remote_paths_are_known_by_their_scheme_in_any_case():
    paths = ("HTTP://h/a.ts", "Https://h/", "S3://b/k", "ftp://h/a.ts", "/data/http://x", b"http://h/a.ts")
    assert [mediadetect.is_remote(p) for p in paths] == [True, True, True, False, False, False]


def test_time_table_matches_the_tools(tmp_path, monkeypatch):
    env = dict(os.environ, MEDIADETECT_REGISTRY=str(tmp_path / "registry.reg"),
               MEDIADETECT_TIMEINDEX_DB=str(tmp_path / "index.sqlite"))
    subprocess.run([TOOL, "register"], env=env, check=True, capture_output=True)
    for name in ("MEDIADETECT_REGISTRY", "MEDIADETECT_TIMEINDEX_DB"):
        monkeypatch.setenv(name, env[name])
    vob = os.path.join(SOURCE, "tests", "data", "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob")
    table = mediadetect.time_table(vob)
    entries = tool_json("--time-table", vob, env=env)[0]["timeTable"]["entries"]
    assert table and table == [(e["timeSeconds"], e["position"]) for e in entries]
    mp4 = os.path.join(SOURCE, "tests", "data", "mp4_h264_640x360_25fps_aac_48k_stereo.mp4")
    with pytest.raises(mediadetect.MediaDetectError, match="no time table"):
        mediadetect.time_table(mp4)


def test_version_is_the_tools_and_the_installed_packages():
    from importlib.metadata import version
    tool = subprocess.run([TOOL, "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    assert tool == "mediadetect " + mediadetect.__version__
    assert version("mediadetect") == mediadetect.__version__
