#!/usr/bin/env python3
"""Cuts sample files into small fuzz seeds, a directory per target.

    fuzz/make_seeds.py OUT_DIR INPUT...   (inputs are files or directories)

Each seed is at most 64 KiB, so one execution stays fast: the first 16 and 64
KiB of a file, pieces from its middle and its end, transport streams in runs of
whole packets from the first sync byte, and for MP4 the top-level boxes other
than 'mdat' ('ftyp', 'moov', the first 'moof'). Targets whose first input bytes
choose a mode get those bytes in front of the piece.
"""
import os
import sys

MAX_SEED = 64 * 1024


def kind_of(head):
    """The container family of a file from its first bytes."""
    if head[:4] == b'\x1a\x45\xdf\xa3':
        return 'mkv'
    if head[4:8] in (b'ftyp', b'moov', b'mdat', b'wide', b'free', b'skip'):
        return 'mp4'
    for size in (188, 192, 204):
        start = 4 if size == 192 else 0
        if len(head) > start + 3 * size and all(head[start + k * size] == 0x47 for k in range(3)):
            return 'ts%d' % size
    if head[:4] == b'\x00\x00\x01\xba':
        return 'ps2' if head[4] >> 6 == 1 else 'ps1'
    if head[:3] == b'\x00\x00\x01' or head[:4] == b'\x00\x00\x00\x01':
        return 'es'
    return 'family'  # the container families beyond MPEG, MP4 and Matroska try every other file


def pieces(data, length):
    """The head, middle and end of data, each length bytes at most."""
    out = [data[:length]]
    if len(data) > 2 * length:
        middle = len(data) // 2
        out.append(data[middle:middle + length])
        out.append(data[-length:])
    return out


def ts_runs(data, kind, packets):
    """Runs of whole packets (with their 4-byte prefix for 192-byte packets)."""
    size = int(kind[2:])
    run = size * packets
    total = len(data) // size * size
    starts = [0, total // 2 // size * size, max(0, total - run)]
    return [data[s:s + run] for s in sorted(set(starts)) if len(data[s:s + run]) == run]


def mp4_boxes(data):
    """('ftyp' + 'moov') and the first 'moof' with a cut 'mdat', when they fit a seed."""
    header, fragment = b'', b''
    pos = 0
    while pos + 8 <= len(data):
        size = int.from_bytes(data[pos:pos + 4], 'big')
        kind = data[pos + 4:pos + 8]
        if size == 1 and pos + 16 <= len(data):
            size = int.from_bytes(data[pos + 8:pos + 16], 'big')
        if size < 8 or size == 0:
            size = len(data) - pos
        box = data[pos:pos + size]
        if kind in (b'ftyp', b'moov', b'mvex'):
            header += box
        elif kind == b'moof' and not fragment:
            fragment = box
        elif kind == b'mdat' and fragment and len(fragment) < MAX_SEED:
            fragment += box[:4096]
        pos += size
    out = []
    if 8 <= len(header) <= MAX_SEED:
        out.append(header)
        if fragment and len(header) + len(fragment) <= MAX_SEED:
            out.append(header + fragment)
    return out


def seeds_for(kind, data):
    """target -> pieces of one file of that kind."""
    small = pieces(data, 16 * 1024)
    large = pieces(data, MAX_SEED)
    t = {'fuzz_probe': small[:1], 'fuzz_detector': []}
    if kind.startswith('ts'):
        runs = ts_runs(data, kind, 8) + ts_runs(data, kind, 64)
        t['fuzz_ts_demux'] = runs
        t['fuzz_detector'] = [b'\x00' + r for r in ts_runs(data, kind, 256)]
        t['fuzz_probe'] = ts_runs(data, kind, 16)[:1]
    elif kind.startswith('ps') or kind == 'es':
        mpeg2 = 1 if kind == 'ps2' else 0
        t['fuzz_ps_demux'] = small + large[:1]
        t['fuzz_system_decoder'] = small
        if kind != 'es':
            # mode: checker, inspection on, entries kept; a piece unit of 16 x 256 bytes
            t['fuzz_pack_check'] = [bytes([mpeg2 | 2, 16]) + p for p in large]
            # mode: checker and 512-byte chunks, so a seed spans several reads
            t['fuzz_time_table'] = [bytes([mpeg2 | 6]) + p for p in large]
        else:
            t['fuzz_es_headers'] = [bytes([sel]) + data[:4096] for sel in (0, 1, 6, 8, 9)]
            t['fuzz_ring_buffer'] = [bytes([64]) + data[:2048]]
        t['fuzz_detector'] = [b'\x00' + large[0]]
    elif kind == 'mp4':
        boxes = mp4_boxes(data)
        t['fuzz_box_reader'] = boxes + large[:1]
        t['fuzz_sample_table'] = boxes
        t['fuzz_detector'] = [b'\x00' + b for b in boxes[:1]]
    elif kind == 'mkv':
        t['fuzz_mkv_demux'] = large[:1] + small[:1]
        t['fuzz_ebml_reader'] = large
        t['fuzz_detector'] = [b'\x00' + large[0]]
    elif kind == 'family':
        # The whole file where it fits (the families read its end too), else its head; the detector with every
        # extension on (second bit of the mode byte).
        t['fuzz_families'] = [data] if len(data) <= MAX_SEED else large[:1] + small[:1]
        t['fuzz_detector'] = [b'\x02' + t['fuzz_families'][0]]
    return t


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out_dir = sys.argv[1]
    files = []
    for arg in sys.argv[2:]:
        if os.path.isdir(arg):
            for root, _, names in os.walk(arg):
                files += [os.path.join(root, n) for n in names]
        elif os.path.isfile(arg):
            files.append(arg)
    written = 0
    for path in sorted(files):
        with open(path, 'rb') as f:
            data = f.read()
        if path.endswith(('.json', '.csv', '.md', '.sh', '.py', '.txt')):
            continue
        kind = kind_of(data[:1024])
        name = os.path.basename(path)
        for target, cut in seeds_for(kind, data).items():
            os.makedirs(os.path.join(out_dir, target), exist_ok=True)
            for n, piece in enumerate(cut):
                if not piece or len(piece) > MAX_SEED + 2:
                    continue
                with open(os.path.join(out_dir, target, '%s.%d' % (name, n)), 'wb') as f:
                    f.write(piece[:MAX_SEED])
                written += 1
    print('make_seeds: %d seeds in %s' % (written, out_dir))


if __name__ == '__main__':
    main()
