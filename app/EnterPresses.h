// Enter on a focused button presses it, as Space does.
#pragma once

#include <QList>

class QAbstractButton;

// Qt's buttons outside dialogs leave Enter (Return and the keypad's Enter) to their window; these
// buttons take it as a press. A held key presses once.
void pressWithEnter(const QList<QAbstractButton*>& buttons);
