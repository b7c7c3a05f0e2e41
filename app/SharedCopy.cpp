// Copies to and from the shared folder under the progress dialog (see SharedCopy.h).
#include "SharedCopy.h"

#include "ControlsDisabled.h"
#include "Journal.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "ProgressDialog.h"
#include "StatementWatch.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Copies that end quicker than this never show the dialog.
const int kDialogDelayMs = 300;
const qint64 kChunk = 1 << 20;

QString systemText(int error) {
    return QString::fromLocal8Bit(strerror(error));
}

struct CopyState {
    std::atomic<qint64> done{0};
    StatementWatch cancel; // no statement: only its cancel, which a close request of the window also uses
    int error = 0;         // errno of the failed call
    bool fromSide = false; // the failed call read the source
};

// Copies on the calling (worker) thread; the target is made new (O_EXCL) so that nothing there
// is ever overwritten. False on failure or cancel, with the target removed.
bool copyBytes(const QByteArray& from, const QByteArray& to, CopyState& state) {
    const int in = open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        state.error = errno;
        state.fromSide = true;
        return false;
    }
    const int out = open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        state.error = errno;
        close(in);
        return false;
    }
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    bool ok = true;
    while (ok && !state.cancel.cancelRequested()) {
        const ssize_t got = read(in, buffer.get(), size_t(kChunk));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0) {
                state.error = errno;
                state.fromSide = true;
                ok = false;
            }
            break;
        }
        for (ssize_t put = 0; put < got && ok;) {
            const ssize_t n = write(out, buffer.get() + put, size_t(got - put));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                state.error = errno;
                ok = false;
            } else {
                put += n;
            }
        }
        state.done += got;
    }
    if (ok && !state.cancel.cancelRequested() && fsync(out) != 0) {
        state.error = errno;
        ok = false;
    }
    close(in);
    if (close(out) != 0 && ok) {
        state.error = errno;
        ok = false;
    }
    if (!ok || state.cancel.cancelRequested()) {
        unlink(to.constData());
        return false;
    }
    return true;
}

// Runs the copy on a worker while the window's controls are disabled and the dialog shows the
// share copied. Returns false when the user cancelled; throws FileTransferFailed on failure.
bool copyWithProgress(QWidget* window, const QString& source, const QString& target, const QString& title) {
    const qint64 size = QFileInfo(source).size();
    CopyState state;
    ProgressDialog dialog(title, QStringLiteral("Файл: %1").arg(source), window);
    QObject::connect(&dialog, &ProgressDialog::cancelRequested, &dialog, [&state] { state.cancel.cancel(); });
    bool copied = false;
    {
        const ControlsDisabled disabled(window);
        const longop::OwnWork running(state.cancel);
        modal::progressOpened(dialog);
        const QByteArray from = QFile::encodeName(source), to = QFile::encodeName(target);
        QThread* worker = QThread::create([&] { copied = copyBytes(from, to, state); });
        QEventLoop loop;
        QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
        QTimer showLater;
        showLater.setSingleShot(true);
        QObject::connect(&showLater, &QTimer::timeout, &dialog, [&dialog] { dialog.open(); });
        showLater.start(kDialogDelayMs);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &dialog, [&] {
            if (size > 0)
                dialog.setPercent(int(state.done * 100 / size));
        });
        tick.start(100);
        worker->start();
        loop.exec();
        worker->wait();
        delete worker;
        dialog.hide();
    }
    if (copied)
        return true;
    if (state.cancel.cancelRequested())
        return false;
    throw FileTransferFailed(
        state.fromSide
            ? QStringLiteral("Не вдалося прочитати файл «%1»: %2.").arg(source, systemText(state.error))
            : QStringLiteral("Не вдалося записати файл «%1»: %2.").arg(target, systemText(state.error)));
}

} // namespace

namespace {

// The copy's entry: the same path written twice (copyIntoShared, then the object) is one entry.
bool journalCopy(const QString& path, QString* id, QString* problem) {
    ops::JournalEntry entry;
    entry.kind = ops::JournalEntry::Kind::Copy;
    entry.path = path;
    const bool written = ops::journal().write(entry, problem);
    *id = entry.id;
    return written;
}

} // namespace

