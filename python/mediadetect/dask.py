"""Detection over many files with Dask, on one machine or a cluster.

    from dask.distributed import Client
    import mediadetect.dask
    client = Client("tcp://scheduler:8786")        # or None: Dask's default scheduler
    df = mediadetect.dask.scan("/archive/**/*.ts", client)
    df.groupby("kind_name").size().compute()

Each file becomes one row; a file that cannot be examined keeps its row, with the reason in
"error" and its HRESULT in "hresult". The workers need the module (libmediadetect.so.0 on the
loader's path, or $MEDIADETECT_MODULE) and the files at the same paths.
"""
import glob
import math
import os

import dask.bag
import pandas

from . import MediaDetectError, detect

COLUMNS = {
    "path": "object", "kind": "int64", "kind_name": "object",
    "video_format": "object", "width": "float64", "height": "float64", "frame_rate": "float64",
    "field_order": "float64", "audio_format": "object", "channels": "float64", "sample_rate": "float64",
    "start": "float64", "duration": "float64", "error": "object", "hresult": "float64",
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
        row.update(kind=d.kind, kind_name=d.kind_name, start=d.start, duration=d.duration)
        row.update({k: d.tags.get(k) for k in TAG_COLUMNS})
        if d.video:
            row.update(video_format=d.video.format_name, width=d.video.width, height=d.video.height,
                       frame_rate=d.video.frame_rate, field_order=d.video.field_order)
        if d.audio:
            row.update(audio_format=d.audio.format_name, channels=d.audio.channels,
                       sample_rate=d.audio.sample_rate)
    return {k: (math.nan if v is None and COLUMNS[k] == "float64" else v) for k, v in row.items()}


def expand(paths):
    """A glob pattern, or a list of paths and patterns, as the list of paths they name (a pattern
    that matches nothing stays as it is, so that its row reports the error)."""
    out = []
    for p in [paths] if isinstance(paths, (str, os.PathLike)) else paths:
        p = os.fspath(p)
        if glob.has_magic(p):
            out += [m for m in sorted(glob.glob(p, recursive=True)) if not os.path.isdir(m)] or [p]
        else:
            out.append(p)
    return out


def scan(paths, client=None, partitions=None):
    """A Dask DataFrame of one detection per file, in the order of the paths. With a client its
    partitions are computed on that client's cluster and kept there (persisted)."""
    files = expand(paths)
    if not files:
        raise ValueError("no files to scan")
    if partitions is None:
        workers = len(client.scheduler_info()["workers"]) if client is not None else os.cpu_count() or 1
        partitions = max(1, min(len(files), 4 * workers))
    meta = pandas.DataFrame({k: pandas.Series(dtype=t) for k, t in COLUMNS.items()})
    frame = dask.bag.from_sequence(files, npartitions=partitions).map(_row).to_dataframe(meta=meta)
    return client.persist(frame) if client is not None else frame
