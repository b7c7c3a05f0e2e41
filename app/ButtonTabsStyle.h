// The page control's tabs drawn as buttons: raised while not selected, pressed in when selected.
#pragma once

#include <QProxyStyle>

// Set on the tab bar alone. A style sheet would do the same in a few lines, but it brings Qt's
// style-sheet engine into the window: measurably slower start-up and more memory.
class ButtonTabsStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                           const QWidget* widget = nullptr) const override;
};
