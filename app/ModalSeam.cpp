#include "ModalSeam.h"

#include "FileDialogColumns.h"
#include "FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>

namespace modal {

namespace {
Responder g_responder;
ProgressWatcher g_progressWatcher;

QWidget* activeOwner() {
    return QApplication::activeWindow();
}

// "Файли бази даних (*.MDF)|*.mdf|..." becomes Qt's "Файли бази даних (*.MDF *.mdf)" entries:
// the description keeps its text and the pattern is matched in both letter cases, as the user's
// files may end either way.
QStringList qtFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        QStringList patterns;
        const int open = description.lastIndexOf(QLatin1Char('('));
        if (description.endsWith(QLatin1Char(')')) && open >= 0) {
            patterns = description.mid(open + 1, description.size() - open - 2)
                           .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            description = description.left(open).trimmed();
        }
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << p << p.toLower() << p.toUpper();
        patterns.removeDuplicates();
        if (patterns.contains(QStringLiteral("*.*")))
            patterns = {QStringLiteral("*")};
        out << description + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}
} // namespace

void setResponder(Responder responder) {
    g_responder = std::move(responder);
}

void setProgressWatcher(ProgressWatcher watcher) {
    g_progressWatcher = std::move(watcher);
}

void progressOpened(ProgressDialog& dialog) {
    if (g_progressWatcher)
        g_progressWatcher(dialog);
}

int messageDialog(const QString& text, DialogType type, const DialogButtons& buttons, const QString& statements) {
    if (g_responder) {
        Request r;
        r.kind = Kind::MessageDialog;
        r.text = text;
        r.caption = msgdlg::typeCaption(type);
        r.type = type;
        r.buttons = buttons;
        r.statements = statements;
        return g_responder(r).result;
    }
    msgdlg::MessageDialog dialog(text, type, buttons, activeOwner(), statements);
    return dialog.exec();
}

bool confirm(const QString& text, const QString& statements) {
    return messageDialog(text, DialogType::Confirmation, {DialogButton::Yes, DialogButton::No}, statements) ==
           msgdlg::resultOf(DialogButton::Yes);
}

void simpleMessage(const QString& text) {
    if (g_responder) {
        Request r;
        r.kind = Kind::SimpleMessage;
        r.text = text;
        r.caption = msgdlg::typeCaption(DialogType::Custom);
        r.type = DialogType::Custom;
        r.buttons = {DialogButton::OK};
        g_responder(r);
        return;
    }
    msgdlg::MessageDialog dialog(text, DialogType::Custom, {DialogButton::OK}, activeOwner());
    dialog.exec();
}

void systemMessageBox(QWidget* owner, const QString& text, const QString& caption) {
    if (g_responder) {
        Request r;
        r.kind = Kind::SystemMessageBox;
        r.text = text;
        r.caption = caption;
        r.type = DialogType::Error;
        r.buttons = {DialogButton::OK};
        g_responder(r);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString errorBoxText(const QString& errorText) {
    // A full stop follows a text whose last character sorts above "." (letters, digits, ":", "?"),
    // not one ending in a blank, a line break, ")" or "." already.
    if (!errorText.isEmpty() && errorText.back().unicode() > QLatin1Char('.').unicode())
        return errorText + QLatin1Char('.');
    return errorText;
}

void errorBox(const QString& errorText) {
    const QString text = errorBoxText(errorText);
    if (g_responder) {
        Request r;
        r.kind = Kind::ErrorBox;
        r.text = text;
        r.caption = QGuiApplication::applicationDisplayName();
        r.type = DialogType::Error;
        r.buttons = {DialogButton::OK};
        g_responder(r);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    activeOwner());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::optional<Answer> scripted(const Request& request) {
    if (g_responder)
        return g_responder(request);
    return std::nullopt;
}

Answer pickFile(const Request& request) {
    if (g_responder)
        return g_responder(request);
    QFileDialog dialog(activeOwner(), request.caption, request.directory);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new FileDialogColumns); // the dialog takes it
    dialog.setSizeGripEnabled(true);
    const QStringList filters = qtFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    QString suffix = request.defaultExtension;
    suffix.remove(QLatin1String("*.")).remove(QLatin1Char('*'));
    dialog.setDefaultSuffix(suffix);
    if (request.kind == Kind::SaveFile) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!request.selectedFile.isEmpty())
        dialog.selectFile(request.selectedFile);
    if (request.kind == Kind::OpenFile) {
        // The open dialog comes up centred across the screen and a third of the way down.
        dialog.adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            dialog.move(area.x() + qMax(0, (area.width() - dialog.width()) / 2),
                        area.y() + qMax(0, (area.height() - dialog.height()) / 3));
        }
    }
    Answer answer;
    answer.filterIndex = request.filterIndex;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        answer.path = dialog.selectedFiles().first();
        answer.filterIndex = int(filters.indexOf(dialog.selectedNameFilter())) + 1;
    }
    return answer;
}

std::optional<QString> pickFolder(const QString& text, const QString& firstSelection) {
    if (g_responder) {
        Request r;
        r.kind = Kind::Folder;
        r.text = text;
        r.directory = firstSelection;
        return g_responder(r).path;
    }
    // Our own dialog rather than the file dialog in folder mode, which would show the long prompt as
    // its "look in" label and squeeze the path field beside it.
    FolderPicker dialog(text, firstSelection, activeOwner());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosenFolder();
}

std::optional<QString> askPassword(const QString& text) {
    if (g_responder) {
        Request r;
        r.kind = Kind::Password;
        r.text = text;
        r.caption = msgdlg::typeCaption(DialogType::Confirmation);
        return g_responder(r).path;
    }
    // Typed twice: a mistyped password would lock the login's owner out at once.
    for (QString shown = text;;) {
        bool ok = false;
        const QString first =
            QInputDialog::getText(activeOwner(), msgdlg::typeCaption(DialogType::Confirmation), shown,
                                  QLineEdit::Password, QString(), &ok);
        if (!ok || first.isEmpty())
            return std::nullopt;
        const QString again = QInputDialog::getText(
            activeOwner(), msgdlg::typeCaption(DialogType::Confirmation),
            QStringLiteral("Введіть пароль ще раз:"), QLineEdit::Password, QString(), &ok);
        if (!ok)
            return std::nullopt;
        if (again == first)
            return first;
        shown = QStringLiteral("Паролі не збіглися.\n") + text;
    }
}

} // namespace modal
