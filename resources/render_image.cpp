// Build-time tool: draws one of our SVG images as a bitmap (BitmapFormat.h) at the size it is
// drawn for (the SVG's own width and height, which is the size the window shows it at) and at
// twice that for high-density screens. The program itself then ships bitmaps only, so it never
// loads the SVG library, its plugins or an image decoder: that saves start-up time and more than
// half a megabyte of memory.
//   render_image SOURCE.svg OUT.bitmap OUT@2x.bitmap
// The application icon for desktops is drawn as PNGs of the sizes their icon themes ask for:
//   render_image --png SIZE SOURCE.svg OUT.png
#include "BitmapFormat.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

static QImage draw(QSvgRenderer& svg, const QSize& size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    return image;
}

static bool render(QSvgRenderer& svg, const QSize& size, const QString& path) {
    const QImage image = draw(svg, size);
    const BitmapHeader header{uint32_t(size.width()), uint32_t(size.height())};
    QFile out(path);
    return out.open(QIODevice::WriteOnly) &&
           out.write(reinterpret_cast<const char*>(&header), sizeof header) == qint64(sizeof header) &&
           out.write(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()) ==
               image.sizeInBytes() &&
           out.flush();
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--png")) {
        const int side = args[2].toInt();
        QSvgRenderer svg(args[3]);
        if (!svg.isValid() || side <= 0 || !draw(svg, QSize(side, side)).save(args[4], "PNG")) {
            std::fprintf(stderr, "render_image: cannot draw %s as %s\n", qPrintable(args[3]),
                         qPrintable(args[4]));
            return 1;
        }
        return 0;
    }
    if (args.size() != 4) {
        std::fprintf(
            stderr,
            "usage: render_image SOURCE.svg OUT.bitmap OUT@2x.bitmap | --png SIZE SOURCE.svg OUT.png\n");
        return 2;
    }
    QSvgRenderer svg(args[1]);
    const QSize size = svg.defaultSize();
    if (!svg.isValid() || size.isEmpty()) {
        std::fprintf(stderr, "render_image: cannot draw %s\n", qPrintable(args[1]));
        return 1;
    }
    if (!render(svg, size, args[2]) || !render(svg, 2 * size, args[3])) {
        std::fprintf(stderr, "render_image: cannot write the images of %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
