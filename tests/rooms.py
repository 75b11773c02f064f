#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every room of the renderer includes only what its rule allows: the
program's own rooms and the system's libraries, read from what the compiler
says each of its sources included (the .o.d files of the build), so that
what a header brings in counts as much as what a source names.
Usage: rooms.py BUILD_DIR SOURCE_DIR"""
import glob
import os
import sys

build, source = (os.path.realpath(p) for p in sys.argv[1:3])
cli = os.path.join(source, 'cli')

# room: (rooms it may see, system libraries it may include), from cli/rooms.txt.
RULES = {}
for line in open(os.path.join(cli, 'rooms.txt')):
    if line.startswith('#') or ':' not in line:
        continue
    room, rest = line.split(':', 1)
    seen, _, libraries = rest.partition('|')
    RULES[room.strip()] = (set(seen.split()), set(libraries.split()))

LIBRARIES = [  # where a system header lives, and whose it is
    ('/usr/include/vips/', 'libvips'),
    ('/usr/include/glib-2.0/', 'GLib'), ('/usr/lib/x86_64-linux-gnu/glib-2.0/', 'GLib'),
    ('/usr/include/exiv2/', 'Exiv2'),
    ('/usr/include/x86_64-linux-gnu/qt6/', 'Qt'),
    ('/usr/include/libexif/', 'libexif'),
    ('/usr/include/webp/', 'libwebp'),
    ('/usr/include/x86_64-linux-gnu/tiffconf.h', 'libtiff'),
    ('/usr/include/tiff', 'libtiff'),
    ('/usr/include/zlib.h', 'zlib'), ('/usr/include/zconf.h', 'zlib'),
    ('/usr/include/png', 'libpng'),
    ('/usr/include/seccomp', 'libseccomp'),
    ('/usr/include/x86_64-linux-gnu/libavformat/', 'FFmpeg'),
    ('/usr/include/x86_64-linux-gnu/libavcodec/', 'FFmpeg'),
    ('/usr/include/x86_64-linux-gnu/libavutil/', 'FFmpeg'),
    ('/usr/include/x86_64-linux-gnu/libswscale/', 'FFmpeg'),
    ('/usr/include/x86_64-linux-gnu/libavfilter/', 'FFmpeg'),
    ('/usr/include/x86_64-linux-gnu/libswresample/', 'FFmpeg'),
    ('/usr/include/jpeglib.h', 'libjpeg'), ('/usr/include/jerror.h', 'libjpeg'),
    ('/usr/include/jmorecfg.h', 'libjpeg'), ('/usr/include/x86_64-linux-gnu/jconfig.h', 'libjpeg'),
]
# The C and C++ libraries and the operating system, which every room may
# include; any other header under /usr/include is some library's.
SYSTEM = ['/usr/include/c++/', '/usr/include/x86_64-linux-gnu/', '/usr/include/linux/',
          '/usr/include/asm-generic/', '/usr/lib/gcc/']


def owner(path):
    """The room, project folder or system library a header belongs to."""
    if path.startswith(cli + '/'):
        part = os.path.relpath(path, cli).split('/')
        return part[0] if len(part) > 1 else None  # error.h, outcome.h: every room's
    for folder in ('transform', 'platform'):
        if path.startswith(os.path.join(source, folder) + '/'):
            return folder
    for prefix, library in LIBRARIES:
        if path.startswith(prefix):
            return library
    if any(path.startswith(prefix) for prefix in SYSTEM):
        return None
    # The C library's own headers lie in /usr/include itself; a folder
    # there is some other library's.
    relative = os.path.relpath(path, '/usr/include')
    return None if '/' not in relative and not relative.startswith('..') else relative.split('/')[0]


def headers(depfile):
    text = open(depfile).read().replace('\\\n', ' ')
    return [os.path.realpath(p) for p in text.split(':', 1)[1].split()]


objects = {room: os.path.join(build, 'cli', room, 'CMakeFiles', f'il_cli_{room}.dir')
           for room in RULES if room != 'program'}
objects['program'] = os.path.join(build, 'cli', 'CMakeFiles', 'inverse-logistic-render.dir')
faults = []
for room, (rooms, libraries) in RULES.items():
    depfiles = glob.glob(os.path.join(objects[room], '*.o.d'))
    if not depfiles:
        faults.append(f'{room}: no dependency files under {objects[room]}; build first')
    allowed = rooms | libraries | {room}
    for depfile in depfiles:
        unit = os.path.basename(depfile)[:-4]
        for header in headers(depfile):
            whose = owner(header)
            if whose is not None and whose not in allowed and not (room == 'program' and whose == 'cli'):
                faults.append(f'{room}/{unit} includes {header} ({whose})')
# The READMEs name what each room sees as the rules do: cli/README.md's
# table, a row a room (main.cpp for the program), and the top README's layout.
rows = {}
for line in open(os.path.join(cli, 'README.md')):
    cells = [cell.strip() for cell in line.split('|')]
    if len(cells) > 3 and cells[1].startswith('`'):
        name = cells[1].strip('`').rstrip('/')
        rows['program' if name == 'main.cpp' else name] = set(
            cell.strip('` ') for cell in cells[2].split(',') if cell.strip() != 'nothing')
layout = next(line for line in open(os.path.join(source, 'README.md')) if line.startswith('| `cli/`'))
for room, (seen, _) in RULES.items():
    if rows.get(room) != seen - {'transform', 'platform'}:
        faults.append(f'cli/README.md says {room} sees {sorted(rows.get(room, []))}, '
                      f'cli/rooms.txt {sorted(seen - {"transform", "platform"})}')
    if room != 'program' and f'`{room}/`' not in layout:
        faults.append(f"README.md's layout does not name {room}/")
for fault in sorted(set(faults)):
    print('rooms: ' + fault)
print(f'rooms: {len(RULES)} rooms checked, {len(set(faults))} faults')
sys.exit(1 if faults else 0)
