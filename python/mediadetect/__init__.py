"""mediadetect from Python: the detector module driven through its binary interface with ctypes.

    import mediadetect
    d = mediadetect.detect("movie.ts")      # a Detection dataclass
    d.kind_name, d.video.width, d.audio.channels, d.duration
    mediadetect.time_table("movie.vob")     # [(seconds, byte position), ...] of the key pictures
    mediadetect.detect("https://example.com/movie.ts")   # a URL or s3://bucket/key, read with range requests
    mediadetect.list_remote("s3://bucket/videos/")        # [(s3://bucket/videos/a.mp4, size), ...]

The module is libmediadetect.so at $MEDIADETECT_MODULE, else the one the dynamic loader finds
(an installed tree). A file that cannot be examined raises MediaDetectError with its HRESULT.
"""
import ctypes
import os
import sqlite3
import threading
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

__version__ = "0.1.0"  # the release of the tool and the module it goes with
__all__ = ["detect", "time_table", "list_remote", "is_remote", "Detection", "Video", "Audio", "Program", "Tracks", "MediaDetectError",
           "KIND_NAMES"]

HRESULT = ctypes.c_int32
E_INVALIDARG = -2147024809  # 0x80070057


def _hresult_from_win32(error):
    return ctypes.c_int32(0x80070000 | (error & 0xFFFF)).value


class MediaDetectError(OSError):
    """A file the detector could not examine; hresult is the interface's result code."""

    def __init__(self, hresult, message, path=None):
        super().__init__(f"{message} (0x{hresult & 0xFFFFFFFF:08X})" + (f": {path}" if path else ""))
        self.hresult = hresult
        self.path = path


class _Guid(ctypes.Structure):
    _fields_ = [("Data1", ctypes.c_uint32), ("Data2", ctypes.c_uint16), ("Data3", ctypes.c_uint16),
                ("Data4", ctypes.c_uint8 * 8)]

    @classmethod
    def of(cls, d1, d2, d3, *d4):
        return cls(d1, d2, d3, (ctypes.c_uint8 * 8)(*d4))


CLSID_ZPMediaDetect = _Guid.of(0x5a486531, 0x0201, 0x43e0, 0xbd, 0x81, 0xd5, 0x44, 0xbb, 0x08, 0xd0, 0xdc)
IID_IClassFactory = _Guid.of(1, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
IID_IMediaDetect5 = _Guid.of(0x2c21a4b6, 0xc51a, 0x4990, 0xb4, 0x40, 0xb0, 0x84, 0x15, 0x34, 0xf7, 0x3a)
IID_ITimeTableInfo = _Guid.of(0xd57b64f7, 0x8728, 0x4717, 0xbd, 0x9c, 0xa0, 0x97, 0x19, 0xa0, 0x6b, 0xa0)
IID_IMediaDetectInfo = _Guid.of(0xf02891c9, 0xb0ec, 0x431f, 0xa4, 0xff, 0x5c, 0xd5, 0x2e, 0x60, 0x64, 0x42)
IID_IMediaDetectTags = _Guid.of(0x19b4e459, 0x201e, 0x46fa, 0xb1, 0x26, 0x53, 0x9a, 0x25, 0x88, 0x0b, 0x1c)
IID_IMediaDetectRemote = _Guid.of(0xc17e4b6c, 0x4773, 0x42c7, 0xaa, 0x2e, 0xb1, 0xce, 0x8e, 0x51, 0x53, 0x22)
MDI_EXTENSIONS = 0x1002  # SetInfo id: the bit mask of the extensions beyond the base behaviour
MDI_REMOTE_STATS = 0x1007  # GetInfo id: RemoteStats of the open remote file
MDI_REMOTE_ERROR = 0x1008  # GetInfo id: why the last open of a remote path failed, NUL-terminated UTF-8
REMOTE_ERROR_SIZE = 256
REMOTE_SCHEMES = ("http://", "https://", "s3://")
MAX_LISTED_OBJECTS = 1_000_000  # a listing longer than this raises rather than filling the memory


class _VideoInfo(ctypes.Structure):
    _fields_ = [("format", ctypes.c_uint32), ("reserved0", ctypes.c_uint32), ("frameRate", ctypes.c_double)] + [
        (n, ctypes.c_uint32) for n in ("bitRate", "width", "height", "aspectX", "aspectY", "fieldOrder", "profile",
                                       "reserved1")]


class _AudioInfo(ctypes.Structure):
    _fields_ = [(n, ctypes.c_uint32) for n in ("format", "channels", "sampleRate", "byteRate", "blockAlign",
                                               "bitsPerSample", "bitRate")]


class _TimeRangeInfo(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int64) for n in ("startTime", "videoFirstTime", "audioFirstTime", "videoEndTime",
                                              "audioEndTime")] + [
        ("videoFrameDuration", ctypes.c_uint32), ("audioFrameDuration", ctypes.c_uint32)]


