// The server's files and folders in a dialog of their own (see ServerFileDialog.h).
#include "ServerFileDialog.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace serverfiles {

namespace {

bool windowsPath(const QString& path) {
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return drive.match(path).hasMatch() || path.startsWith(QLatin1String("\\\\")) ||
           path.contains(QLatin1Char('\\'));
}

QChar separatorOf(const QString& path) {
    return windowsPath(path) ? QLatin1Char('\\') : QLatin1Char('/');
}

// 2000 pads nchar values with blanks; a path never ends in one.
QString trimmedRight(QString text) {
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

QString lastPartOf(const QString& path) {
    QString p = path;
    while (p.size() > 1 && (p.endsWith(QLatin1Char('/')) || p.endsWith(QLatin1Char('\\'))))
        p.chop(1);
    return p.mid(int(p.lastIndexOf(separatorOf(p))) + 1);
}

QString folderOf(const QString& file) {
    const int cut = int(file.lastIndexOf(separatorOf(file)));
    if (cut < 0)
        return {};
    return cut == 0 || (cut == 2 && windowsPath(file) && file[1] == QLatin1Char(':')) ? file.left(cut + 1)
                                                                                      : file.left(cut);
}

} // namespace

QString joined(const QString& folder, const QString& name) {
    const QChar sep = separatorOf(folder);
    return folder.endsWith(sep) ? folder + name : folder + sep + name;
}

QString parentOf(const QString& folder) {
    const QChar sep = separatorOf(folder);
    QString f = folder;
    // A root ("/", "C:\") has no parent.
    if (f == QString(sep) || (f.size() == 3 && f.endsWith(QLatin1String(":\\"))))
        return f;
    while (f.size() > 1 && f.endsWith(sep))
        f.chop(1);
    const QString parent = folderOf(f);
    return parent.isEmpty() ? folder : parent;
}

QList<Entry> list(AdoQuery& query, const QString& folder) {
    query.close();
    query.setText(QLatin1String("EXEC master.dbo.xp_dirtree ") + sqlquote::literal(folder) +
                  QLatin1String(", 1, 1"));
    query.openRowset();
    QList<Entry> entries;
    for (query.first(); !query.atEnd(); query.next())
        entries << Entry{query.field(QStringLiteral("subdirectory")),
                         query.field(QStringLiteral("file")).toInt() == 0};
    query.close();
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.folder != b.folder)
            return a.folder;
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return entries;
}

Lister lister(AdoQuery& query) {
    return [&query](const QString& folder) { return list(query, folder); };
}

Folders defaultFolders(AdoQuery& query) {
    Folders folders;
    try {
        query.close();
        query.setText(QStringLiteral(
            "SELECT CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS nvarchar(260)) AS data_path, "
            "CAST(SERVERPROPERTY('InstanceDefaultLogPath') AS nvarchar(260)) AS log_path, "
            "CAST(SERVERPROPERTY('InstanceDefaultBackupPath') AS nvarchar(260)) AS backup_path"));
        query.openRowset();
        if (!query.atEnd()) {
            folders.data = query.field(QStringLiteral("data_path"));
            folders.log = query.field(QStringLiteral("log_path"));
            folders.backup = query.field(QStringLiteral("backup_path"));
        }
        query.close();
    } catch (const DbError&) {
        query.close(); // a server that does not know them: master's folder below
    }
    if (folders.data.isEmpty()) {
        query.setText(
            QStringLiteral("SELECT filename FROM master.dbo.sysaltfiles WHERE dbid = 1 AND fileid = 1"));
        query.openRowset();
        if (!query.atEnd())
            folders.data = folderOf(trimmedRight(query.field(QStringLiteral("filename"))));
        query.close();
    }
    if (folders.log.isEmpty())
        folders.log = folders.data;
    if (folders.backup.isEmpty())
        folders.backup = folders.data;
    return folders;
}

QString startIn(const QString& fieldPath, const QString& fallback,
                const std::function<bool(const QString& folder)>& serverHasFolder) {
    const QString folder = fieldPath.trimmed().isEmpty() ? QString() : folderOf(fieldPath.trimmed());
    return !folder.isEmpty() && serverHasFolder(folder) ? folder : fallback;
}

std::optional<QString> pick(modal::Kind kind, const QString& title, const QStringList& extensions,
                            const QString& start, const Lister& lister) {
    modal::Request request;
    request.kind = kind;
    request.caption = title;
    request.directory = start;
    request.filter = extensions.join(QLatin1Char(';'));
    if (std::optional<modal::Answer> answer = modal::scripted(request))
        return answer->path;
    ServerFileDialog dialog(kind, title, extensions, start, lister, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosenPath();
}

} // namespace serverfiles

