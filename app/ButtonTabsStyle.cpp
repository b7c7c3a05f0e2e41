#include "ButtonTabsStyle.h"

#include <QLinearGradient>
#include <QPainter>
#include <QStyleOption>

namespace {
// Around the text: 4 px on the sides and 3 px above and below, inside a 1 px border.
const int kPaddingX = 4, kPaddingY = 3, kBorder = 1;
// Between the buttons: 2 px above, below and after each one.
const int kGap = 2;
} // namespace

void ButtonTabsStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    if (element != CE_TabBarTabShape) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const bool selected = option->state & State_Selected;
    const bool hovered = option->state & State_MouseOver;
    // Half-pixel insets put the 1 px border on whole pixels.
    const QRectF button = QRectF(option->rect).adjusted(0.5, kGap + 0.5, -kGap - 0.5, -kGap - 0.5);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QColor(selected ? 0x5a5a5a : 0x8c8c8c));
    if (selected) {
        painter->setBrush(QColor(0xcfcfcf));
    } else if (hovered) {
        painter->setBrush(QColor(0xececec));
    } else {
        QLinearGradient raised(button.topLeft(), button.bottomLeft());
        raised.setColorAt(0, QColor(0xfbfbfb));
        raised.setColorAt(1, QColor(0xdedede));
        painter->setBrush(raised);
    }
    painter->drawRoundedRect(button, 2, 2);
    painter->restore();
}

int ButtonTabsStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                 const QWidget* widget) const {
    switch (metric) {
    case PM_TabBarTabHSpace:
        return 2 * (kPaddingX + kBorder) + kGap;
    case PM_TabBarTabVSpace:
        return 2 * (kPaddingY + kBorder + kGap);
    // Buttons stand side by side and the pressed one stays in line with the others.
    case PM_TabBarTabOverlap:
    case PM_TabBarTabShiftHorizontal:
    case PM_TabBarTabShiftVertical:
        return 0;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QSize ButtonTabsStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                        const QSize& contentsSize, const QWidget* widget) const {
    // The tab bar has already added the spaces above: a button is exactly that big.
    if (type == CT_TabBarTab)
        return contentsSize;
    return QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
}