class _StreamSelection(ctypes.Structure):
    _fields_ = [(n, ctypes.c_uint32) for n in ("videoId", "videoStreamType", "audioId", "audioStreamType")]


class _RemoteStats(ctypes.Structure):
    _fields_ = [("requests", ctypes.c_uint64), ("bytesFetched", ctypes.c_uint64)]


assert ctypes.sizeof(_RemoteStats) == 16
assert ctypes.sizeof(_VideoInfo) == 48 and ctypes.sizeof(_AudioInfo) == 28 and ctypes.sizeof(_TimeRangeInfo) == 48

KIND_NAMES = ["unknown", "mpeg1-system", "mpeg2-program", "vcd", "svcd", "mpeg2-program-mpeg4", "dvd-video",
              "dvd-vr", "mpeg2-transport", "mp4", "mpeg1-video", "mpeg2-video", "mpeg4-video", "directv", "matroska",
              "", "webm", "h264-video", "hevc-video", "mp3", "adts", "ac3", "eac3", "dts", "flac", "wav", "aiff", "caf", "amr",
              "ogg", "avi", "flv", "asf", "mxf", "dv"]
VIDEO_FORMAT_NAMES = {1: "mpeg1", 2: "mpeg2", 3: "mpeg4", 4: "h264", 6: "h263", 7: "cinepak", 8: "mjpeg",
                      9: "h264-mvc", 10: "hevc", 11: "vp8", 12: "vp9", 13: "av1", 14: "ffv1", 15: "prores",
                      16: "theora", 17: "wmv", 18: "vc1", 19: "vp6", 20: "flv1", 21: "dv", 22: "dnxhd",
                      23: "huffyuv", 24: "raw", 25: "msmpeg4", 26: "jpeg2000", 27: "screen"}
AUDIO_FORMAT_NAMES = {1: "mpeg1", 2: "mpeg2", 3: "ac3", 4: "pcm-be", 5: "dts", 6: "aac", 7: "amr", 8: "pcm-le",
                      9: "mp3", 10: "vorbis", 11: "truehd", 12: "dts-hd", 13: "eac3", 14: "opus", 15: "flac",
                      16: "pcm-float", 17: "alaw", 18: "mulaw", 19: "speex", 20: "adpcm", 21: "alac", 22: "amr-wb",
                      23: "wma", 24: "wma-pro", 25: "wma-lossless", 26: "wma-voice", 27: "nellymoser"}
MK_MPEG2_TRANSPORT, MK_DIRECTV, MK_MATROSKA, MK_WEBM = 8, 13, 14, 16
# The kinds whose streams are listed as tracks: Matroska and the multi-stream container families (Ogg, AVI, FLV,
# ASF, MXF, DV), as the tool lists them.
TRACK_KINDS = (MK_MATROSKA, MK_WEBM, 29, 30, 31, 32, 33, 34)


@dataclass
class Video:
    format: int
    format_name: str
    frame_rate: float
    bit_rate: int
    width: int
    height: int
    aspect_x: int
    aspect_y: int
    field_order: int  # 0 progressive or unknown, 1 top field first, 2 bottom field first
    profile: int


@dataclass
class Audio:
    format: int
    format_name: str
    channels: int
    sample_rate: int
    byte_rate: int
    block_align: int
    bits_per_sample: int
    bit_rate: int


@dataclass
class Program:
    pmt_pid: int
    video: List[int]
    audio: List[int]


@dataclass
class Tracks:
    video: List[int]
    audio: List[int]
    subtitle: List[int]