ServerFileDialog::ServerFileDialog(modal::Kind kind, const QString& title, const QStringList& extensions,
                                   const QString& start, serverfiles::Lister lister, QWidget* parent)
    : QDialog(parent), m_kind(kind), m_lister(std::move(lister)) {
    setObjectName(QStringLiteral("ServerFileDialog"));
    setWindowTitle(title);
    for (const QString& e : extensions)
        m_extensions << e.toLower();
    auto* layout = new QVBoxLayout(this);
    auto* where =
        new QLabel(m_kind == modal::Kind::ServerFolder ? QStringLiteral("Тека на сервері:")
                                                       : QStringLiteral("Файл або тека на сервері:"),
                   this);
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("ServerPath"));
    where->setBuddy(m_path);
    auto* upButton = new QPushButton(QStringLiteral("Вгору"), this);
    upButton->setObjectName(QStringLiteral("UpButton"));
    upButton->setAutoDefault(false);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(upButton);
    m_entries = new QListWidget(this);
    m_entries->setObjectName(QStringLiteral("ServerEntries"));
    m_entries->setMinimumSize(480, 300);
    m_entries->installEventFilter(this);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("Problem"));
    m_problem->setWordWrap(true);
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->hide();
    m_choose = new QPushButton(QStringLiteral("Вибрати"), this);
    m_choose->setObjectName(QStringLiteral("ChooseButton"));
    m_choose->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Скасувати"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_choose);
    buttons->addWidget(cancel);
    layout->addWidget(where);
    layout->addLayout(pathRow);
    layout->addWidget(m_entries, 1);
    layout->addWidget(m_problem);
    layout->addLayout(buttons);

    connect(upButton, &QPushButton::clicked, this, &ServerFileDialog::up);
    connect(m_choose, &QPushButton::clicked, this, &ServerFileDialog::choose);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_path, &QLineEdit::returnPressed, this, &ServerFileDialog::pathEntered);
    connect(m_entries, &QListWidget::itemActivated, this, &ServerFileDialog::activate);
    openFolder(start.isEmpty() ? QStringLiteral("/") : start);
    m_entries->setFocus();
}

bool ServerFileDialog::wanted(const QString& fileName) const {
    if (m_extensions.isEmpty())
        return true;
    const int dot = int(fileName.lastIndexOf(QLatin1Char('.')));
    return dot >= 0 && m_extensions.contains(fileName.mid(dot + 1).toLower());
}

void ServerFileDialog::openFolder(const QString& folder, const QString& cameFrom) {
    QList<serverfiles::Entry> found;
    try {
        found = m_lister(folder);
    } catch (const DbError& e) {
        m_problem->setText(QStringLiteral("Сервер не показав теку «%1»: %2").arg(folder, e.message()));
        m_problem->show();
        // The field shows the folder on show again: the button then chooses what the list shows,
        // and the line above says what was not opened.
        if (!m_folder.isEmpty())
            m_path->setText(m_folder);
        return;
    }
    m_problem->hide();
    m_folder = folder;
    m_path->setText(folder);
    m_entries->clear();
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    for (const serverfiles::Entry& e : found) {
        if (!e.folder && (m_kind == modal::Kind::ServerFolder || !wanted(e.name)))
            continue;
        auto* item = new QListWidgetItem(e.folder ? folderIcon : fileIcon, e.name, m_entries);
        item->setData(Qt::UserRole, e.folder);
    }
    // Nothing is chosen for the user: a file made current here would be what one careless click
    // on "Вибрати" overwrites. Only the folder just left, going up, is made current, so that Enter
    // goes back into it.
    m_entries->setCurrentItem(nullptr);
    for (int i = 0; i < m_entries->count(); ++i)
        if (!cameFrom.isEmpty() && m_entries->item(i)->data(Qt::UserRole).toBool() &&
            m_entries->item(i)->text() == cameFrom)
            m_entries->setCurrentRow(i);
}

void ServerFileDialog::activate(QListWidgetItem* item) {
    if (!item)
        return;
    const QString path = serverfiles::joined(m_folder, item->text());
    if (item->data(Qt::UserRole).toBool())
        openFolder(path);
    else
        choosePath(path);
}

void ServerFileDialog::pathEntered() {
    QString typed = m_path->text().trimmed();
    if (typed.isEmpty())
        return;
    // A bare name means the folder on show: a new backup's name typed there, for one. ("D:" is a
    // drive, not a name.)
    if (!typed.contains(QLatin1Char('/')) && !typed.contains(QLatin1Char('\\')) &&
        !typed.contains(QLatin1Char(':'))) {
        // A bare name that is no folder on show is a new file's: of the one kind asked for, its
        // extension may be left out.
        if (m_kind == modal::Kind::ServerFile && m_extensions.size() == 1 && !wanted(typed) &&
            m_entries->findItems(typed, Qt::MatchFixedString).isEmpty())
            typed += QLatin1Char('.') + m_extensions.first();
        typed = serverfiles::joined(m_folder, typed);
    }
    if (m_kind == modal::Kind::ServerFile && wanted(typed) && !m_extensions.isEmpty())
        choosePath(typed);
    else
        openFolder(typed);
    m_entries->setFocus();
}

void ServerFileDialog::up() {
    const QString parent = serverfiles::parentOf(m_folder);
    if (parent != m_folder)
        openFolder(parent, serverfiles::lastPartOf(m_folder));
}

void ServerFileDialog::choose() {
    // What the user typed in the field is what the button chooses, as Enter there does: a new
    // backup's name, a folder of the server's.
    if (m_path->text().trimmed() != m_folder && !m_path->text().trimmed().isEmpty()) {
        const QString before = m_folder;
        pathEntered();
        if (m_kind == modal::Kind::ServerFolder && result() != QDialog::Accepted && m_folder != before)
            choosePath(m_folder);
        return;
    }
    QListWidgetItem* item = m_entries->currentItem();
    if (m_kind == modal::Kind::ServerFolder) {
        // The folder open in the list, or a folder selected in it.
        choosePath(item && item->isSelected() ? serverfiles::joined(m_folder, item->text()) : m_folder);
        return;
    }
    if (item && item->isSelected())
        activate(item);
}

void ServerFileDialog::choosePath(const QString& path) {
    m_chosen = path;
    accept();
}

bool ServerFileDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_entries && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Backspace) {
            up();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // The view makes its first entry current, unselected, when it takes the focus: a file
            // is chosen only once the user has moved to it.
            QListWidgetItem* item = m_entries->currentItem();
            if (item && (item->isSelected() || item->data(Qt::UserRole).toBool()))
                activate(item);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
