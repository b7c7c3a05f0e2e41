// Random steps: weights, pools of values, and the state of the window they are drawn against.
#include "Generate.h"

#include "Session.h"
#include "Steer.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QListView>
#include <QTabWidget>

namespace explore {

namespace {
const QStringList kNames = {"Sales", "Кадри", "Plain", "Archive", "Нова", "Copy", "sales", "S_les", "x'y", "a]b",
                            "Sales;DROP DATABASE Plain", "  Нова  ", "../up", QString(80, QChar(0x436)), ""};
const QStringList kMdf = {"@S/src/Archive.mdf", "@S/src/Копія.mdf", "@S/live/Sales.mdf", "@S/out/New.mdf",
                          "@S/denied/x.mdf",    "@S/nowhere/x.mdf", "@D/Plain.mdf",      "@S/bak/sales.bak",
                          "@S/out/R.mdf",       "@S/out/Нова.mdf",     "@S/small/R.mdf",
                          "@S/foreign/Sales.mdf"};
const QStringList kLdf = {"@S/src/Archive_log.ldf", "", "@S/nowhere/x.ldf", "@S/live/Sales_log.ldf",
                          "@S/out/R_log.ldf", "@S/out/Нова_log.ldf", "@S/small/R_log.ldf",
                          "@S/foreign/Sales_log.ldf"};
const QStringList kBak = {"@D/sales.bak",  "@S/bak/sales.bak", "@S/bak/kadry.bak", "@S/bak/archive.bak",
                          "@S/bak/junk.bak", "@S/out/b1.bak",  "@S/nowhere/x.bak", "@S/denied/d.bak",
                          "@R/kont.bak",     "@S/bak/other-sales.bak", "@S/foreign/Sales.bak", "@D/foreign.bak"};
// @D is server A's own folder: the one place it reaches when it runs as another account.
const QStringList kFolders = {"@S/out", "@S/src", "@S/denied", "@S/live", "@S/nowhere", "", "@D", "@R/Нові", "@S/small"};
const QStringList kSave = {"@S/out/b1.bak", "@S/out/Нова копія.bak", "@S/bak/sales.bak", "@S/denied/b.bak",
                           "@S/nowhere/b.bak", "@S/src/Archive.mdf", "x.bak", "@D/Копія.bak", "@R/k2.bak",
                           "@S/small/b.bak"};
// Paced servers keep an operation running for seconds (a 16 MB restore takes 2 to 4 s), longer than
// the latest cancel (1.5 s) but short enough that a run of restores does not take minutes.
const QStringList kRestartOptions = {"",          "--slow 120",          "--slow 40",      "--slow 300",          "--throughput 4", "--throughput 8", "--throughput 6",
                                     "--deny @S/denied", "--deny @S/src", "--deny @S/bak/kadry.bak",
                                     // SQL Server Express, its size cap lowered to what the world's databases pass
                                     "--edition express --size-cap-mb 1", "--edition express --size-cap-mb 3"};
const QList<QPair<QString, QStringList>> kFields = {
    {"cbDatabase", kNames}, {"edPathMDF", kMdf},  {"edPathLDF", kLdf},  {"Edit1", kNames},
    {"edPathBAK", kBak},    {"edPathMDF2", kMdf}, {"edPathLDF2", kLdf}, {"edSavePathBAK", kSave}};
const QList<QPair<QString, QStringList>> kPickers = {
    {"SpeedButton2", kMdf}, {"SpeedButton3", kLdf},    {"SpeedButton5", kBak},
    {"SpeedButton1", kFolders}, {"SpeedButton4", kFolders}, {"SpeedButton6", kSave}};
const QStringList kButtons = {"BitBtn1", "BitBtn2", "BitBtn4", "BitBtn3", "BitBtn5"};

const Kind kKinds[] = {Kind::Attach, Kind::Detach,  Kind::Delete,   Kind::Restore, Kind::Backup,
                       Kind::Cancel, Kind::Restart, Kind::Settings, Kind::World};

template <typename T> const T& pick(QRandomGenerator& r, const QList<T>& from) {
    return from[int(r.bounded(int(from.size())))];
}
bool chance(QRandomGenerator& r, int percent) {
    return int(r.bounded(100)) < percent;
}
} // namespace

QStringList actionNames() {
    return {"connect", "settings", "page", "type", "pick", "select", "press", "close",
            "restart", "cut", "behind-detach", "behind-drop", "change-bak", "junk", "stop", "hold"};
}

Step generate(QRandomGenerator& r, const Session& session, const QSet<QString>& allowed, Steering& steering) {
    const TMain& w = *session.window();
    auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const bool shown = pages->isVisible();
    const int page = pages->currentIndex();
    // A long run wears the world down (backups junked, databases dropped behind the back) until
    // Restore, Detach and Delete have nothing left to work on: the world's losses slow down as
    // server A empties, and the backup picker favours the backups that are there.
    const bool fewLeft = session.state().servers.value(0).size() < 3;
    // Nor does a session linger on a page whose button cannot be pressed: an empty list is left
    // (coming back lists again), a listed name is selected, a backup read, an enabled button pressed.
    auto enabled = [&](const char* name) { return w.findChild<QAbstractButton*>(QLatin1String(name))->isEnabled(); };
    const bool listEmpty = w.findChild<QListView*>(QStringLiteral("ListDataBases"))->model()->rowCount() == 0;
    const bool canDrop = page == 1 && enabled("BitBtn2");
    const bool canRestore = page == 2 && enabled("BitBtn3");
    // Now and then a walk towards the kind of step done least (more often while one is rare), so
    // that every seed's run does each kind several times in the same number of steps.
    int rarest = countOf(session, Kind::Attach);
    for (Kind k : kKinds)
        rarest = qMin(rarest, countOf(session, k));
    if (chance(r, rarest < 3 ? 45 : 12))
        if (std::optional<Step> s = steer(r, session, allowed, steering))
            // The world's steps come bare: their values are drawn as for any world step.
            return s->isWorld() ? withValues(s->act, r, session) : *s;
    // Weights: a user mostly works on the page in front of them.
    const QList<QPair<Act, int>> weights = {
        {Act::Connect, shown ? 3 : 40},
        {Act::Settings, 3},
        {Act::Page, page == 1 ? (listEmpty ? 16 : 3) : 8},
        {Act::Type, page == 1 ? 2 : 12},
        {Act::Pick, page == 1 ? 2 : page == 2 ? (canRestore ? 12 : 30) : 12},
        {Act::Select, page == 1 ? (canDrop ? 8 : 24) : page == 3 ? 16 : 0},
        {Act::Press, canDrop || canRestore ? 45 : page == 1 || page == 2 ? 30 : 20},
        {Act::CloseWindow, 1},
        {Act::Restart, 3},              {Act::Cut, 2},      {Act::BehindDetach, fewLeft ? 0 : 2},
        {Act::BehindDrop, fewLeft ? 0 : 1}, {Act::ChangeBak, 2}, {Act::Junk, 1}, {Act::Stop, 2},
        {Act::Hold, 3}};
    int total = 0;
    for (const auto& [act, weight] : weights)
        if (allowed.isEmpty() || allowed.contains(actionNames()[int(act)]))
            total += weight;
    int roll = int(r.bounded(qMax(total, 1)));
    Act act = Act::Connect;
    for (const auto& [a, weight] : weights) {
        if (!allowed.isEmpty() && !allowed.contains(actionNames()[int(a)]))
            continue;
        if (roll < weight) {
            act = a;
            break;
        }
        roll -= weight;
    }
    return withValues(act, r, session);
}

Step withValues(Act act, QRandomGenerator& r, const Session& session) {
    const TMain& w = *session.window();
    auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const bool shown = pages->isVisible();
    const int page = pages->currentIndex();
    const bool canRestore = page == 2 && w.findChild<QAbstractButton*>(QStringLiteral("BitBtn3"))->isEnabled();
    Step s;
    s.act = act;
    // Mostly the widgets of the open page; now and then another page's (the step then does nothing).
    auto onPage = [&](const QList<QPair<QString, QStringList>>& from) {
        QList<QPair<QString, QStringList>> here;
        for (const auto& entry : from)
            if (pageOf(entry.first) == page)
                here << entry;
        return shown && !here.isEmpty() && chance(r, 85) ? here : from;
    };
    switch (act) {
    case Act::Settings:
        s.number = chance(r, 80) ? session.world().version() : pick(r, QList<int>{2000, 2005, 2012, 2019});
        s.user = chance(r, 90) ? QStringLiteral("sa") : QStringLiteral("nobody");
        s.password = chance(r, 85) ? QStringLiteral("pvtmo") : QStringLiteral("wrong;x");
        s.field = chance(r, 65) ? QStringLiteral("A") : chance(r, 85) ? QStringLiteral("B") : QStringLiteral("none");
        break;
    case Act::Page:
        s.number = int(r.bounded(4));
        break;
    case Act::Type: {
        const auto [field, pool] = pick(r, onPage(kFields));
        s.field = field;
        s.text = pick(r, pool);
        break;
    }
    case Act::Pick: {
        auto [field, pool] = pick(r, onPage(kPickers));
        if (page == 2 && !canRestore && chance(r, 50))
            field = QStringLiteral("SpeedButton5"), pool = kBak;
        s.field = field;
        s.text = chance(r, 15) ? QString() : pick(r, pool);
        // The backups that are there are chosen more often than the paths that lead nowhere.
        if (field == QLatin1String("SpeedButton5") && chance(r, 75))
            s.text = pick(r, QStringList{"@S/bak/sales.bak", "@S/bak/kadry.bak", "@S/bak/archive.bak", "@S/out/b1.bak",
                                         "@D/sales.bak"});
        break;
    }
    case Act::Select: {
        s.field = page == 3 ? QStringLiteral("cbDataBase1") : QStringLiteral("ListDataBases");
        // Mostly a name the window lists; now and then one it may no longer list.
        QStringList names;
        if (page == 3) {
            auto* combo = w.findChild<QComboBox*>(QStringLiteral("cbDataBase1"));
            for (int i = 0; i < combo->count(); ++i)
                names << combo->itemText(i);
        } else {
            const QAbstractItemModel* model = w.findChild<QListView*>(QStringLiteral("ListDataBases"))->model();
            for (int row = 0; row < model->rowCount(); ++row)
                names << model->index(row, 0).data().toString();
        }
        if (names.isEmpty() || chance(r, 10))
            names = QStringList{"Sales", "Кадри", "Plain", "Archive"};
        s.text = pick(r, names);
        break;
    }
    case Act::Press: {
        QStringList here;
        for (const QString& b : kButtons)
            if (pageOf(b) == page)
                here << b;
        s.field = shown && chance(r, 85) ? pick(r, here) : pick(r, kButtons);
        s.yes = chance(r, 75);
        if (chance(r, 40)) {
            // Mostly early: most operations take well under a second, many a few milliseconds.
            s.cancelAtMs = chance(r, 40) ? int(r.bounded(20)) : chance(r, 65) ? int(r.bounded(300)) : int(r.bounded(1500));
            s.closeDuring = chance(r, 20);
        }
        break;
    }
    case Act::Restart:
        s.text = pick(r, kRestartOptions);
        break;
    case Act::BehindDetach:
    case Act::BehindDrop: {
        s.number = chance(r, 80) ? 0 : 1;
        QStringList names = {"Sales"};
        for (const DbState& db : session.state().servers.value(s.number))
            names << db.name;
        s.field = pick(r, names);
        break;
    }
    case Act::ChangeBak:
        s.number = chance(r, 50) ? 0 : 1;
        s.text = pick(r, QStringList{"@S/bak/sales.bak", "@S/bak/kadry.bak", "@S/bak/archive.bak", "@S/out/b1.bak"});
        s.field = s.number == 0 ? pick(r, QStringList{"Sales", "Кадри", "Plain"})
                                : pick(r, QStringList{"@S/bak/archive.bak", "@S/bak/kadry.bak", "@S/bak/sales.bak"});
        break;
    case Act::Junk: {
        QStringList files;
        for (auto it = session.state().files.constBegin(); it != session.state().files.constEnd(); ++it)
            if ((it.key().contains(QLatin1String("/bak/")) && chance(r, 25)) || it.key().contains(QLatin1String("/src/")) ||
                it.key().contains(QLatin1String("/out/")))
                files << session.world().tokenized(it.key());
        s.text = files.isEmpty() ? QStringLiteral("@S/bak/junk.bak") : pick(r, files);
        s.number = int(r.bounded(8));
        break;
    }
    case Act::Stop:
        // Longer than a quick statement, shorter than the driver's timeouts; half of the stops
        // come in the middle of the next step (a press's statements, a list's read).
        s.number = 200 + int(r.bounded(2300));
        s.cancelAtMs = chance(r, 50) ? 1 + int(r.bounded(400)) : -1;
        break;
    case Act::Hold: {
        // Mostly what the user works on: server A's databases, those that are there.
        s.number = chance(r, 85) ? 0 : 1;
        QStringList names = {"Sales", "Кадри"};
        for (const DbState& db : session.state().servers.value(s.number))
            names << db.name;
        s.field = pick(r, names);
        break;
    }
    default:
        break;
    }
    return s;
}

} // namespace explore
