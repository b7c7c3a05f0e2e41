// The table of Ukrainian lines by message number, and the reading of the numbers a message carries.
#include "ErrorAdvice.h"

#include "AccessDenied.h"

#include <QLocale>
#include <QRegularExpression>

namespace erroradvice {
namespace {

// The last operating-system code the message carries; 0 when none.
int osErrorCode(const QString& text) {
    const QList<int> codes = accessdenied::osErrorCodes(text);
    return codes.isEmpty() ? 0 : codes.last();
}

// The driver's own codes for a server that could not be reached: nothing answered (also a named
// instance the SQL Server Browser did not name) and a host name that does not resolve.
const int kUnreachable = 20009;
const int kUnknownHost = 20013;

const char* const kUnreachableLine =
    "Сервер не відповідає: перевірте ім'я комп'ютера, порт чи ім'я екземпляра і чи запущено SQL Server; "
    "SQL Server на Linux має один екземпляр і не має служби SQL Server Browser — вводьте ХОСТ або ХОСТ,ПОРТ.";
const char* const kLinkLostLine =
    "З'єднання з сервером обірвалося: операція могла як завершитися, так і ні — підключіться знову й "
    "перегляньте список баз даних або файл, перш ніж повторювати.";
const char* const kNewerBackupLine =
    "Копію створив %1 — новіший за цей сервер: відновіть її на сервері тієї ж або новішої версії.";
const char* const kOlderBackupLine =
    "Копію створив %1 — занадто старий для цього сервера: відновіть її спершу на SQL Server 2005, 2008 або "
    "2008 R2, створіть там нову копію й відновіть тут уже її.";
// Room on the disk: the server says how much it needs (3257) or the system that it ran out (112).
const char* const kRoomLine =
    "На диску сервера бракує місця для файлів — справа не в правах доступу: звільніть місце або виберіть "
    "папку на іншому диску.";
const char* const kRoomNumbersLine =
    "На диску сервера бракує місця для файлів — справа не в правах доступу: потрібно ще %1, вільно лише %2. "
    "Звільніть місце або виберіть папку на іншому диску.";
const char* const kWindowsPathLine =
    "Це шлях Windows (з літерою диска чи зворотними скісними рисками), а сервер працює на Linux і такого шляху "
    "не має: вкажіть папку на комп'ютері сервера, наприклад /var/opt/mssql/data.";
const char* const kEndedLine =
    "Сервер розірвав з'єднання після помилки %1: операцію не виконано, наступна дія підключиться знову.";
const int kNoRoom = 112;

enum Os { AnyOs = 0, NotFound = -1 /* 2 or 3 */, Denied = 5 };

struct Entry {
    int number;
    Os os;
    bool general; // a summary that follows the cause: used only when no cause has a line
    const char* line;
};

// Files the server opens (attach: the existing data and log files), files it creates (restore,
// create: the new files, in folders that must exist) and the backup file (read for a restore,
// written for a backup). The server opens every path itself, as its own service account.
const Entry kTable[] = {
    {18456, AnyOs, false,
     "Сервер не прийняв вхід: перевірте ім'я користувача та пароль; сервер також має дозволяти вхід з "
     "автентифікацією SQL Server (змішаний режим)."},

    {5120, NotFound, false,
     "Сервер відкриває файл сам: файл має існувати саме за цим шляхом так, як його бачить сервер."},
    {5120, Denied, false,
     "Сервер відкриває файл сам, від імені своєї служби (mssql на Linux): цьому обліковому запису потрібне "
     "право читати й записувати файл."},
    {5120, AnyOs, false,
     "Сервер не зміг відкрити файл: можливо, ним уже користується інша база даних або програма."},
    {5105, AnyOs, false,
     "Сервер відкриває шлях сам, від імені своєї служби: наявний файл має існувати і бути доступним їй для "
     "читання й запису, а для нового файлу має існувати папка з правом запису."},
    {5123, NotFound, false,
     "Сервер створює файл сам: папка для нового файлу має існувати саме за цим шляхом так, як її бачить "
     "сервер."},
    {5123, Denied, false,
     "Сервер створює файл сам, від імені своєї служби (mssql на Linux): цьому обліковому запису потрібне "
     "право записувати в папку нового файлу."},
    {5133, NotFound, false,
     "Сервер створює файл сам: папка для нового файлу має існувати саме за цим шляхом так, як її бачить "
     "сервер."},
    {5133, Denied, false,
     "Сервер створює файл сам, від імені своєї служби (mssql на Linux): цьому обліковому запису потрібне "
     "право записувати в папку нового файлу."},
    // SQL Server on Linux checks a restore's target before creating it.
    {3634, NotFound, false,
     "Сервер створює файл сам: папка для нового файлу має існувати саме за цим шляхом так, як її бачить "
     "сервер."},
    {3634, Denied, false,
     "Сервер створює файл сам, від імені своєї служби (mssql на Linux): цьому обліковому запису потрібне "
     "право записувати в папку нового файлу."},
    {3634, AnyOs, false,
     "Сервер не зміг підготувати місце для нового файлу: перевірте шлях так, як його бачить сервер, і права "
     "його служби (mssql на Linux) на папку."},
    // Attached without its log, a data file gets a new log named after it, "<data file>_log.LDF",
    // beside it or in the server's log folder; a file of that name left by an earlier attach blocks it.
    {5170, AnyOs, false,
     "Файл, який сервер мав створити, уже існує. Без файлу журналу сервер будує новий журнал з назвою "
     "«<ім'я файлу даних>_log.LDF» поруч із файлом даних або у своїй папці журналів: якщо такий файл "
     "лишився від попереднього приєднання, вкажіть його як файл журналу або перемістіть чи перейменуйте."},
    {3201, NotFound, false,
     "Сервер відкриває файл копії сам: для відновлення має існувати сам файл, для резервного копіювання — "
     "його папка, саме за цим шляхом так, як їх бачить сервер."},
    {3201, Denied, false,
     "Сервер працює з файлом копії від імені своєї служби (mssql на Linux): для резервного копіювання їй "
     "потрібне право записувати в папку, для відновлення — читати файл."},
    {3201, AnyOs, false,
     "Сервер відкриває файл копії сам, від імені своєї служби: шлях має існувати на комп'ютері сервера, а "
     "служба — мати право записувати в папку (резервне копіювання) або читати файл (відновлення)."},

    // Files and backups of another version. 2000 has no 948: a newer file fails there with 602.
    {948, AnyOs, false,
     "Ці файли бази даних створив новіший SQL Server, ніж цей сервер, а старіша версія їх не відкриває: "
     "приєднайте їх на сервері тієї ж або новішої версії (перенести базу на старіший сервер можна лише "
     "скриптами чи вивантаженням даних)."},
    {602, AnyOs, false,
     "SQL Server 2000 не знайшов у файлах своїх системних таблиць: найчастіше це файли новішої версії SQL "
     "Server (2005 і пізніших), яких 2000 не відкриває, — приєднайте їх на сервері тієї ж або новішої версії."},
    {950, AnyOs, false,
     "Це файли SQL Server 2000 — занадто старої версії для цього сервера (SQL Server 2012 і новіші їх не "
     "відкривають): спершу приєднайте їх на SQL Server 2005, 2008 або 2008 R2 (сервер оновить їх), а тоді "
     "приєднайте оновлені файли тут."},
    {3205, AnyOs, false,
     "SQL Server 2000 не може прочитати цей файл: найчастіше це копія новішої версії SQL Server (2005 і "
     "пізніших) — відновіть її на сервері тієї ж або новішої версії."},
    {5172, AnyOs, false,
     "Файл не є придатним файлом бази даних або пошкоджений: виберіть справжні файли MDF і LDF цієї бази."},
    {1801, AnyOs, false, "База даних з такою назвою вже є на сервері: виберіть іншу назву."},
    {1802, AnyOs, true,
     "Сервер не створив або не відкрив файли бази даних: перевірте шляхи так, як їх бачить сервер, і права "
     "його служби (mssql на Linux) на ці файли та папки."},
    {1813, AnyOs, true,
     "Сервер не відкрив базу даних: шляхи до файлів мають існувати на комп'ютері сервера, а його служба — "
     "мати до них доступ."},
    // A data file attached without its log: the server builds a new log only for a database that
    // was shut down cleanly and had one log file.
    {5113, AnyOs, false,
     "Без файлу журналу цю базу даних не приєднати: її не було закрито коректно, тож сервер не будує новий "
     "журнал — потрібен її оригінальний файл журналу (LDF)."},
    {1818, AnyOs, false,
     "Без файлу журналу цю базу даних не приєднати: її не було закрито коректно, тож сервер не будує новий "
     "журнал — потрібен її оригінальний файл журналу (LDF)."},
    {5131, AnyOs, false,
     "Без файлів журналу цю базу даних не приєднати: вона мала кілька журналів, а новий сервер будує лише "
     "замість одного — потрібні її оригінальні файли журналу (LDF)."},
    {3154, AnyOs, false,
     "У копії інша база даних, ніж та, що вже є під цією назвою: відновіть під іншою назвою або із заміною "
     "наявної бази."},
    {3234, AnyOs, false,
     "У цій копії немає файлів з такими логічними назвами: виберіть файл копії ще раз, щоб прочитати її "
     "список файлів."},
    {3241, AnyOs, false,
     "Сервер не може прочитати файл як резервну копію: або її створив новіший SQL Server, ніж цей сервер "
     "(тоді відновіть її на сервері тієї ж або новішої версії), або файл пошкоджений чи не є резервною копією "
     "SQL Server."},
    // A backup whose bytes are not what was written (its checksum or a page read back says so).
    {3189, AnyOs, false,
     "Файл резервної копії пошкоджений: відновити з нього базу даних не можна. Створіть копію ще раз і "
     "перевірте диск, на якому вона зберігається."},
    {3183, AnyOs, false,
     "Файл резервної копії пошкоджений: відновити з нього базу даних не можна. Створіть копію ще раз і "
     "перевірте диск, на якому вона зберігається."},
    {3702, AnyOs, false, "Базою даних зараз користуються інші підключення: закрийте їх і повторіть."},
    {3703, AnyOs, false, "Базою даних зараз користуються інші підключення: закрийте їх і повторіть."},
    {3101, AnyOs, false, "Базою даних зараз користуються інші підключення: закрийте їх і повторіть."},
    {15010, AnyOs, false, "Такої бази даних на сервері немає: оновіть список баз даних."},
    {3701, AnyOs, false, "Такої бази даних на сервері немає: оновіть список баз даних."},
    {911, AnyOs, false, "Такої бази даних на сервері немає: оновіть список баз даних."},
    // What a newcomer meets first: a restore onto the files of another database, an empty name.
    {1834, AnyOs, false,
     "Цей файл належить іншій базі даних на сервері, і вона ним користується: виберіть для файлу інший шлях "
     "(іншу папку або назву)."},
    {1038, AnyOs, false,
     "Не вибрано базу даних або не вказано її назву: виберіть базу даних у списку або введіть назву."},
    {3142, AnyOs, false,
     "За цим шляхом уже є файл, що не належить жодній базі даних: виберіть інший шлях або, якщо файл не "
     "потрібен, видаліть його."},
};

const int kNewerBackup = 3169;

bool osMatches(Os wanted, int os) {
    switch (wanted) {
    case AnyOs:
        return true;
    case NotFound:
        return os == 2 || os == 3;
    default:
        return os == int(wanted);
    }
}

// The entry for one record: the operating-system code counts only for the shown record, the only
// one whose text is at hand; the entry for any code is the last resort.
const Entry* find(int number, int os) {
    const Entry* any = nullptr;
    for (const Entry& e : kTable) {
        if (e.number != number)
            continue;
        if (e.os == AnyOs)
            any = any ? any : &e;
        else if (os != 0 && osMatches(e.os, os))
            return &e;
    }
    return any;
}

// "3,0 ГБ", "512 МБ": a byte count as a person reads it.
QString sizeText(qint64 bytes) {
    const double mb = double(bytes) / (1024.0 * 1024.0);
    if (mb >= 1024.0)
        return QStringLiteral("%1 ГБ").arg(QLocale(QLocale::Ukrainian).toString(mb / 1024.0, 'f', 1));
    return QStringLiteral("%1 МБ").arg(QLocale(QLocale::Ukrainian).toString(mb < 1 ? mb : qRound(mb), 'f', mb < 1 ? 1 : 0));
}

// 3257's "requires N additional free bytes, while only M bytes are available": the two numbers.
QString roomLine(const QString& text) {
    static const QRegularExpression numbers(QStringLiteral("(\\d+)\\D+?(\\d+) bytes"));
    const QRegularExpressionMatch m = numbers.match(text.mid(text.indexOf(QLatin1String("requires"))));
    if (!text.contains(QLatin1String("requires")) || !m.hasMatch())
        return QString::fromUtf8(kRoomLine);
    return QString::fromUtf8(kRoomNumbersLine)
        .arg(sizeText(m.captured(1).toLongLong()), sizeText(m.captured(2).toLongLong()));
}

// A path the server was given in Windows form: a drive letter or a backslash inside the quotes.
bool namesWindowsPath(const QString& text) {
    static const QRegularExpression windows(QStringLiteral("[\"'](?:[A-Za-z]:[\\\\/]|\\\\\\\\)|[\"'][^\"']*\\\\"));
    return windows.match(text).hasMatch();
}

// 3169 names the version that made the backup and this server's: "running version 8.00.2039 …
// which is running version 11.00.2100". True when the backup's is the older.
bool olderBackup(const QString& text) {
    static const QRegularExpression version(QStringLiteral("running version (\\d+)\\.(\\d+)"));
    auto it = version.globalMatch(text);
    QList<int> found;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        found << m.captured(1).toInt() * 100 + m.captured(2).toInt();
    }
    return found.size() == 2 && found[0] < found[1];
}

bool hasState(const DbError& error, QLatin1String prefix) {
    for (const DbError::Record& r : error.records())
        if (r.state.startsWith(prefix))
            return true;
    return false;
}

} // namespace