@dataclass
class Detection:
    path: str
    kind: int
    kind_name: str
    video: Optional[Video] = None
    audio: Optional[Audio] = None
    programs: List[Program] = field(default_factory=list)  # transport streams
    tracks: Optional[Tracks] = None  # Matroska, Ogg, AVI, FLV, ASF, MXF, DV
    start: Optional[float] = None  # seconds
    duration: Optional[float] = None  # seconds
    tags: Dict[str, str] = field(default_factory=dict)  # what the file says about itself (not with strict=True)
    # Remote paths: the HTTP requests the module sent and the body bytes it received for this detection.
    requests: Optional[int] = None
    bytes_fetched: Optional[int] = None


_P, _VOID = ctypes.POINTER, ctypes.c_void_p
_CALLBACK = ctypes.CFUNCTYPE(None, _VOID, ctypes.c_uint32)
_LIST_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int32, _VOID, ctypes.c_char_p, ctypes.c_uint64)
# The methods used, by name: (slot, result type, argument types after the interface pointer).
_METHODS = {
    "QueryInterface": (0, HRESULT, [_P(_Guid), _P(_VOID)]),
    "Release": (2, ctypes.c_uint32, []),
    "CreateInstance": (3, HRESULT, [_VOID, _P(_Guid), _P(_VOID)]),
    "OpenFileA": (3, HRESULT, [ctypes.c_char_p, _P(ctypes.c_uint32)]),
    "GetDuration": (4, HRESULT, [_P(ctypes.c_int64)]),
    "GetTimeRangeInfo": (5, HRESULT, [_P(_TimeRangeInfo)]),
    "GetAudioInfo": (7, HRESULT, [_P(_AudioInfo)]),
    "GetVideoInfo": (12, HRESULT, [_P(_VideoInfo)]),
    "GetTransportPrograms": (16, HRESULT, [_P(ctypes.c_uint32), _VOID, ctypes.c_int64]),
    "GetStreamLists": (17, HRESULT, [ctypes.c_uint32, _P(ctypes.c_int32), _VOID, _P(ctypes.c_int32), _VOID,
                                     ctypes.c_int64]),
    "SelectTransportProgram": (18, HRESULT, [_P(_StreamSelection), ctypes.c_int64, _VOID, _VOID]),
    "SelectMatroskaTracks": (20, HRESULT, [_P(_StreamSelection), ctypes.c_uint32, ctypes.c_uint64, _VOID, _VOID,
                                           _VOID]),
    "GetSubtitleTracks": (21, HRESULT, [_P(ctypes.c_uint32), _VOID, ctypes.c_int64]),
    "StartTimeTable": (3, HRESULT, [ctypes.c_wchar_p, _CALLBACK, _VOID]),  # ITimeTableInfo
    "SetInfo": (3, HRESULT, [ctypes.c_int32, _P(ctypes.c_uint32)]),  # IMediaDetectInfo
    "GetTagCount": (3, HRESULT, [_P(ctypes.c_uint32)]),  # IMediaDetectTags
    "GetTag": (4, HRESULT, [ctypes.c_uint32, ctypes.c_char_p, _P(ctypes.c_uint32), ctypes.c_char_p,
                            _P(ctypes.c_uint32)]),
    "GetInfo": (4, HRESULT, [ctypes.c_int32, _VOID]),  # IMediaDetectInfo
    "ListRemote": (3, HRESULT, [ctypes.c_char_p, ctypes.c_uint32, _LIST_CALLBACK, _VOID]),  # IMediaDetectRemote
}


class _Interface:
    """A COM interface pointer: a method is its table's slot called with the pointer first; released on close."""

    def __init__(self, pointer):
        self.pointer = pointer

    def call(self, method, *args):
        slot, result, argtypes = _METHODS[method]
        table = ctypes.cast(self.pointer, _P(_P(_VOID)))[0]
        return ctypes.CFUNCTYPE(result, _VOID, *argtypes)(table[slot])(self.pointer, *args)

    def query(self, iid):
        out = _VOID()
        hr = self.call("QueryInterface", ctypes.byref(iid), ctypes.byref(out))
        if hr < 0:
            raise MediaDetectError(hr, "interface not available")
        return _Interface(out.value)

    def close(self):
        if self.pointer:
            self.call("Release")
            self.pointer = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


