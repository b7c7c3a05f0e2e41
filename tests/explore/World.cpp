// The explored world: servers started and filled with databases of several files and backup files
// of several sets, read back after every step, and disturbed on purpose.
#include "World.h"

#include "SharedFolder.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace explore {

using sqlquote::literal;

QString nameKey(const QString& name) {
    // Names compare without regard to case or trailing blanks, as the server's collation does.
    QString key = name.toLower();
    while (key.endsWith(QLatin1Char(' ')))
        key.chop(1);
    return key;
}

namespace {
// What identifies a file's bytes without reading them all (backups grow to many megabytes): its
// size, the time of its last write to the nanosecond, and its inode (a file replaced by a rename
// is another file).
QByteArray digest(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArrayLiteral("<unreadable>");
    return QByteArray::number(qint64(st.st_size)) + ' ' + QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ' ' + QByteArray::number(quint64(st.st_ino));
}

bool isDatabaseOrBackupFile(const QString& name) {
    const QString lower = name.toLower();
    for (const char* ext : {".mdf", ".ndf", ".ldf", ".bak"})
        if (lower.endsWith(QLatin1String(ext)))
            return true;
    return false;
}

// catalog.txt: a layout line, then per database name, dbid, GUID, date, state (and user access) and six
// fields per file.
QMap<QString, DbState> readCatalog(const QString& dataDir) {
    QMap<QString, DbState> out;
    QFile f(dataDir + QStringLiteral("/catalog.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> raw = lines[i].split('\t');
        if (raw.size() < 5)
            continue;
        QStringList fields;
        for (const QByteArray& r : raw)
            fields << QString::fromUtf8(QByteArray::fromPercentEncoding(r));
        DbState db;
        db.name = fields[0];
        db.restoring = fields[4].startsWith(QLatin1String("restoring")); // "restoring single_user" too
        db.guid = fields[2];
        for (int k = 5; k + 5 < fields.size(); k += 6)
            db.files << fields[k + 2];
        out.insert(nameKey(db.name), db);
    }
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}
} // namespace

const DbState* Snapshot::database(int server, const QString& name) const {
    if (server < 0 || server >= servers.size())
        return nullptr;
    auto it = servers[server].constFind(nameKey(name));
    return it == servers[server].constEnd() ? nullptr : &*it;
}

Variant variantNamed(const QString& name) {
    return name == QLatin1String("nobody") ? Variant::Nobody
           : name == QLatin1String("root") ? Variant::Rooted
                                            : Variant::Plain;
}

QString nameOf(Variant variant) {
    return variant == Variant::Nobody ? QStringLiteral("nobody")
           : variant == Variant::Rooted ? QStringLiteral("root")
                                        : QStringLiteral("plain");
}

World::World(int version, Variant variant) : m_version(version), m_variant(variant) {
    // Copies Zelvaro attaches from live on in the folders it shares with the server, beyond this
    // world's servers: what was there before is kept, what this world adds goes with it.
    for (const QString& place : lastingFolderPlaces())
        for (const QString& entry : QDir(place).entryList(QDir::Files | QDir::Hidden))
            m_sharedBefore << place + QLatin1Char('/') + entry;
    m_a = std::make_unique<DevServer>(version);
    m_b = std::make_unique<DevServer>(version);
    // The open-file dialog moves the working directory; every path here is absolute anyway.
    QDir::setCurrent(m_a->scratch());
    if (m_a->port() > 0 && m_b->port() > 0)
        build();
    if (m_ready && variant == Variant::Nobody)
        m_ready = becomeNobody();
    if (m_ready && variant == Variant::Rooted)
        m_ready = becomeRooted();
}

// Server A starts again in its data folder as its root: the databases built so far name paths of
// this computer it no longer sees (their files are gone for it), and one database and its backup
// are made in its own file system.
bool World::becomeRooted() {
    m_a->stop();
    m_base = {QStringLiteral("--root"), m_a->dataDir()};
    m_a->setExtraArguments(m_base);
    // A folder of its own for new databases' files, as /var/opt/mssql/data is in a container.
    QDir(m_a->dataDir()).mkpath(QStringLiteral("Нові"));
    return m_a->start() && run(0, QStringLiteral("CREATE DATABASE [Контейнер]")) &&
           run(0, QStringLiteral("BACKUP DATABASE [Контейнер] TO DISK = N'/kont.bak' WITH INIT"));
}

QString World::hostPath(int server, const QString& serverPath) const {
    if (server != 0 || m_variant != Variant::Rooted || !serverPath.startsWith(QLatin1Char('/')))
        return serverPath;
    return m_a->dataDir() + serverPath;
}

bool World::insideWorld(const QString& hostPath) const {
    const QString clean = QDir::cleanPath(hostPath);
    for (const QString& folder : {m_a->scratch(), m_a->dataDir(), m_b->dataDir()})
        if (clean == folder || clean.startsWith(folder + QLatin1Char('/')))
            return true;
    return false;
}

// The world is built by the user's server; then server A starts again as nobody, owning its data
// folder and what is in it, while the scratch folder stays the user's alone.
bool World::becomeNobody() {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::geteuid() != 0)
        return false;
    m_a->stop();
    const QByteArray data = QFile::encodeName(m_a->dataDir());
    bool ok = ::chown(data.constData(), nobody->pw_uid, nobody->pw_gid) == 0;
    QDirIterator it(m_a->dataDir(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::chown(QFile::encodeName(it.next()).constData(), nobody->pw_uid, nobody->pw_gid) == 0 && ok;
    ok = ::chmod(QFile::encodeName(m_a->scratch()).constData(), 0700) == 0 && ok;
    m_base = {QStringLiteral("--run-as"), QStringLiteral("nobody")};
    m_a->setExtraArguments(m_base);
    if (!ok || !m_a->start())
        return false;
    // Only a server that really is nobody makes this world.
    QFile status(QStringLiteral("/proc/%1/status").arg(m_a->processId()));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Uid:"))
            return line.simplified().split(' ').value(2).toUInt() == nobody->pw_uid;
    return false;
}

World::~World() {
    resumeA();
    for (const QString& place : lastingFolderPlaces())
        for (const QString& entry : QDir(place).entryList(QDir::Files | QDir::Hidden))
            if (!m_sharedBefore.contains(place + QLatin1Char('/') + entry))
                QFile::remove(place + QLatin1Char('/') + entry);
    // The small disk goes before the scratch folder it lies in is removed.
    if (!m_smallDisk.isEmpty())
        ::umount2(QFile::encodeName(m_smallDisk).constData(), MNT_DETACH);
    QDir::setCurrent(QDir::tempPath());
}

QString World::resolve(const QString& text) const {
    QString out = text;
    // Outside the rooted world @R leads nowhere (and never to this computer's own root).
    out.replace(QLatin1String("@R"), m_variant == Variant::Rooted ? QString() : m_a->scratch() + QStringLiteral("/nowhere"));
    out.replace(QLatin1String("@S"), m_a->scratch());
    out.replace(QLatin1String("@D"), m_a->dataDir());
    out.replace(QLatin1String("@E"), m_b->dataDir());
    return out;
}

QString World::tokenized(const QString& path) const {
    QString out = path;
    out.replace(m_a->scratch(), QLatin1String("@S"));
    out.replace(m_a->dataDir(), QLatin1String("@D"));
    out.replace(m_b->dataDir(), QLatin1String("@E"));
    return out;
}

QString World::serverName(int server) const {
    if (server == 0)
        return m_a->dataSource();
    if (server == 1)
        return m_b->dataSource();
    return QStringLiteral("127.0.0.1,1");
}

int World::serverOf(const QString& name) const {
    if (name == m_a->dataSource())
        return 0;
    if (name == m_b->dataSource())
        return 1;
    return -1;
}

QString World::connectionString(int server) const {
    const QString provider = m_version == 2000 ? QStringLiteral("SQLOLEDB.1") : QStringLiteral("SQLNCLI11.0");
    return (server == 0 ? m_a : m_b)->connectionString(provider);
}

bool World::run(int server, const QString& statement) {
    // Another client's statement waits for a stopped server; the world does not wait with it.
    if (server == 0)
        resumeA();
    try {
        AdoConnection c;
        c.setConnectionString(connectionString(server));
        AdoQuery q(c);
        q.setText(statement);
        q.execute();
        return true;
    } catch (const DbError&) {
        return false;
    }
}

QStringList World::orphans(int server, const QString& database) const {
    QStringList out;
    if (server == 0 && aStopped())
        return out;
    try {
        AdoConnection c;
        c.setConnectionString(connectionString(server));
        AdoQuery q(c);
        q.setText(QStringLiteral("USE ") + sqlquote::name(database));
        q.execute();
        q.close();
        q.setText(QStringLiteral("EXEC sp_change_users_login 'Report'"));
        q.openRowset();
        for (q.first(); !q.atEnd(); q.next())
            out << q.field(QStringLiteral("UserName")).trimmed();
    } catch (const DbError&) {
    }
    return out;
}

void World::build() {
    const QString s = m_a->scratch();
    for (const char* sub : {"live", "src", "bak", "out", "denied", "b"})
        QDir(s).mkpath(QLatin1String(sub));
    auto file = [](const QString& logical, const QString& path) {
        return QStringLiteral("(NAME = %1, FILENAME = %2)").arg(logical, literal(path));
    };
    const QString live = s + QStringLiteral("/live/"), src = s + QStringLiteral("/src/"),
                  bak = s + QStringLiteral("/bak/");
    bool ok = run(0, QStringLiteral("CREATE DATABASE [Sales] ON PRIMARY %1, %2 LOG ON %3")
                         .arg(file("Sales", live + "Sales.mdf"), file("Sales_extra", live + "Sales_extra.ndf"),
                              file("Sales_log", live + "Sales_log.ldf")));
    // A megabyte of data, so that a paced server takes its time over the backup and restore.
    QFile data(live + QStringLiteral("Sales.mdf"));
    if (data.open(QIODevice::Append))
        data.write(QByteArray(1 << 20, 'z'));
    data.close();
    ok = ok && run(0, QStringLiteral("CREATE DATABASE [Кадри] ON PRIMARY %1 LOG ON %2")
                          .arg(file(QStringLiteral("Кадри"), live + QStringLiteral("Кадри.mdf")),
                               file(QStringLiteral("Кадри_log"), live + QStringLiteral("Кадри_log.ldf"))));
    ok = ok && run(0, QStringLiteral("CREATE DATABASE [Plain]"));
    ok = ok && run(0, QStringLiteral("CREATE DATABASE [Archive] ON PRIMARY %1, %2 LOG ON %3")
                          .arg(file("Archive", src + "Archive.mdf"), file("Archive_2", src + "Archive_2.ndf"),
                               file("Archive_log", src + "Archive_log.ldf")));
    ok = ok && run(0, QStringLiteral("BACKUP DATABASE [Archive] TO DISK = %1 WITH INIT").arg(literal(bak + "archive.bak")));
    // Detached and left where they were, as users do to copy them: the backup recorded these paths.
    ok = ok && run(0, QStringLiteral("EXEC sp_detach_db N'Archive', 'true'"));
    ok = ok && run(0, QStringLiteral("BACKUP DATABASE [Sales] TO DISK = %1 WITH INIT").arg(literal(bak + "sales.bak")));
    ok = ok && run(0, QStringLiteral("BACKUP DATABASE [Sales] TO DISK = %1").arg(literal(bak + "sales.bak")));
    ok = ok && run(0, QStringLiteral("BACKUP DATABASE [Кадри] TO DISK = %1 WITH INIT")
                          .arg(literal(bak + QStringLiteral("kadry.bak"))));
    // A copy of an online database's files: a crashed database, attachable only with its log.
    QFile::copy(live + QStringLiteral("Кадри.mdf"), src + QStringLiteral("Копія.mdf"));
    writeFile(bak + QStringLiteral("junk.bak"), QByteArray(3000, 'j'));
    // A database from another server, as a backup and as files: users whose logins this server
    // lacks (app's login is here with another SID) and an owner it does not know. The backup lies
    // in the server's own folder too, where a server running as another account reads it.
    const QString foreign = s + QStringLiteral("/foreign");
    ok = ok && QProcess::execute(QStringLiteral(ZELVARO_DEVSERVER), {QStringLiteral("--foreign-files"), foreign}) == 0;
    QFile::copy(foreign + QStringLiteral("/Sales.bak"), m_a->dataDir() + QStringLiteral("/foreign.bak"));
    for (int server : {0, 1})
        ok = ok && run(server, m_version == 2000
                                   ? QStringLiteral("EXEC sp_addlogin @loginame = N'app', @passwd = N'Kx9-pass-word'")
                                   : QStringLiteral("CREATE LOGIN [app] WITH PASSWORD = N'Kx9-pass-word'"));
    // A backup in the server's own folder, where a server running as another account reads it.
    QFile::copy(bak + QStringLiteral("sales.bak"), m_a->dataDir() + QStringLiteral("/sales.bak"));
    mountSmallDisk();
    // Server B holds databases of the same names.
    ok = ok && run(1, QStringLiteral("CREATE DATABASE [Sales] ON PRIMARY %1 LOG ON %2")
                          .arg(file("Sales", s + "/b/Sales.mdf"), file("Sales_log", s + "/b/Sales_log.ldf")));
    ok = ok && run(1, QStringLiteral("CREATE DATABASE [Plain]"));
    // A backup of B's Sales: a database of the same name as A's, of another family, so that a
    // restore of it onto A replaces somebody else's database.
    ok = ok && run(1, QStringLiteral("BACKUP DATABASE [Sales] TO DISK = %1 WITH INIT")
                          .arg(literal(bak + QStringLiteral("other-sales.bak"))));
    m_ready = ok;
}

Snapshot World::snapshot() const {
    Snapshot snap;
    QDirIterator it(m_a->scratch(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        snap.files.insert(path, digest(path));
    }
    for (const DevServer* server : {m_a.get(), m_b.get()}) {
        QDirIterator data(server->dataDir(), QDir::Files, QDirIterator::Subdirectories);
        while (data.hasNext()) {
            const QString path = data.next();
            if (isDatabaseOrBackupFile(path))
                snap.files.insert(path, digest(path));
        }
        snap.servers << readCatalog(server->dataDir());
        // The files a rooted server names are kept where this computer sees them.
        for (DbState& db : snap.servers.last())
            for (QString& f : db.files)
                f = hostPath(server == m_a.get() ? 0 : 1, f);
        snap.statementLogSize << QFileInfo(server->statementLog()).size();
    }
    snap.folders.insert(m_a->scratch(), folderAccess(m_a->scratch()));
    QDirIterator folders(m_a->scratch(), QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (folders.hasNext()) {
        const QString path = folders.next();
        snap.folders.insert(path, folderAccess(path));
    }
    return snap;
}

// A file system of 3 MB: a restore of the megabyte-sized Sales with its proposed sizes, or a few
// backups, do not fit. Only root may mount; elsewhere the folder is an ordinary one.
void World::mountSmallDisk() {
    const QString small = m_a->scratch() + QStringLiteral("/small");
    QDir().mkpath(small);
    if (::geteuid() == 0 &&
        ::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=3m,mode=0755") == 0)
        m_smallDisk = small;
}

bool World::aReaches(const QString& path, Need need) const {
    if (m_variant == Variant::Rooted)
        // Its own file system holds only what lies under its data folder.
        return (path == m_a->dataDir() || path.startsWith(m_a->dataDir() + QLatin1Char('/'))) &&
               (need == Need::Read ? QFileInfo(path).isFile()
                : need == Need::CreateIn ? QFileInfo(path).isDir()
                                         : QFileInfo(QFileInfo(path).absolutePath()).isDir());
    if (m_variant != Variant::Nobody)
        return true;
    const passwd* nobody = ::getpwnam("nobody");
    return nobody && accountReaches(nobody->pw_uid, nobody->pw_gid, path, need);
}

bool World::hold(int server, const QString& database) {
    if (server == 0)
        resumeA();
    return m_holders.hold(server, (server == 0 ? m_a : m_b)->port(), m_version, database);
}

int World::sessionsEnded(bool* complete) {
    const bool stopped = aStopped();
    if (complete)
        *complete = !stopped;
    return m_holders.countEnded(stopped ? QList<int>{0} : QList<int>{});
}

void World::reconnectHolders() {
    m_holders.reconnect({m_a->port(), m_b->port()}, aStopped() ? QList<int>{0} : QList<int>{});
}

bool World::aStopped() const {
    const std::lock_guard<std::mutex> lock(m_resumeLock);
    return m_stopped && std::chrono::steady_clock::now() < m_stoppedUntil;
}

QString World::statementsBetween(int server, const Snapshot& before, const Snapshot& after) const {
    const qint64 from = before.statementLogSize.value(server), to = after.statementLogSize.value(server);
    QFile log((server == 0 ? m_a : m_b)->statementLog());
    if (to <= from || !log.open(QIODevice::ReadOnly) || !log.seek(from))
        return {};
    return QString::fromUtf8(log.read(to - from));
}

void World::pauseA(int ms, int delayMs) {
    resumeA();
    const auto pid = pid_t(m_a->processId());
    if (pid <= 0)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_resumeLock);
        m_stopped = true;
        m_stoppedUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs + ms);
    }
    if (delayMs <= 0)
        ::kill(pid, SIGSTOP);
    m_resumer = std::thread([this, pid, ms, delayMs] {
        std::unique_lock<std::mutex> lock(m_resumeLock);
        // A stop still to come is not made when the world is told to go on before it.
        if (delayMs > 0) {
            if (m_resumeNow.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return !m_stopped; }))
                return;
            ::kill(pid, SIGSTOP);
        }
        m_resumeNow.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_stopped; });
        ::kill(pid, SIGCONT);
    });
}

void World::resumeA() {
    {
        const std::lock_guard<std::mutex> lock(m_resumeLock);
        m_stopped = false;
    }
    m_resumeNow.notify_all();
    if (m_resumer.joinable())
        m_resumer.join();
}

void World::restartA(const QStringList& options) {
    // A stopped process takes no signal to end until it goes on.
    resumeA();
    m_options = options;
    m_a->stop();
    m_a->setExtraArguments(m_base + options);
    m_a->start();
}

void World::cutConnections() {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QSet<int> otherPrograms = m_holders.sockets();
    for (const QString& entry : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const int fd = entry.toInt();
        if (otherPrograms.contains(fd))
            continue;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.ss_family != AF_INET)
            continue;
        const int port = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
        if (port == m_a->port() || port == m_b->port())
            ::shutdown(fd, SHUT_RDWR);
    }
}

} // namespace explore
