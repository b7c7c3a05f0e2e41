#include "Options.h"

#include <QFile>
#include <QRegularExpression>

namespace backupcmd {
namespace {

enum class Kind { Value, Flag, CommandLineOnly };

struct Key {
    const char* name;
    Kind kind;
};

const Key kKeys[] = {
    {"server", Kind::Value},        {"version", Kind::Value},        {"login", Kind::Value},
    {"password-file", Kind::Value}, {"database", Kind::Value},       {"to", Kind::Value},
    {"keep", Kind::Value},          {"copy-only", Kind::Flag},       {"config", Kind::Value},
    {"time-limit", Kind::Value},    {"help", Kind::CommandLineOnly}, {"version-info", Kind::CommandLineOnly},
};

const Key* findKey(const QString& name) {
    for (const Key& k : kKeys)
        if (name == QLatin1String(k.name))
            return &k;
    return nullptr;
}

// Applies one key; false with the reason when its value cannot be taken.
bool apply(Options& o, const QString& key, const QString& value, bool& databasesReplaced, QString* error) {
    if (key == QLatin1String("server")) {
        o.server = value;
    } else if (key == QLatin1String("version")) {
        if (!knownVersions().contains(value)) {
            *error = QStringLiteral("невідома версія SQL Server «%1»; можливі: %2")
                         .arg(value, knownVersions().join(QLatin1Char(' ')));
            return false;
        }
        o.version = value;
    } else if (key == QLatin1String("login")) {
        o.login = value;
    } else if (key == QLatin1String("password-file")) {
        o.passwordFile = value;
    } else if (key == QLatin1String("database")) {
        if (!databasesReplaced) {
            o.databases.clear();
            databasesReplaced = true;
        }
        if (value.isEmpty()) {
            *error = QStringLiteral("порожня назва бази даних");
            return false;
        }
        o.databases.append(value);
    } else if (key == QLatin1String("to")) {
        o.to = value;
    } else if (key == QLatin1String("keep")) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 1) {
            *error = QStringLiteral("--keep чекає ціле число від 1: скільки перевірених копій кожної бази "
                                    "залишати (разом із новою), а не «%1»")
                         .arg(value);
            return false;
        }
        o.keep = n;
    } else if (key == QLatin1String("time-limit")) {
        o.timeLimitSeconds = parseDuration(value);
        if (o.timeLimitSeconds <= 0) {
            *error =
                QStringLiteral("--time-limit чекає тривалість: секунди або число з s, min чи h (90, 30min, "
                               "2h), а не «%1»")
                    .arg(value);
            return false;
        }
    } else if (key == QLatin1String("copy-only")) {
        static const QStringList yes = {QStringLiteral("yes"), QStringLiteral("true"), QStringLiteral("1"),
                                        QStringLiteral("так")};
        static const QStringList no = {QStringLiteral("no"), QStringLiteral("false"), QStringLiteral("0"),
                                       QStringLiteral("ні")};
        if (yes.contains(value, Qt::CaseInsensitive)) {
            o.copyOnly = true;
        } else if (no.contains(value, Qt::CaseInsensitive)) {
            o.copyOnly = false;
        } else {
            *error = QStringLiteral("copy-only чекає yes або no, а не «%1»").arg(value);
            return false;
        }
    } else if (key == QLatin1String("help")) {
        o.help = true;
    } else if (key == QLatin1String("version-info")) {
        o.versionInfo = true;
    }
    return true;
}

// "key = value" lines; "#" begins a comment line. Keys are the long options without "--".
bool readConfig(const QString& path, Options& o, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("не вдалося прочитати файл налаштувань %1: %2").arg(path, file.errorString());
        return false;
    }
    bool databasesReplaced = false;
    int number = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        const Key* k = findKey(key);
        const QString where = QStringLiteral("%1, рядок %2: ").arg(path).arg(number);
        if (!k || k->kind == Kind::CommandLineOnly || key == QLatin1String("config")) {
            *error = where + QStringLiteral("невідомий ключ «%1»").arg(key);
            return false;
        }
        if (k->kind == Kind::Value && eq < 0) {
            *error = where + QStringLiteral("ключ «%1» чекає значення: %1 = ...").arg(key);
            return false;
        }
        QString reason;
        if (!apply(o, key, k->kind == Kind::Flag && eq < 0 ? QStringLiteral("yes") : value, databasesReplaced,
                   &reason)) {
            *error = where + reason;
            return false;
        }
    }
    return true;
}

} // namespace

int parseDuration(const QString& text) {
    // Longer than a month is no limit a daily job could need.
    constexpr qint64 kLongestLimitSeconds = 31LL * 24 * 3600;
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,6})\\s*(s|sec|m|min|h)?\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return 0;
    const QString unit = m.captured(2);
    const qint64 scale = unit.startsWith(QLatin1Char('h'))   ? 3600
                         : unit.startsWith(QLatin1Char('m')) ? 60
                                                             : 1;
    const qint64 total = m.captured(1).toLongLong() * scale;
    return total <= kLongestLimitSeconds ? int(total) : 0;
}