SharedCopy::SharedCopy(QString path) : m_path(std::move(path)) {
    journalCopy(m_path, &m_journalId, nullptr);
}

SharedCopy::~SharedCopy() {
    if (m_kept)
        return;
    QFile::remove(m_path);
    ops::journal().crossOutAt(m_path); // the copy and the ACL entries it carried
}

void SharedCopy::keep() {
    m_kept = true;
    ops::journal().markLasting(m_journalId);
}

QString freshPath(const QString& folder, const QString& fileName) {
    const QFileInfo name(fileName);
    const QString base = name.completeBaseName();
    const QString suffix = name.suffix().isEmpty() ? QString() : QLatin1Char('.') + name.suffix();
    QString candidate = QDir(folder).filePath(fileName);
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = QDir(folder).filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix));
    return candidate;
}

QString freshPath(const QString& folder, const QString& fileName, const QStringList& taken) {
    const QFileInfo name(fileName);
    const QString suffix = name.suffix().isEmpty() ? QString() : QLatin1Char('.') + name.suffix();
    QString candidate = freshPath(folder, fileName);
    for (int n = 2; taken.contains(candidate); ++n)
        candidate =
            freshPath(folder, QStringLiteral("%1 (%2)%3").arg(name.completeBaseName()).arg(n).arg(suffix));
    return candidate;
}

std::unique_ptr<SharedCopy> copyIntoShared(QWidget* window, const QString& source, const QString& folder) {
    return copyIntoSharedAs(window, source, freshPath(folder, QFileInfo(source).fileName()));
}

std::unique_ptr<SharedCopy> copyIntoSharedAs(QWidget* window, const QString& source, const QString& target) {
    QString id, problem;
    if (!journalCopy(target, &id, &problem))
        throw FileTransferFailed(problem);
    bool copied = false;
    try {
        copied = copyWithProgress(window, source, target, QStringLiteral("Копіювання файлу до спільної теки"));
    } catch (...) {
        ops::journal().crossOut(id); // nothing half-written stays (copyBytes removed it)
        throw;
    }
    if (!copied) {
        ops::journal().crossOut(id);
        throw OperationCancelled{QStringLiteral("Копіювання скасовано. Операцію не виконано.")};
    }
    return std::make_unique<SharedCopy>(target);
}

void moveToChosenPath(QWidget* window, const QString& written, const QString& target) {
    const QByteArray from = QFile::encodeName(written), to = QFile::encodeName(target);
    // A file the server wrote is its account's, with the shared folder's entries on it: renamed, it
    // would stay so in the user's folder. Only the user's own file is renamed; the server's is
    // copied into a file of the user's.
    struct stat st {};
    const bool mine = stat(from.constData(), &st) == 0 && st.st_uid == geteuid();
    if (mine && rename(from.constData(), to.constData()) == 0)
        return;
    if (mine && errno != EXDEV)
        throw FileTransferFailed(
            QStringLiteral("Не вдалося перенести резервну копію до «%1»: %2. Вона лишилася у «%3».")
                .arg(target, systemText(errno), written));
    // The data first goes to a file of its own beside target, so that target is replaced only by a
    // whole copy.
    const QFileInfo chosen(target);
    const QString beside =
        freshPath(chosen.absolutePath(), QLatin1Char('.') + chosen.fileName() + QStringLiteral(".part"));
    bool copied = false;
    try {
        copied = copyWithProgress(window, written, beside, QStringLiteral("Перенесення резервної копії"));
    } catch (const FileTransferFailed& e) {
        throw FileTransferFailed(QString::fromStdString(e.what()) +
                                 QStringLiteral(" Резервна копія лишилася у «%1».").arg(written));
    }
    if (!copied)
        throw OperationCancelled{
            QStringLiteral("Перенесення скасовано. Резервна копія лишилася у «%1».").arg(written)};
    if (rename(QFile::encodeName(beside).constData(), to.constData()) != 0) {
        const int error = errno;
        QFile::remove(beside);
        throw FileTransferFailed(
            QStringLiteral("Не вдалося перенести резервну копію до «%1»: %2. Вона лишилася у «%3».")
                .arg(target, systemText(error), written));
    }
    QFile::remove(written);
}
