#include "Images.h"

#include "BitmapFormat.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QResource>
#include <cstring>

namespace {
// The pixels are used where the resource lies: they are stored uncompressed, in the layout Qt
// keeps images in (see BitmapFormat.h), and only the pixmap takes a copy.
QPixmap readBitmap(const QString& path) {
    const QByteArray bytes = QResource(path).uncompressedData();
    BitmapHeader header{};
    if (size_t(bytes.size()) < sizeof header)
        return {};
    std::memcpy(&header, bytes.constData(), sizeof header);
    const qint64 pixels = qint64(header.width) * header.height;
    if (pixels <= 0 || bytes.size() - qint64(sizeof header) != pixels * 4)
        return {};
    const QImage image(reinterpret_cast<const uchar*>(bytes.constData()) + sizeof header, int(header.width),
                       int(header.height), int(header.width) * 4, QImage::Format_ARGB32_Premultiplied);
    return QPixmap::fromImage(image);
}
} // namespace

QIcon zelvaroIcon(const char* name) {
    const QString base = QStringLiteral(":/images/") + QString::fromLatin1(name);
    QIcon icon;
    icon.addPixmap(readBitmap(base + QStringLiteral(".bitmap")));
    // The sharper copy only where some screen would show it.
    if (qApp->devicePixelRatio() > 1) {
        QPixmap doubled = readBitmap(base + QStringLiteral("@2x.bitmap"));
        doubled.setDevicePixelRatio(2);
        icon.addPixmap(doubled);
    }
    return icon;
}