const QStringList& knownVersions() {
    static const QStringList versions = {
        QStringLiteral("2000"), QStringLiteral("2005"), QStringLiteral("2008"), QStringLiteral("2012"),
        QStringLiteral("2014"), QStringLiteral("2016"), QStringLiteral("2017"), QStringLiteral("2019"),
        QStringLiteral("2022"), QStringLiteral("2025")};
    return versions;
}

Options parse(const QStringList& arguments, QString* error) {
    // Each argument split into its key and, when written "--key=value", its value.
    struct Item {
        QString key;
        std::optional<QString> value;
    };
    QList<Item> items;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (!a.startsWith(QLatin1String("--")) || a.size() == 2) {
            *error = QStringLiteral("зайвий аргумент «%1»: усі параметри пишуться як --назва значення").arg(a);
            return {};
        }
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        Item item{eq < 0 ? a.mid(2) : a.mid(2, eq - 2), std::nullopt};
        if (eq >= 0)
            item.value = a.mid(eq + 1);
        const Key* k = findKey(item.key);
        if (!k) {
            *error = QStringLiteral("невідомий параметр «--%1»").arg(item.key);
            return {};
        }
        if (k->kind == Kind::Value && !item.value) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("параметр --%1 чекає значення").arg(item.key);
                return {};
            }
            item.value = arguments[++i];
        } else if (k->kind != Kind::Value && item.value) {
            *error = QStringLiteral("параметр --%1 не має значення").arg(item.key);
            return {};
        }
        items.append(item);
    }

    Options o;
    for (const Item& item : items)
        if (item.key == QLatin1String("config") && !readConfig(*item.value, o, error))
            return {};
    bool databasesReplaced = false;
    for (const Item& item : items) {
        if (item.key == QLatin1String("config"))
            continue;
        const Key* k = findKey(item.key);
        if (!apply(o, item.key, k->kind == Kind::Value ? *item.value : QStringLiteral("yes"), databasesReplaced,
                   error))
            return {};
    }
    if (o.help || o.versionInfo)
        return o;
    if (o.to.isEmpty()) {
        *error = QStringLiteral("не вказано папку для копій: --to ПАПКА (як її бачить сервер)");
        return {};
    }
    return o;
}

QString usage() {
    return QStringLiteral(
        "Використання: zelvaro-backup [ПАРАМЕТРИ]\n"
        "Створює повні резервні копії баз даних Microsoft SQL Server (2000–2025), перевіряє кожну\n"
        "(RESTORE VERIFYONLY) і лише після цього видаляє старіші копії понад --keep.\n"
        "\n"
        "  --server ІМ'Я          сервер: ХОСТ, ХОСТ\\ЕКЗЕМПЛЯР або ХОСТ,ПОРТ\n"
        "                         (типово: ім'я цього комп'ютера, як у вікні Zelvaro)\n"
        "  --version V            версія SQL Server: 2000 2005 2008 2012 2014 2016 2017 2019 2022 2025\n"
        "                         (типово 2000)\n"
        "  --login ІМ'Я           вхід SQL Server (типово sa)\n"
        "  --password-file ФАЙЛ   файл з паролем, який може читати лише його власник;\n"
        "                         без нього — облікові дані systemd «password»\n"
        "  --database ІМ'Я        база даних (можна кілька разів; без нього — усі бази користувача)\n"
        "  --to ПАПКА             папка для копій, як її бачить сервер\n"
        "  --keep N               скільки перевірених копій кожної бази залишати (разом із новою)\n"
        "  --copy-only            копія COPY_ONLY (SQL Server 2005 і новіші)\n"
        "  --time-limit ЧАС       скільки інструкція може тривати, поки сервер не повідомляє про\n"
        "                         поступ (90, 30min, 2h; типово 1h); тоді її скасовано\n"
        "  --config ФАЙЛ          файл налаштувань з тими самими ключами: «server = ІМ'Я»\n"
        "  --help                 ця довідка\n"
        "  --version-info         версія програми\n"
        "\n"
        "Сервер пише копію у файл НАЗВА.unverified-PID; назву НАЗВА файл дістає лише після перевірки.\n"
        "Лише такі файли рахуються в --keep; старіші видаляються за датою завершення копії в її\n"
        "заголовку. Файл незавершеного запуску не рахується й не видаляється: його названо у виводі.\n"
        "Наявний файл ніколи не перезаписується: зайняту назву замінює наступна (_2, _3, ...).\n"
        "\n"
        "Коди завершення: 0 — усі бази скопійовано й перевірено; 1 — хоч одну базу не скопійовано\n"
        "або не перевірено; 2 — помилка в параметрах, налаштуваннях або файлі пароля; 3 — сервер\n"
        "недоступний, не прийняв вхід (18456: ім'я чи пароль) або не дав списку баз; 4 — усе\n"
        "скопійовано й перевірено, але старі копії видалено не всі; 5 — сервер довше за --time-limit\n"
        "не повідомляв про поступ: інструкцію скасовано, решту баз не копійовано.\n"
        "Докладно: man zelvaro-backup.\n");
}

} // namespace backupcmd
