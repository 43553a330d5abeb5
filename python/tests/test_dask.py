"""mediadetect.dask.scan on a LocalCluster of two worker processes: one row per input file, in order,
the unreadable ones included, each row as detect() reports the file."""
import math
import os

from dask.distributed import Client, LocalCluster

import mediadetect
import mediadetect.dask

DATA = os.path.join(os.environ["MEDIADETECT_SOURCE"], "tests", "data")


def test_scan_on_two_workers_keeps_a_row_per_file(tmp_path):
    locked = tmp_path / "locked.mpg"
    locked.write_bytes(b"\0\0\1\xba")
    locked.chmod(0)
    media = sorted(p for p in os.listdir(DATA) if not p.endswith((".sh", ".md")) and
                   os.path.isfile(os.path.join(DATA, p)))
    paths = [os.path.join(DATA, "*.mp4"), os.path.join(DATA, "*.ts"), str(tmp_path / "missing.ts"), str(locked)]
    expected = mediadetect.dask.expand(paths)
    assert len(expected) == sum(p.endswith((".mp4", ".ts")) for p in media) + 2
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        df = mediadetect.dask.scan(paths, client).compute()
    assert list(df["path"]) == expected
    missing = df[df["path"].str.endswith("missing.ts")].iloc[0]
    assert (missing["kind"], int(missing["hresult"]) & 0xFFFFFFFF) == (-1, 0x80070002)
    unreadable = df[df["path"] == str(locked)].iloc[0]
    root = os.geteuid() == 0  # root reads anything
    assert (unreadable["kind"], int(unreadable["hresult"]) & 0xFFFFFFFF if not root else 0) == \
           ((-1, 0x80070005) if not root else (0, 0))
    checked = df[df["error"].isna()]
    assert len(checked) == len(expected) - (1 if root else 2)
    for _, row in checked.iterrows():
        d = mediadetect.detect(row["path"])
        assert (row["kind"], row["kind_name"]) == (d.kind, d.kind_name), row["path"]
        for column, value in (("width", d.video and d.video.width), ("channels", d.audio and d.audio.channels),
                              ("duration", d.duration)):
            assert row[column] == value if value is not None else math.isnan(row[column]), (row["path"], column)


def test_only_s3_buckets_and_paths_ending_in_a_slash_are_listed():
    paths = ("S3://b/videos/", "s3://b", "s3://b/k.ts", "https://h/dir/", "/data/s3://b/")
    assert [mediadetect.dask.is_remote_prefix(p) for p in paths] == [True, True, False, False, False]


def test_scan_keeps_title_artist_creation_time_and_location_as_columns():
    # The values make_corpus.sh writes into these files; a file without tags has None in each column.
    names = ["tags_mp3_id3v23_44k_stereo.mp3", "tags_mov_h264_320x240_25fps_phone.mov",
             "mp3_cbr_128k_44k_stereo.mp3"]
    df = mediadetect.dask.scan([os.path.join(DATA, n) for n in names]).compute(scheduler="synchronous")
    rows = [tuple(row[c] for c in mediadetect.dask.TAG_COLUMNS) for _, row in df.iterrows()]
    assert rows == [("Caf\u00e9 \u03a9 \u266b", "Zephon", None, None),
                    ("Tagged mov", None, "2024-05-01T10:20:30Z", "+48.8577+002.2950/"),
                    (None, None, None, None)]
