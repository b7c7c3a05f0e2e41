// Every modal dialog the window shows goes through here: message dialogs, message boxes, file,
// save and folder pickers. Tests install a responder that answers (and records) instead of a person.
#pragma once

#include "MessageDialog.h"

#include <QString>
#include <functional>
#include <optional>

class ProgressDialog;
class QWidget;

namespace modal {

// ServerFile and ServerFolder: the server's own files and folders (ServerFileDialog.h).
enum class Kind {
    MessageDialog,
    SimpleMessage,
    SystemMessageBox,
    ErrorBox,
    OpenFile,
    SaveFile,
    Folder,
    ServerFile,
    ServerFolder,
    Password
};

struct Request {
    Kind kind = Kind::MessageDialog;
    QString text;    // message text, or the folder picker's text above the tree
    QString caption; // window caption of message displays; title of file dialogs
    DialogType type = DialogType::Custom;
    DialogButtons buttons;
    QString filter; // "description|pattern|description|pattern"
    int filterIndex = 1;
    QString defaultExtension; // as the caller gives it: "*.mdf"
    QString directory;        // where the picker opens
    QString selectedFile;     // the path already filled in
    QString statements;       // message dialogs: the T-SQL section, empty when there is none
};

struct Answer {
    int result = 2;              // message dialogs: the number of the button
    std::optional<QString> path; // pickers: the choice, or nothing when cancelled
    int filterIndex = 1;         // open dialog: the filter entry selected at the end
};

using Responder = std::function<Answer(const Request&)>;

// Tests: answer every dialog through this function; an empty one brings back the real dialogs.
void setResponder(Responder responder);

// statements: the T-SQL the dialog's operation sends, shown in its "T-SQL" section; none when empty.
int messageDialog(const QString& text, DialogType type, const DialogButtons& buttons,
                  const QString& statements = QString());
// A confirmation with Yes and No: true only when the user answers Yes (No, Escape or closing is false).
bool confirm(const QString& text, const QString& statements = QString());
void simpleMessage(const QString& text);
void systemMessageBox(QWidget* owner, const QString& text, const QString& caption);
// The box for errors no handler caught: the text gets its full stop, caption the application title.
void errorBox(const QString& errorText);
QString errorBoxText(const QString& errorText);

// The progress dialog of a long operation is not answered but watched: a test's watcher is handed
// each one as it opens (before it shows) and may follow its progress and press its Cancel button.
using ProgressWatcher = std::function<void(ProgressDialog&)>;
void setProgressWatcher(ProgressWatcher watcher);
void progressOpened(ProgressDialog& dialog);

Answer pickFile(const Request& request); // OpenFile or SaveFile
// The test's answer to a dialog shown elsewhere (the server's file dialog); nothing when no test
// answers, and the real dialog is shown.
std::optional<Answer> scripted(const Request& request);
std::optional<QString> pickFolder(const QString& text, const QString& firstSelection);
// A password typed twice in a field that shows dots; nothing when cancelled. Tests answer with path.
std::optional<QString> askPassword(const QString& text);

} // namespace modal
