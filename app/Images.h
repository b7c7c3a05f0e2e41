// The window's images: bitmaps drawn at build time from resources/*.svg, each at its own size and
// at twice that for high-density screens.
#pragma once

#include <QIcon>

// ":/images/<name>.bitmap" with its "@2x" companion.
QIcon zelvaroIcon(const char* name);
