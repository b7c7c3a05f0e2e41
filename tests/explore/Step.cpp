// Steps told as what a user does or what happens to the world, and written as one line each.
#include "Step.h"

#include <QMap>

namespace explore {

namespace {
const QMap<QString, QString>& buttonNames() {
    static const QMap<QString, QString> names = {
        {QStringLiteral("BitBtn1"), QStringLiteral("Attach")},
        {QStringLiteral("BitBtn2"), QStringLiteral("Detach")},
        {QStringLiteral("BitBtn4"), QStringLiteral("Delete")},
        {QStringLiteral("BitBtn3"), QStringLiteral("Restore")},
        {QStringLiteral("BitBtn5"), QStringLiteral("Backup")},
        {QStringLiteral("SpeedButton2"), QStringLiteral("the MDF file button (attach)")},
        {QStringLiteral("SpeedButton3"), QStringLiteral("the LDF file button (attach)")},
        {QStringLiteral("SpeedButton5"), QStringLiteral("the BAK file button (restore)")},
        {QStringLiteral("SpeedButton1"), QStringLiteral("the folder button for both files (restore)")},
        {QStringLiteral("SpeedButton4"), QStringLiteral("the LDF folder button (restore)")},
        {QStringLiteral("SpeedButton6"), QStringLiteral("the save-as button (backup)")},
        {QStringLiteral("ListDataBases"), QStringLiteral("the database list")},
        {QStringLiteral("cbDataBase1"), QStringLiteral("the backup page's database list")},
    };
    return names;
}
QString shown(const QString& widget) {
    return buttonNames().value(widget, widget);
}
const char* const kPages[] = {"Attach", "Detach", "Restore", "Backup"};
const char* const kActs[] = {"connect", "settings", "page", "type", "pick", "select", "press", "close",
                             "restart", "cut", "behind-detach", "behind-drop", "change-bak", "junk", "stop", "hold"};
} // namespace

QString Step::describe() const {
    const QString quoted = QLatin1Char('"') + text + QLatin1Char('"');
    switch (act) {
    case Act::Connect:
        return QStringLiteral("press Connect/Disconnect");
    case Act::Settings:
        return QStringLiteral("set version %1, login \"%2\", password \"%3\", server %4")
            .arg(number)
            .arg(user, password, field);
    case Act::Page:
        return QStringLiteral("open the %1 page").arg(QLatin1String(kPages[qBound(0, number, 3)]));
    case Act::Type:
        return QStringLiteral("type %1 into %2").arg(quoted, field);
    case Act::Pick:
        return text.isEmpty() ? QStringLiteral("press %1, cancel the dialog").arg(shown(field))
                              : QStringLiteral("press %1, choose %2").arg(shown(field), quoted);
    case Act::Select:
        return QStringLiteral("select %1 in %2").arg(quoted, shown(field));
    case Act::Press: {
        QString s = QStringLiteral("press %1, answer %2").arg(shown(field), yes ? "Yes" : "No");
        if (cancelAtMs >= 0)
            s += closeDuring ? QStringLiteral(", close the window after %1 ms").arg(cancelAtMs)
                             : QStringLiteral(", press Cancel after %1 ms").arg(cancelAtMs);
        return s;
    }
    case Act::CloseWindow:
        return QStringLiteral("close the window and start Zelvaro again");
    case Act::Restart:
        return text.isEmpty() ? QStringLiteral("[world] restart server A")
                              : QStringLiteral("[world] restart server A with %1").arg(text);
    case Act::Cut:
        return QStringLiteral("[world] cut Zelvaro's connections");
    case Act::BehindDetach:
        return QStringLiteral("[world] another client detaches %1 on server %2").arg(field, number ? "B" : "A");
    case Act::BehindDrop:
        return QStringLiteral("[world] another client drops %1 on server %2").arg(field, number ? "B" : "A");
    case Act::ChangeBak:
        return number == 0 ? QStringLiteral("[world] another client appends a backup of %1 to %2").arg(field, quoted)
                           : QStringLiteral("[world] %1 is copied over %2").arg(field, quoted);
    case Act::Junk:
        return QStringLiteral("[world] %1 is filled with junk").arg(quoted);
    case Act::Stop:
        return cancelAtMs > 0 ? QStringLiteral("[world] server A stops answering %1 ms into the next step, for %2 ms")
                                    .arg(cancelAtMs).arg(number)
                              : QStringLiteral("[world] server A stops answering for %1 ms").arg(number);
    case Act::Hold:
        return QStringLiteral("[world] another program opens %1 on server %2 and keeps it open")
            .arg(field, number ? "B" : "A");
    }
    return {};
}

QString Step::encode() const {
    return QStringList{QLatin1String(kActs[int(act)]), field, text, QString::number(number),
                       QString::number(yes), QString::number(cancelAtMs), QString::number(closeDuring), user,
                       password}
        .join(QLatin1Char('\t'));
}

bool Step::decode(const QString& line, Step& step) {
    const QStringList parts = line.split(QLatin1Char('\t'));
    if (parts.size() != 9)
        return false;
    int act = -1;
    for (int i = 0; i < int(std::size(kActs)); ++i)
        if (parts[0] == QLatin1String(kActs[i]))
            act = i;
    if (act < 0)
        return false;
    step = {Act(act), parts[1], parts[2], parts[3].toInt(), parts[4] == QLatin1String("1"), parts[5].toInt(),
            parts[6] == QLatin1String("1"), parts[7], parts[8]};
    return true;
}

QString describe(const Steps& steps) {
    QString out;
    for (int i = 0; i < steps.size(); ++i)
        out += QStringLiteral("  %1. %2\n").arg(i + 1).arg(steps[i].describe());
    return out;
}

} // namespace explore
