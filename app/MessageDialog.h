// The message dialog: a modal dialog with a type (caption and icon), a message and a chosen set
// of buttons, laid out and answered the way the program's users know it. Its captions ship in
// English; the Ukrainian ones are set at start-up (RusUkrDlg).
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QPushButton;

enum class DialogType { Warning, Error, Information, Confirmation, Custom };
enum class DialogButton { Yes, No, OK, Cancel, Abort, Retry, Ignore, All, NoToAll, YesToAll, Help };
using DialogButtons = QList<DialogButton>;

namespace msgdlg {

constexpr int TypeCount = 5;
constexpr int ButtonCount = 11;

// Replaces the type captions (Custom's entry is unused: it shows the application title) and the
// button captions, in the order of DialogType and DialogButton. Meant for start-up, before any
// dialog is shown.
void setCaptions(const QString (&types)[TypeCount], const QString (&buttons)[ButtonCount]);

QString typeCaption(DialogType type); // Custom: the application title
QString buttonCaption(DialogButton button);
// The number the dialog returns when that button closes it (Help: 0, it does not close).
int resultOf(DialogButton button);

// What Ctrl+C puts on the clipboard: dashed lines around caption, message and button captions, and
// the statements after them when the dialog has any.
QString clipboardText(const QString& caption, const QString& message, const DialogButtons& buttons,
                      const QString& statements = QString());

// The message as the rich text that shows it as it is: every character (an "&" in a path or a
// database name included), its line breaks and its runs of blanks. Messages carry names and paths
// from the user, the file system and the server: a user must confirm exactly what is acted on.
QString shownAsIs(const QString& text);

class MessageDialog : public QDialog {
    Q_OBJECT
public:
    // statements: the T-SQL the operation will send, exactly as it goes; non-empty adds the
    // "T-SQL" button that shows it in a read-only, selectable text area below the message.
    MessageDialog(const QString& message, DialogType type, DialogButtons buttons, QWidget* parent = nullptr,
                  const QString& statements = QString());
    QPushButton* button(DialogButton kind) const;
    DialogButtons buttonKinds() const { return m_kinds; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showStatements(bool shown);

    QString m_message;
    QString m_statements;
    QWidget* m_statementsView = nullptr;
    DialogButtons m_kinds;
    QList<QPushButton*> m_buttons;
    int m_escapeResult = -1;
};

} // namespace msgdlg