_module = None
_module_lock = threading.Lock()


def _load():
    global _module
    with _module_lock:
        if _module is None:
            _module = ctypes.CDLL(os.environ.get("MEDIADETECT_MODULE") or "libmediadetect.so.0")
            _module.DllGetClassObject.restype = HRESULT
            _module.DllGetClassObject.argtypes = [_P(_Guid), _P(_Guid), _P(_VOID)]
        return _module


def _create_detector():
    factory = _VOID()
    hr = _load().DllGetClassObject(ctypes.byref(CLSID_ZPMediaDetect), ctypes.byref(IID_IClassFactory),
                                   ctypes.byref(factory))
    if hr < 0:
        raise MediaDetectError(hr, "no class factory")
    with _Interface(factory.value) as f:
        detector = _VOID()
        hr = f.call("CreateInstance", None, ctypes.byref(IID_IMediaDetect5), ctypes.byref(detector))
    if hr < 0:
        raise MediaDetectError(hr, "cannot create a detector")
    return _Interface(detector.value)


def is_remote(path) -> bool:
    """Whether the path names a remote object (http://, https:// or s3://, the scheme in any case) that the
    module reads itself."""
    return isinstance(path, str) and path[:8].lower().startswith(REMOTE_SCHEMES)


def _remote_error(info):
    """The module's reason for the last failed remote open, or None."""
    reason = ctypes.create_string_buffer(REMOTE_ERROR_SIZE)
    if info.call("GetInfo", MDI_REMOTE_ERROR, reason) < 0:
        return None
    return reason.value.decode("utf-8", "replace") or None


def _check_readable(path):
    """The detector reports an unreadable file as kind 0; a host wants to know why."""
    try:
        with open(path, "rb"):
            pass
    except FileNotFoundError:
        raise MediaDetectError(_hresult_from_win32(2), "no such file", path) from None
    except PermissionError:
        raise MediaDetectError(_hresult_from_win32(5), "access denied", path) from None
    except IsADirectoryError:
        raise MediaDetectError(E_INVALIDARG, "is a directory", path) from None


def _ids(array, count):
    return [array[i] for i in range(max(0, min(count, len(array))))]


def _select_first_program(d, kind, detection, strict):
    """As the tool does: list the programs, then select the first video and audio of the first one that
    lists any (the pair, else the video alone, else the audio alone). With extensions on, a transport
    program's audio PIDs are tried in turn first, until one is described."""
    pmt_pids = [0]  # a DirecTV file has one program, under PMT PID 0
    if kind == MK_MPEG2_TRANSPORT:
        count = ctypes.c_uint32()
        if d.call("GetTransportPrograms", ctypes.byref(count), None, 0) < 0:
            return
        pids = (ctypes.c_uint32 * count.value)()
        if d.call("GetTransportPrograms", ctypes.byref(count), pids, 0) < 0:
            return
        pmt_pids = _ids(pids, count.value)
    for pmt in pmt_pids:
        vc, ac = ctypes.c_int32(), ctypes.c_int32()
        v, a = (ctypes.c_uint32 * 16)(), (ctypes.c_uint32 * 16)()
        if d.call("GetStreamLists", pmt, ctypes.byref(vc), v, ctypes.byref(ac), a, 0) >= 0:
            detection.programs.append(Program(pmt, _ids(v, vc.value), _ids(a, ac.value)))
    first = next((p for p in detection.programs if p.video or p.audio), None)
    if first is None:
        return
    v, a = first.video[0] if first.video else 0, first.audio[0] if first.audio else 0
    for audio in first.audio if kind == MK_MPEG2_TRANSPORT and not strict else []:
        selection = _StreamSelection(v, 0, audio, 0)
        if (d.call("SelectTransportProgram", ctypes.byref(selection), 0, None, None) >= 0 and
                d.call("GetAudioInfo", ctypes.byref(_AudioInfo())) >= 0):
            return
    for video, audio in ((v, a), (v, 0), (0, a)):
        selection = _StreamSelection(video, 0, audio, 0)
        if (video, audio) != (0, 0) and d.call("SelectTransportProgram", ctypes.byref(selection), 0, None, None) >= 0:
            return


