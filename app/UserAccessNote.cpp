// The lines about a database's user access in the attach and detach messages (UserAccessNote.h).
#include "UserAccessNote.h"

#include "DisconnectOthers.h"

namespace useraccessnote {

QString read(AdoQuery& query, const QString& database) {
    return ops::singleuser::userAccess(query, database);
}

QString afterAttach(const QString& database, const QString& access) {
    const QString open = disconnectothers::multiUser(database);
    if (access.compare(QLatin1String("SINGLE_USER"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("База даних в однокористувацькому режимі (SINGLE_USER), збереженому в її файлах: "
                              "нею може користуватися лише одне з'єднання. Zelvaro цього не змінює; щоб "
                              "відкрити її для всіх, виконайте: %1")
            .arg(open);
    if (access.compare(QLatin1String("RESTRICTED_USER"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("База даних в обмеженому режимі (RESTRICTED_USER), збереженому в її файлах: нею "
                              "можуть користуватися лише її власники та адміністратори сервера. Zelvaro цього "
                              "не змінює; щоб відкрити її для всіх, виконайте: %1")
            .arg(open);
    return QString();
}

QString afterDetach(const QString& database) {
    return QStringLiteral("База даних %1 від'єднана.\nЩоб від'єднати її, інші з'єднання було розірвано, "
                          "перевівши базу даних в однокористувацький режим (SINGLE_USER). Її файли "
                          "залишилися в однокористувацькому режимі (SINGLE_USER); коли їх приєднають, "
                          "Zelvaro скаже про це й назве інструкцію, що відкриває базу даних для всіх.")
        .arg(database);
}

QString olderDetached(const QString& database) {
    return QStringLiteral("Файли попередньої бази даних %1 від'єднано в однокористувацькому режимі "
                          "(SINGLE_USER), і вони його зберегли; приєднання цих файлів скаже про це.")
        .arg(database);
}

} // namespace useraccessnote
