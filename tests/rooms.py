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

# room: (rooms it may see, system libraries it may include)
RULES = {
    'formats': (set(), set()),
    'command': ({'formats', 'transform', 'platform'}, {'Qt'}),
    'fileio': (set(), set()),
    'netpbm': ({'transform', 'platform'}, set()),
    'png': ({'fileio'}, {'zlib'}),
    'metadata': ({'formats'}, {'Exiv2'}),
    'vipsio': ({'formats', 'fileio', 'metadata', 'netpbm', 'png', 'command', 'transform',
                'platform'}, {'libvips', 'GLib', 'libtiff', 'libwebp', 'libexif', 'libjpeg', 'zlib',
                              'Qt'}),
    'film': ({'fileio', 'formats', 'transform', 'platform'}, {'FFmpeg'}),
    'sandbox': (set(), {'libseccomp'}),
    'workers': (set(), set()),
    'batch': ({'command', 'formats', 'fileio', 'netpbm', 'vipsio', 'film', 'sandbox', 'workers',
               'transform', 'platform'}, set()),
    'program': ({'command', 'batch', 'vipsio', 'formats', 'fileio', 'workers', 'transform',
                 'platform'}, {'Qt'}),
}
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
for fault in sorted(set(faults)):
    print('rooms: ' + fault)
print(f'rooms: {len(RULES)} rooms checked, {len(set(faults))} forbidden includes')
sys.exit(1 if faults else 0)
