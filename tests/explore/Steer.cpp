// The walk towards a kind of step: each call gives one step of it, read from the window as it is.
#include "Steer.h"

#include "Generate.h"
#include "Session.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QTabWidget>

namespace explore {

namespace {
struct OpPage {
    Kind kind;
    int page;
    const char* button;
};
const OpPage kOps[] = {{Kind::Attach, 0, "BitBtn1"},
                       {Kind::Detach, 1, "BitBtn2"},
                       {Kind::Delete, 1, "BitBtn4"},
                       {Kind::Restore, 2, "BitBtn3"},
                       {Kind::Backup, 3, "BitBtn5"}};
// Values that lead somewhere: files that are there, folders that exist.
const QStringList kGoodMdf = {"@S/src/Archive.mdf", "@S/src/Копія.mdf", "@S/out/R.mdf", "@S/out/Нова.mdf"};
const QStringList kGoodBak = {"@S/bak/sales.bak", "@S/bak/kadry.bak", "@S/bak/archive.bak", "@S/out/b1.bak",
                              "@D/sales.bak",     "@S/bak/other-sales.bak", "@R/kont.bak"};
const QStringList kGoodSave = {"@S/out/b1.bak", "@S/out/Нова копія.bak", "@S/bak/sales.bak", "@D/Копія.bak",
                               "@R/k2.bak"};
const QStringList kNewNames = {"Archive", "Нова", "Copy", "Sales", "Кадри"};

QString pick(QRandomGenerator& r, const QStringList& from) {
    return from[int(r.bounded(int(from.size())))];
}

// The window as the walk needs it.
struct View {
    const TMain& w;
    bool shown;
    int page;
    bool enabled(const char* name) const {
        return w.findChild<QAbstractButton*>(QLatin1String(name))->isEnabled();
    }
    QString text(const char* name) const { return w.findChild<QLineEdit*>(QLatin1String(name))->text(); }
    int listed() const {
        return w.findChild<QListView*>(QStringLiteral("ListDataBases"))->model()->rowCount();
    }
    QString someListed(QRandomGenerator& r) const {
        const QAbstractItemModel* m = w.findChild<QListView*>(QStringLiteral("ListDataBases"))->model();
        return m->index(int(r.bounded(m->rowCount())), 0).data().toString();
    }
    int inCombo() const { return w.findChild<QComboBox*>(QStringLiteral("cbDataBase1"))->count(); }
};

Step make(Act act, const QString& field = {}, const QString& text = {}, int number = 0) {
    Step s;
    s.act = act;
    s.field = field;
    s.text = text;
    s.number = number;
    return s;
}

// A connection the servers accept, on the session's version, to server A.
Step goodSettings(const Session& session) {
    Step s = make(Act::Settings, QStringLiteral("A"), {}, session.world().version());
    s.user = QStringLiteral("sa");
    s.password = QStringLiteral("pvtmo");
    return s;
}

// The next step towards pressing an operation's button; none when the page has nothing to act on.
std::optional<Step> towardsOp(QRandomGenerator& r, const Session& session, const View& v, const OpPage& op) {
    if (!v.shown) {
        const bool good = v.text("edUserName") == QLatin1String("sa") &&
                          v.text("edUserPass") == QLatin1String("pvtmo") &&
                          session.world().serverOf(v.text("ServerName")) >= 0;
        return good ? make(Act::Connect) : goodSettings(session);
    }
    if (v.page != op.page)
        return make(Act::Page, {}, {}, op.page);
    if (v.enabled(op.button)) {
        Step s = make(Act::Press, QLatin1String(op.button));
        s.yes = r.bounded(100) < 80;
        return s;
    }
    switch (op.kind) {
    case Kind::Attach:
        return make(Act::Pick, QStringLiteral("SpeedButton2"), pick(r, kGoodMdf));
    case Kind::Detach:
    case Kind::Delete:
        if (v.listed() == 0)
            return std::nullopt;
        return make(Act::Select, QStringLiteral("ListDataBases"), v.someListed(r));
    case Kind::Restore:
        if (v.text("Edit1").isEmpty() && r.bounded(2))
            return make(Act::Type, QStringLiteral("Edit1"), pick(r, kNewNames));
        return make(Act::Pick, QStringLiteral("SpeedButton5"), pick(r, kGoodBak));
    case Kind::Backup:
        if (v.inCombo() == 0)
            return std::nullopt;
        return make(Act::Type, QStringLiteral("edSavePathBAK"), pick(r, kGoodSave));
    default:
        return std::nullopt;
    }
}

std::optional<Step> towards(QRandomGenerator& r, const Session& session, const View& v, Kind kind) {
    switch (kind) {
    case Kind::Restart:
        return make(Act::Restart);
    case Kind::Settings: {
        Step s = goodSettings(session);
        if (r.bounded(3) == 0)
            s.field = QStringLiteral("B");
        return s;
    }
    case Kind::World: {
        // The world's disturbances other than a restart; each keeps its ordinary values.
        static const Act kWorld[] = {Act::Cut,       Act::BehindDetach, Act::BehindDrop,
                                     Act::ChangeBak, Act::Junk,         Act::Stop, Act::Hold};
        return make(kWorld[r.bounded(int(std::size(kWorld)))]);
    }
    case Kind::Cancel: {
        // A press cancelled at once, on whichever operation is closest: the one whose button is
        // enabled on the open page, else the walk to a restore (its copying takes longest).
        for (const OpPage& op : kOps)
            if (v.shown && v.page == op.page && v.enabled(op.button)) {
                Step s = make(Act::Press, QLatin1String(op.button));
                s.yes = true;
                s.cancelAtMs = int(r.bounded(15));
                s.closeDuring = r.bounded(100) < 15;
                return s;
            }
        return towardsOp(r, session, v, kOps[3]);
    }
    default:
        for (const OpPage& op : kOps)
            if (op.kind == kind)
                return towardsOp(r, session, v, op);
        return std::nullopt;
    }
}
} // namespace

int countOf(const Session& session, Kind kind) {
    const Counts& c = session.counts();
    const int all[] = {c.attach, c.detach,  c.remove,   c.restore, c.backup,
                       c.cancel, c.restart, c.settings, c.world};
    return all[int(kind)];
}

std::optional<Step> steer(QRandomGenerator& r, const Session& session, const QSet<QString>& allowed,
                          Steering& memory) {
    const int kTries = 15, kRest = 60;
    const TMain& w = *session.window();
    auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const View v{w, pages->isVisible(), pages->currentIndex()};
    // Least done first; among equals the summary's order, so that the walk keeps one aim until it
    // gets there instead of wandering between pages.
    QList<Kind> kinds;
    for (int k = 0; k <= int(Kind::World); ++k)
        kinds << Kind(k);
    std::stable_sort(kinds.begin(), kinds.end(),
                     [&](Kind a, Kind b) { return countOf(session, a) < countOf(session, b); });
    ++memory.steered;
    for (Kind kind : kinds) {
        const int k = int(kind), count = countOf(session, kind);
        if (count != memory.lastCount[k])
            memory.tries[k] = 0, memory.lastCount[k] = count;
        if (memory.steered < memory.restUntil[k])
            continue;
        if (memory.tries[k] >= kTries) {
            memory.tries[k] = 0;
            memory.restUntil[k] = memory.steered + kRest;
            continue;
        }
        const std::optional<Step> s = towards(r, session, v, kind);
        if (s && (allowed.isEmpty() || allowed.contains(actionNames()[int(s->act)]))) {
            ++memory.tries[k];
            return s;
        }
    }
    return std::nullopt;
}

} // namespace explore
