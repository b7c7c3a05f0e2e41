// The window's images as the build stores them: a header, then the pixels exactly as Qt keeps
// them in memory (32-bit premultiplied ARGB, native byte order, rows without padding). Written by
// the build's render_image and read by the program built with it on the same machine, so nothing
// has to decode them: no PNG or zlib code runs, and no decoding buffers are taken.
#pragma once

#include <cstdint>

struct BitmapHeader {
    uint32_t width;
    uint32_t height;
};
