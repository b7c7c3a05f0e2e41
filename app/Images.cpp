#include "Images.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>

namespace {
// The format is known, so the reader is told not to guess it: guessing asks every image plugin
// installed (JPEG, GIF, SVG, ...) whether it can read the file, loading each one.
QPixmap readPng(const QString& path) {
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}
} // namespace

QIcon zelvaroIcon(const char* name) {
    const QString base = QStringLiteral(":/images/") + QString::fromLatin1(name);
    QIcon icon;
    icon.addPixmap(readPng(base + QStringLiteral(".png")));
    // The sharper copy only where some screen would show it.
    if (qApp->devicePixelRatio() > 1) {
        QPixmap doubled = readPng(base + QStringLiteral("@2x.png"));
        doubled.setDevicePixelRatio(2);
        icon.addPixmap(doubled);
    }
    return icon;
}