def _select_first_tracks(d, detection):
    vc, ac, sc = ctypes.c_int32(), ctypes.c_int32(), ctypes.c_uint32()
    # The counts first, then the lists in arrays of that size.
    if d.call("GetStreamLists", 0, ctypes.byref(vc), None, ctypes.byref(ac), None, 0) < 0 or \
            d.call("GetSubtitleTracks", ctypes.byref(sc), None, 0) < 0:
        return
    v, a = (ctypes.c_uint32 * max(vc.value, 0))(), (ctypes.c_uint32 * max(ac.value, 0))()
    s = (ctypes.c_uint32 * sc.value)()
    d.call("GetStreamLists", 0, ctypes.byref(vc), v, ctypes.byref(ac), a, 0)
    d.call("GetSubtitleTracks", ctypes.byref(sc), s, 0)
    detection.tracks = Tracks(_ids(v, vc.value), _ids(a, ac.value), _ids(s, sc.value))
    selection = _StreamSelection(detection.tracks.video[0] if detection.tracks.video else 0, 0,
                                 detection.tracks.audio[0] if detection.tracks.audio else 0, 0)
    d.call("SelectMatroskaTracks", ctypes.byref(selection), 0, 0, None, None, None)


_E_INSUFFICIENT_BUFFER = _hresult_from_win32(122)


def _read_tags(d):
    """Every tag of the open file, each asked for its sizes first, then copied."""
    tags = {}
    with d.query(IID_IMediaDetectTags) as source:
        count = ctypes.c_uint32()
        if source.call("GetTagCount", ctypes.byref(count)) < 0:
            return tags
        for i in range(count.value):
            key_size, value_size = ctypes.c_uint32(0), ctypes.c_uint32(0)
            if source.call("GetTag", i, None, ctypes.byref(key_size), None,
                           ctypes.byref(value_size)) != _E_INSUFFICIENT_BUFFER:
                continue
            key, value = ctypes.create_string_buffer(key_size.value), ctypes.create_string_buffer(value_size.value)
            if source.call("GetTag", i, key, ctypes.byref(key_size), value, ctypes.byref(value_size)) >= 0:
                tags[key.value.decode("utf-8", "replace")] = value.value.decode("utf-8", "replace")
    return tags


def detect(path, strict=False) -> Detection:
    """Examines one file as the command-line tool does and returns what the detector reports: with every
    extension on, as the tool does by default, or with strict=True the base behaviour only (its --strict)."""
    path = os.fspath(path)
    remote = is_remote(path) and not strict  # strict: the base behaviour, where a URL is a file name
    if not remote:
        _check_readable(path)
    with _create_detector() as d, d.query(IID_IMediaDetectInfo) as info:
        if not strict:
            info.call("SetInfo", MDI_EXTENSIONS, ctypes.byref(ctypes.c_uint32(0xFFFFFFFF)))
        kind = ctypes.c_uint32()
        hr = d.call("OpenFileA", path.encode("utf-8") if remote else os.fsencode(path), ctypes.byref(kind))
        if hr < 0:
            reason = _remote_error(info) if remote else None
            raise MediaDetectError(hr, "cannot open" + (f": {reason}" if reason else ""), path)
        k = kind.value
        detection = Detection(path, k, KIND_NAMES[k] if k < len(KIND_NAMES) else "unknown")
        if k in (MK_MPEG2_TRANSPORT, MK_DIRECTV):
            _select_first_program(d, k, detection, strict)
        elif k in TRACK_KINDS:
            _select_first_tracks(d, detection)
        v = _VideoInfo()
        if d.call("GetVideoInfo", ctypes.byref(v)) >= 0:
            detection.video = Video(v.format, VIDEO_FORMAT_NAMES.get(v.format, "other"), v.frameRate, v.bitRate,
                                    v.width, v.height, v.aspectX, v.aspectY, v.fieldOrder, v.profile)
        a = _AudioInfo()
        if d.call("GetAudioInfo", ctypes.byref(a)) >= 0:
            detection.audio = Audio(a.format, AUDIO_FORMAT_NAMES.get(a.format, "other"), a.channels, a.sampleRate,
                                    a.byteRate, a.blockAlign, a.bitsPerSample, a.bitRate)
        duration = ctypes.c_int64(-1)
        if d.call("GetDuration", ctypes.byref(duration)) >= 0 and duration.value >= 0:
            detection.duration = duration.value / 1e7
            r = _TimeRangeInfo()
            if d.call("GetTimeRangeInfo", ctypes.byref(r)) >= 0 and r.startTime >= 0:
                detection.start = r.startTime / 1e7
        if not strict:
            detection.tags = _read_tags(d)
        stats = _RemoteStats()
        if remote and info.call("GetInfo", MDI_REMOTE_STATS, ctypes.byref(stats)) >= 0:
            detection.requests, detection.bytes_fetched = stats.requests, stats.bytesFetched
        return detection