QString productInText(const QString& text) {
    static const QRegularExpression version(QStringLiteral("\\b(\\d{1,2})\\.(\\d{1,2})\\.\\d+"));
    const QRegularExpressionMatch m = version.match(text);
    if (!m.hasMatch())
        return {};
    const int major = m.captured(1).toInt();
    const int minor = m.captured(2).toInt();
    // SQL Server's major version numbers; 10.50 is 2008 R2.
    static const char* const kProducts[] = {
        "SQL Server 2000", "SQL Server 2005", "SQL Server 2008", "SQL Server 2012", "SQL Server 2014",
        "SQL Server 2016", "SQL Server 2017", "SQL Server 2019", "SQL Server 2022", "SQL Server 2025"};
    const char* name = major >= 8 && major <= 17 ? kProducts[major - 8] : nullptr;
    if (major == 10 && minor >= 50)
        name = "SQL Server 2008 R2";
    const QString shown = m.captured(0);
    return name ? QStringLiteral("%1 (%2)").arg(QLatin1String(name), shown)
                : QStringLiteral("SQL Server %1").arg(shown);
}

namespace {
QString causeLine(const DbError& error) {
    const QList<DbError::Record>& records = error.records();
    // Could not connect at all: the driver's codes, or a login that timed out unanswered.
    for (const DbError::Record& r : records)
        if (r.native == kUnreachable || r.native == kUnknownHost)
            return QString::fromUtf8(kUnreachableLine);
    if (hasState(error, QLatin1String("HYT00")) && hasState(error, QLatin1String("08001")))
        return QString::fromUtf8(kUnreachableLine);

    if (!records.isEmpty() && records[0].native == 3257)
        return roomLine(error.message());
    if (osErrorCode(error.message()) == kNoRoom)
        return QString::fromUtf8(kRoomLine);
    if (!records.isEmpty() && records[0].native == 5133 && namesWindowsPath(error.message()))
        return QString::fromUtf8(kWindowsPathLine);
    const Entry* general = nullptr;
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].native == kNewerBackup) {
            const QString product = i == 0 ? productInText(error.message()) : QString();
            if (!product.isEmpty())
                return QString::fromUtf8(olderBackup(error.message()) ? kOlderBackupLine : kNewerBackupLine)
                    .arg(product);
            return QString::fromUtf8(find(3241, 0)->line);
        }
        const Entry* e = find(records[i].native, i == 0 ? osErrorCode(error.message()) : 0);
        if (e && !e->general)
            return QString::fromUtf8(e->line);
        if (e && !general)
            general = e;
    }
    if (general)
        return QString::fromUtf8(general->line);
    // SQLSTATE class 08 other than a refused connection: the link went away under a statement
    // (unless the server ended it after saying why: then the statement failed).
    for (const DbError::Record& r : error.endedConnection() ? QList<DbError::Record>() : records)
        if (r.state.startsWith(QLatin1String("08")) && r.state != QLatin1String("08001") &&
            r.state != QLatin1String("08004"))
            return QString::fromUtf8(kLinkLostLine);
    return {};
}
} // namespace

QString line(const DbError& error) {
    const QString cause = causeLine(error);
    if (!error.endedConnection())
        return cause;
    const int number = error.records().isEmpty() ? 0 : error.records().first().native;
    const QString ended = QString::fromUtf8(kEndedLine).arg(number);
    return cause.isEmpty() ? ended : cause + QLatin1Char('\n') + ended;
}

QString appended(const QString& shownText, const DbError& error) {
    const QString advice = line(error);
    return advice.isEmpty() ? shownText : shownText + QLatin1Char('\n') + advice;
}

} // namespace erroradvice
