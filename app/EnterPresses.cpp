// The event filter that turns Enter on a focused button into a press.
#include "EnterPresses.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace {
class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || modifiers != Qt::NoModifier)
            return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        if (!key->isAutoRepeat() && button->isEnabled())
            button->click();
        return true;
    }
};
} // namespace

void pressWithEnter(const QList<QAbstractButton*>& buttons) {
    for (QAbstractButton* button : buttons)
        button->installEventFilter(new EnterPresses(button));
}