def list_remote(prefix, recursive=True) -> List[Tuple[str, int]]:
    """The objects under an s3://bucket/prefix path, in key order, as (s3:// path, size in bytes); with
    recursive=False only those up to the next '/' after the prefix. Credentials and the endpoint come from the
    AWS_* variables, as for detect()."""
    listed, failure = [], []

    def add(context, path, size):
        # Called by the module: nothing may raise through it.
        try:
            if len(listed) >= MAX_LISTED_OBJECTS:
                failure.append(f"more than {MAX_LISTED_OBJECTS} objects")
                return 1
            listed.append((path.decode("utf-8", "replace"), size))
            return 0
        except BaseException as e:  # noqa: BLE001 - reported after the listing
            failure.append(str(e) or type(e).__name__)
            return 1

    callback = _LIST_CALLBACK(add)
    with _create_detector() as d, d.query(IID_IMediaDetectInfo) as info:
        info.call("SetInfo", MDI_EXTENSIONS, ctypes.byref(ctypes.c_uint32(0xFFFFFFFF)))
        with d.query(IID_IMediaDetectRemote) as remote:
            hr = remote.call("ListRemote", os.fspath(prefix).encode("utf-8"), 1 if recursive else 0, callback, None)
        if hr < 0:
            reason = _remote_error(info)
            raise MediaDetectError(hr, "cannot list" + (f": {reason}" if reason else ""), prefix)
    if failure:
        raise MediaDetectError(ctypes.c_int32(0x80004005).value, "listing stopped: " + failure[0], prefix)
    return listed


_TIME_TABLE_RESULTS = {1: "no time table for this kind of file", 2: "the time-index component is not registered",
                       3: "stopped"}


def _time_index_path():
    if os.environ.get("MEDIADETECT_TIMEINDEX_DB"):
        return os.environ["MEDIADETECT_TIMEINDEX_DB"]
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(os.environ.get("HOME", "."), ".local", "share")
    return os.path.join(base, "mediadetect", "timeindex.sqlite")


def time_table(path) -> List[Tuple[float, int]]:
    """Builds the time table of a program stream (the modules must be registered: `mediadetect register`)
    and returns its key pictures as (seconds from the first picture, byte position of the pack)."""
    path = os.fspath(path)
    remote = is_remote(path)
    if not remote:
        _check_readable(path)
    done = threading.Event()
    result = []
    callback = _CALLBACK(lambda context, code: (result.append(code), done.set()))
    with _create_detector() as d, d.query(IID_ITimeTableInfo) as table:
        if remote:
            with d.query(IID_IMediaDetectInfo) as info:
                info.call("SetInfo", MDI_EXTENSIONS, ctypes.byref(ctypes.c_uint32(0xFFFFFFFF)))
        hr = table.call("StartTimeTable", path if remote else os.path.abspath(path), callback, None)
        if hr < 0:
            raise MediaDetectError(hr, "no time table for this kind of file", path)
        done.wait()
    if result[0] != 0:
        raise MediaDetectError(ctypes.c_int32(0x80004005).value, _TIME_TABLE_RESULTS.get(result[0], "failed"), path)
    with sqlite3.connect(_time_index_path()) as db:
        rows = db.execute("SELECT e.time, e.data FROM entries e JOIN tables t ON e.table_id = t.id "
                          "WHERE t.path = ? ORDER BY e.time, e.seq",
                          (path if remote else os.path.realpath(path),)).fetchall()
    return [(time / 1e7, int.from_bytes(data, "little", signed=True)) for time, data in rows]
