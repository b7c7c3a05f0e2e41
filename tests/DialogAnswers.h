// Message dialog answers by name, and a key pressed on a real message dialog.
#pragma once

#include "MessageDialog.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTextDocument>

// The numbers a message dialog answers with (the old client's modal results).
struct Reply {
    static constexpr int OK = 1;
    static constexpr int Cancel = 2;
    static constexpr int Yes = 6;
    static constexpr int No = 7;
};

// Shows the dialog, presses key where the focus is (the dialog itself when nothing has it) and
// returns the dialog's answer.
inline int pressKey(msgdlg::MessageDialog& dialog, int key) {
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QWidget* target = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
    QTest::keyClick(target, Qt::Key(key));
    return dialog.result();
}

// The message as the dialog shows it to the eye: what its label draws, as plain text.
inline QString shownText(const msgdlg::MessageDialog& dialog) {
    const auto* label = dialog.findChild<QLabel*>(QStringLiteral("message"));
    if (!label)
        return QString();
    QTextDocument drawn;
    drawn.setHtml(label->text());
    return drawn.toPlainText()
        .replace(QChar::LineSeparator, QLatin1Char('\n'))
        .replace(QChar::Nbsp, QLatin1Char(' '));
}
