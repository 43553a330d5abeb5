"""Detection over many files with Dask, on one machine or a cluster.

    from dask.distributed import Client
    import mediadetect.dask
    client = Client("tcp://scheduler:8786")        # or None: Dask's default scheduler
    df = mediadetect.dask.scan("/archive/**/*.ts", client)
    df.groupby("kind_name").size().compute()
    df = mediadetect.dask.scan("s3://bucket/videos/", client)   # every object under an S3 prefix

Each file becomes one row; a file that cannot be examined keeps its row, with the reason in
"error" and its HRESULT in "hresult". The workers need the module (libmediadetect.so.0 on the
loader's path, or $MEDIADETECT_MODULE) and the files at the same paths. URLs (http://, https://,
s3://bucket/key) are examined by the workers with a few range requests each, never downloaded
whole; an s3:// prefix (ending in '/', or a bucket alone) is listed here, on the client, and
each object under it becomes a row. The workers need the same AWS_* variables as the client.
"""
import glob
import math
import os

import dask.bag
import pandas

from . import MediaDetectError, detect, is_remote, list_remote

COLUMNS = {
    "path": "object", "kind": "int64", "kind_name": "object",
    "video_format": "object", "width": "float64", "height": "float64", "frame_rate": "float64",
    "field_order": "float64", "audio_format": "object", "channels": "float64", "sample_rate": "float64",
    "start": "float64", "duration": "float64", "error": "object", "hresult": "float64",
    "requests": "float64", "bytes_fetched": "float64",  # remote paths: what the detection fetched
}
# Tags kept as columns (None where the file does not carry them).
TAG_COLUMNS = ("title", "artist", "creation_time", "location")
COLUMNS.update(dict.fromkeys(TAG_COLUMNS, "object"))


def _row(path):
    row = dict.fromkeys(COLUMNS)
    row.update(path=path, kind=-1)
    try:
        d = detect(path)
    except MediaDetectError as e:
        row.update(error=str(e), hresult=float(e.hresult))
    except OSError as e:  # the module itself could not be loaded on this worker
        row.update(error=str(e))
    else:
        row.update(kind=d.kind, kind_name=d.kind_name, start=d.start, duration=d.duration, requests=d.requests,
                   bytes_fetched=d.bytes_fetched)
        row.update({k: d.tags.get(k) for k in TAG_COLUMNS})
        if d.video:
            row.update(video_format=d.video.format_name, width=d.video.width, height=d.video.height,
                       frame_rate=d.video.frame_rate, field_order=d.video.field_order)
        if d.audio:
            row.update(audio_format=d.audio.format_name, channels=d.audio.channels,
                       sample_rate=d.audio.sample_rate)
    return {k: (math.nan if v is None and COLUMNS[k] == "float64" else v) for k, v in row.items()}


def is_remote_prefix(path):
    """An s3:// path that names a prefix to list: a bucket alone, or a path ending in '/'."""
    if path[:5].lower() != "s3://":
        return False
    rest = path[len("s3://"):]
    return "/" not in rest or rest.endswith("/")


def expand(paths, recursive=True):
    """A glob pattern, or a list of paths and patterns, as the list of paths they name (a pattern
    that matches nothing stays as it is, so that its row reports the error). A URL is never a
    pattern; an s3:// prefix is listed (every object under it, or with recursive=False those up
    to the next '/'); a prefix that cannot be listed stays as it is and its row says why."""
    out = []
    for p in [paths] if isinstance(paths, (str, os.PathLike)) else paths:
        p = os.fspath(p)
        if is_remote_prefix(p):
            out += [path for path, _size in list_remote(p, recursive)]
        elif is_remote(p):
            out.append(p)
        elif glob.has_magic(p):
            out += [m for m in sorted(glob.glob(p, recursive=True)) if not os.path.isdir(m)] or [p]
        else:
            out.append(p)
    return out


def scan(paths, client=None, partitions=None, recursive=True):
    """A Dask DataFrame of one detection per file, in the order of the paths. With a client its
    partitions are computed on that client's cluster and kept there (persisted). recursive=False
    lists only the first level of an s3:// prefix."""
    files = expand(paths, recursive)
    if not files:
        raise ValueError("no files to scan")
    if partitions is None:
        workers = len(client.scheduler_info()["workers"]) if client is not None else os.cpu_count() or 1
        partitions = max(1, min(len(files), 4 * workers))
    meta = pandas.DataFrame({k: pandas.Series(dtype=t) for k, t in COLUMNS.items()})
    frame = dask.bag.from_sequence(files, npartitions=partitions).map(_row).to_dataframe(meta=meta)
    return client.persist(frame) if client is not None else frame
