#pragma once

#include <vips/vips8>

// The photograph both programs embed, as an sRGB image. It is the program's
// own 24-bit BMP file, unpacked here, so that rendering it needs no loader
// that libvips marks untrusted.
vips::VImage embeddedPhotograph();
