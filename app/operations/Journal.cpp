// The journal of what operations leave (Journal.h): a small JSON file, rewritten whole under a
// lock, synced before it replaces the old one, so a crash leaves the old journal or the new one.
#include "Journal.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace ops {

namespace {

const char* const kKinds[] = {"single-user", "acl-grant", "copy", "shared-folder", "detached"};

QJsonObject toJson(const JournalEntry& e) {
    QJsonObject o{{QStringLiteral("kind"), QLatin1String(kKinds[int(e.kind)])},
                       {QStringLiteral("server"), e.server},
                       {QStringLiteral("database"), e.database},
                       {QStringLiteral("path"), e.path},
                       {QStringLiteral("account"), e.account},
                       {QStringLiteral("id"), e.id},
                       {QStringLiteral("pid"), e.pid},
                       {QStringLiteral("made"), e.made.toString(Qt::ISODate)}};
    if (e.lasting)
        o.insert(QStringLiteral("lasting"), true);
    if (e.kind == JournalEntry::Kind::AclGrant)
        o.insert(QStringLiteral("acl"), QJsonObject{{QStringLiteral("added"), e.acl.added},
                                                    {QStringLiteral("hadEntry"), e.acl.hadEntry},
                                                    {QStringLiteral("maskBefore"), e.acl.maskBefore}});
    return o;
}

bool fromJson(const QJsonObject& o, JournalEntry& e) {
    const QString kind = o.value(QStringLiteral("kind")).toString();
    for (int k = 0; k < int(std::size(kKinds)); ++k)
        if (kind == QLatin1String(kKinds[k])) {
            e.kind = JournalEntry::Kind(k);
            e.server = o.value(QStringLiteral("server")).toString();
            e.database = o.value(QStringLiteral("database")).toString();
            e.path = o.value(QStringLiteral("path")).toString();
            e.account = o.value(QStringLiteral("account")).toString();
            e.id = o.value(QStringLiteral("id")).toString();
            e.pid = o.value(QStringLiteral("pid")).toInteger();
            e.made = QDateTime::fromString(o.value(QStringLiteral("made")).toString(), Qt::ISODate);
            e.lasting = o.value(QStringLiteral("lasting")).toBool();
            const QJsonObject acl = o.value(QStringLiteral("acl")).toObject();
            e.acl.added = acl.value(QStringLiteral("added")).toInt();
            e.acl.hadEntry = acl.value(QStringLiteral("hadEntry")).toBool();
            e.acl.maskBefore = acl.value(QStringLiteral("maskBefore")).toInt(-1);
            return true;
        }
    return false; // a kind of a later version: left for it
}

// Held while the journal is read and rewritten, so two runs of Zelvaro do not lose each other's entries.
class FolderLock {
public:
    explicit FolderLock(const QString& folder) {
        QDir().mkpath(folder);
        m_fd = ::open(QFile::encodeName(folder + QStringLiteral("/journal.lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }

private:
    int m_fd = -1;
};

bool processAlive(qint64 pid) {
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

std::unique_ptr<Journal> g_journal;

} // namespace

QString JournalEntry::describe() const {
    switch (kind) {
    case Kind::SingleUser:
        return QStringLiteral("база даних %1 на сервері %2 в однокористувацькому режимі (SINGLE_USER)")
            .arg(database, server);
    case Kind::AclGrant:
        return QStringLiteral("дозвіл для %1 на %2").arg(account, path);
    case Kind::Copy:
        return QStringLiteral("копія %1").arg(path);
    case Kind::SharedFolder:
        return QStringLiteral("спільний каталог %1").arg(path);
    case Kind::Detached:
        return QStringLiteral("від'єднана база даних %1 на сервері %2 (її файли: %3)")
            .arg(database, server, path.split(QLatin1Char('\n')).join(QLatin1String(", ")));
    }
    return QString();
}

Journal::Journal(QString folder) : m_folder(std::move(folder)) {}

QString Journal::stateFolder() {
    const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
    const QString base = !xdg.isEmpty() && QDir::isAbsolutePath(xdg)
                             ? xdg
                             : QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/zelvaro");
}

QString Journal::file() const {
    return m_folder + QStringLiteral("/journal.json");
}

QList<JournalEntry> Journal::entries() const {
    QFile f(file());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<JournalEntry> all;
    for (const QJsonValue& v :
         QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("open")).toArray()) {
        JournalEntry e;
        if (fromJson(v.toObject(), e))
            all << e;
    }
    return all;
}

QList<JournalEntry> Journal::ours() const {
    QList<JournalEntry> mine;
    for (const JournalEntry& e : entries())
        if (e.pid == ::getpid() || !processAlive(e.pid))
            mine << e;
    return mine;
}

bool Journal::write(JournalEntry& entry, QString* problem) {
    const FolderLock lock(m_folder);
    QList<JournalEntry> all = entries();
    for (const JournalEntry& e : all)
        if (e.sameThing(entry) && e.account == entry.account) {
            entry = e;
            return true;
        }
    entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    entry.pid = ::getpid();
    entry.made = QDateTime::currentDateTimeUtc();
    all << entry;
    return rewrite(all, problem);
}

bool Journal::markLasting(const QString& id, const QString& server, const QString& database) {
    const FolderLock lock(m_folder);
    QList<JournalEntry> all = entries();
    bool found = false;
    for (JournalEntry& e : all)
        if (e.id == id) {
            found = e.lasting = true;
            if (!database.isEmpty()) {
                e.server = server;
                e.database = database;
            }
        }
    return !found || rewrite(all, nullptr);
}

bool Journal::crossOutAt(const QString& path) {
    const FolderLock lock(m_folder);
    QList<JournalEntry> all = entries();
    const qsizetype before = all.size();
    all.removeIf([&](const JournalEntry& e) { return e.kind != JournalEntry::Kind::SingleUser && e.path == path; });
    return all.size() == before || rewrite(all, nullptr);
}

bool Journal::crossOut(const QString& id) {
    const FolderLock lock(m_folder);
    QList<JournalEntry> all = entries();
    const qsizetype before = all.size();
    all.removeIf([&](const JournalEntry& e) { return e.id == id; });
    return all.size() == before || rewrite(all, nullptr);
}

bool Journal::rewrite(const QList<JournalEntry>& all, QString* problem) {
    const auto failed = [&](const QString& what) {
        if (problem)
            *problem = QStringLiteral("Не вдалося записати журнал %1: %2 (%3).")
                           .arg(file(), what, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    if (!QDir().mkpath(m_folder))
        return failed(QStringLiteral("каталог не створено"));
    QJsonArray list;
    for (const JournalEntry& e : all)
        list.append(toJson(e));
    const QByteArray text = QJsonDocument(QJsonObject{{QStringLiteral("open"), list}}).toJson();
    const QByteArray target = QFile::encodeName(file());
    const QByteArray temporary = target + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return failed(QStringLiteral("файл не створено"));
    qsizetype written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + written, size_t(text.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return failed(QStringLiteral("не записано"));
        }
        written += n;
    }
    // On the disk before it replaces the old journal: a crash right after the rename must not leave
    // an empty file where the entries were.
    if (::fsync(fd) != 0) {
        ::close(fd);
        return failed(QStringLiteral("не збережено на диск"));
    }
    ::close(fd);
    if (::rename(temporary.constData(), target.constData()) != 0)
        return failed(QStringLiteral("не перейменовано"));
    const int dir = ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // the rename itself
        ::close(dir);
    }
    return true;
}

Journal& journal() {
    if (!g_journal)
        g_journal = std::make_unique<Journal>();
    return *g_journal;
}

void setJournalForTests(const QString& folder) {
    g_journal = std::make_unique<Journal>(folder);
}

} // namespace ops
