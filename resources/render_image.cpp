// Build-time tool: draws one of our SVG images as PNG at the size it is drawn for (the SVG's own
// width and height, which is the size the window shows it at) and at twice that for high-density
// screens. The program itself then ships bitmaps only, so it never loads the SVG
// library or its plugins: that saves start-up time and half a megabyte of memory.
//   render_image SOURCE.svg OUT.png OUT@2x.png
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

static bool render(QSvgRenderer& svg, const QSize& size, const QString& path) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    return image.save(path, "PNG");
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: render_image SOURCE.svg OUT.png OUT@2x.png\n");
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
