#!/usr/bin/env python3
"""Checks the include graph between the folders of src/.

Each folder belongs to a layer; a file may include headers from its own folder
and from folders of lower layers only. Folders of one layer (the container
families) never include each other, so the folder graph cannot have a cycle.
Prints every offending include and exits 1; prints the graph with -v.
Run from anywhere: paths are taken relative to this script."""
import os
import re
import sys

# Lowest first. docs/architecture.md describes the same order.
LAYERS = [
    {'platform'},
    {'input', 'comserver'},
    {'demux'},
    {'es', 'tags'},
    {'mpeg', 'ts', 'mp4', 'mkv', 'asf', 'audio', 'avi', 'dv', 'flv', 'mxf', 'ogg'},
    {'probe'},
    {'component', 'timeindex'},
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src')
include = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
edges, problems = {}, []
for dirpath, _, files in os.walk(root):
    for name in sorted(files):
        if not name.endswith(('.h', '.cpp')):
            continue
        path = os.path.join(dirpath, name)
        folder = os.path.relpath(path, root).split(os.sep)[0]
        if folder not in RANK:
            problems.append(f'{os.path.relpath(path, root)}: folder {folder}/ has no layer in {__file__}')
            continue
        for number, line in enumerate(open(path, encoding='utf-8', errors='replace'), 1):
            m = include.match(line)
            if not m or not os.path.exists(os.path.join(root, m.group(1))):
                continue  # public headers (mediadetect/...) and same-folder names
            target = m.group(1).split('/')[0]
            if target == folder:
                continue
            edges.setdefault(folder, set()).add(target)
            if target not in RANK or RANK[target] >= RANK[folder]:
                problems.append(f'{os.path.relpath(path, root)}:{number}: {folder}/ includes {m.group(1)} '
                                f'from a layer that is not below it')

if '-v' in sys.argv:
    for folder in sorted(edges):
        print(f'{folder} -> {", ".join(sorted(edges[folder]))}')
for p in problems:
    print(p)
print(f'layers: {len(problems)} problem(s)')
sys.exit(1 if problems else 0)
