"""detect() and the Dask scan over HTTP, against a real nginx (tests/remote/nginx_fixture.py): a URL gives what the
file on disk gives, with the requests and bytes nginx logged; failures raise with their HRESULT and the module's
reason. Skipped where nginx or openssl is missing."""
import os
import sys
import urllib.parse

import pytest

import mediadetect
import mediadetect.dask

SOURCE = os.environ["MEDIADETECT_SOURCE"]
DATA = os.path.join(SOURCE, "tests", "data")
sys.path.insert(0, os.path.join(SOURCE, "tests", "remote"))
from nginx_fixture import NginxFixture, missing_tools  # noqa: E402

FILE_NOT_FOUND, INVALID_ARG = 0x80070002, 0x80070057
SAMPLES = ["dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob", "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts",
           "mp4_h264_640x360_25fps_aac_48k_stereo.mp4", "mkv_h264_640x360_25fps_aac_48k_stereo.mkv"]


BIG_TS = "big.ts"  # the transport sample repeated to BIG_TS_BYTES: a file far larger than what describing it needs
BIG_TS_BYTES = 32 << 20


@pytest.fixture(scope="module")
def web(tmp_path_factory):
    why = missing_tools()
    if why:
        pytest.skip(why)
    served = tmp_path_factory.mktemp("served")
    for name in corpus():
        os.symlink(os.path.join(DATA, name), served / name)
    with open(os.path.join(DATA, SAMPLES[1]), "rb") as f:
        sample = f.read()
    with open(served / BIG_TS, "wb") as f:
        for _ in range(BIG_TS_BYTES // len(sample) + 1):
            f.write(sample)
    with NginxFixture(served) as server:
        yield server


def corpus():
    return sorted(f for f in os.listdir(DATA) if os.path.isfile(os.path.join(DATA, f)) and
                  not f.endswith((".md", ".sh", ".json", ".txt", ".csv")))


def same_records(remote, local):
    return {k: v for k, v in vars(remote).items() if k not in ("path", "requests", "bytes_fetched")} == \
           {k: v for k, v in vars(local).items() if k not in ("path", "requests", "bytes_fetched")}


def test_a_url_gives_what_the_file_gives_and_counts_what_nginx_logged(web):
    files = corpus()
    assert len(files) > 20
    for name in files:
        mark = web.log_mark()
        remote = mediadetect.detect(web.url(urllib.parse.quote(name)))
        logged = web.requests_since(mark)
        local = mediadetect.detect(os.path.join(DATA, name))
        assert same_records(remote, local), (name, remote, local)
        assert (remote.requests, remote.bytes_fetched) == (len(logged), sum(e.body_bytes for e in logged)), name
        assert remote.requests >= 1 and (local.requests, local.bytes_fetched) == (None, None), name


def test_failures_raise_with_their_hresult_and_the_modules_reason(web, monkeypatch):
    with pytest.raises(mediadetect.MediaDetectError) as missing:
        mediadetect.detect(web.url("missing.ts"))
    assert missing.value.hresult & 0xFFFFFFFF == FILE_NOT_FOUND
    assert "404" in str(missing.value), str(missing.value)  # the server's answer, not only the code
    # Strict is the base behaviour: a URL is a local file name, and there is no such file.
    with pytest.raises(mediadetect.MediaDetectError, match="no such file") as strict:
        mediadetect.detect(web.url(SAMPLES[0]), strict=True)
    assert strict.value.hresult & 0xFFFFFFFF == FILE_NOT_FOUND
    # HTTPS with a certificate no trusted authority signed.
    monkeypatch.delenv("MEDIADETECT_CA_BUNDLE", raising=False)
    with pytest.raises(mediadetect.MediaDetectError, match="(?i)certificate"):
        mediadetect.detect(web.url(SAMPLES[0], tls=True))
    # Only s3:// paths are listed.
    with pytest.raises(mediadetect.MediaDetectError) as listed:
        mediadetect.list_remote(web.url(""))
    assert listed.value.hresult & 0xFFFFFFFF == INVALID_ARG


def test_time_table_of_a_url_is_the_files(web, tmp_path, monkeypatch):
    import subprocess
    monkeypatch.setenv("MEDIADETECT_REGISTRY", str(tmp_path / "registry.reg"))
    monkeypatch.setenv("MEDIADETECT_TIMEINDEX_DB", str(tmp_path / "index.sqlite"))
    subprocess.run([os.environ["MEDIADETECT_TOOL"], "register"], check=True, capture_output=True, timeout=60)
    local = mediadetect.time_table(os.path.join(DATA, SAMPLES[0]))
    assert local and mediadetect.time_table(web.url(SAMPLES[0])) == local


def test_dask_scan_of_urls_examines_each_on_the_workers_with_range_requests(web):
    # A '?' in a URL is its query, never a glob pattern.
    urls = [web.url(name) for name in SAMPLES] + [web.url("missing.ts?a=1")]
    assert mediadetect.dask.expand(urls) == urls
    mark = web.log_mark()
    df = mediadetect.dask.scan(urls).compute(scheduler="threads")
    logged = web.requests_since(mark)
    assert list(df["path"]) == urls
    for name, (_, row) in zip(SAMPLES, df.iloc[:len(SAMPLES)].iterrows()):
        d = mediadetect.detect(os.path.join(DATA, name))
        assert (row["kind"], row["kind_name"], row["duration"]) == (d.kind, d.kind_name, d.duration), name
    assert int(df.iloc[-1]["hresult"]) & 0xFFFFFFFF == FILE_NOT_FOUND
    # Every request the workers sent asked for a range, and the rows count them all.
    assert logged and all(e.range.startswith("bytes=") for e in logged)
    assert df["requests"].sum() == len([e for e in logged if e.status != 404])
    # A large object is described from a small part of it.
    big = mediadetect.dask.scan([web.url(BIG_TS)]).compute(scheduler="threads").iloc[0]
    assert big["kind_name"] == "mpeg2-transport" and 0 < big["bytes_fetched"] < BIG_TS_BYTES / 4, big


@pytest.fixture(scope="module")
def s3(web):
    from s3_fixture import S3Fixture, unavailable
    build = os.path.dirname(os.path.abspath(os.environ["MEDIADETECT_MODULE"]))
    why = unavailable(build)
    if why:
        pytest.skip(why)
    with S3Fixture(build) as server:
        for name in SAMPLES[:2]:
            server.upload(f"corpus/{name}", os.path.join(DATA, name))
        for name in SAMPLES[2:]:
            server.upload(f"corpus/more/{name}", os.path.join(DATA, name))
        yield server


def test_dask_scan_of_an_s3_prefix_lists_it_and_examines_each_object(s3, monkeypatch):
    for name, value in s3.environment().items():
        monkeypatch.setenv(name, value)
    top = [f"s3://{s3.bucket}/corpus/{name}" for name in SAMPLES[:2]]
    nested = [f"s3://{s3.bucket}/corpus/more/{name}" for name in SAMPLES[2:]]
    listed = mediadetect.list_remote(f"s3://{s3.bucket}/corpus/")
    assert listed == sorted((path, os.path.getsize(os.path.join(DATA, path.rsplit("/", 1)[1])))
                            for path in top + nested)
    assert mediadetect.dask.expand(f"s3://{s3.bucket}/corpus/", recursive=False) == sorted(top)
    df = mediadetect.dask.scan(f"s3://{s3.bucket}/corpus/").compute(scheduler="threads")
    assert list(df["path"]) == sorted(top + nested)
    for _, row in df.iterrows():
        local = mediadetect.detect(os.path.join(DATA, row["path"].rsplit("/", 1)[1]))
        assert (row["kind"], row["duration"], row["width"]) == (local.kind, local.duration, local.video.width)
        assert row["requests"] >= 1 and row["bytes_fetched"] > 0, row
    # Keys the server does not know: the listing is refused with the file error of a refused file.
    monkeypatch.setenv("AWS_ACCESS_KEY_ID", "UNKNOWNKEY")
    with pytest.raises(mediadetect.MediaDetectError) as denied:
        mediadetect.dask.scan(f"s3://{s3.bucket}/corpus/")
    assert denied.value.hresult & 0xFFFFFFFF == 0x80070005
