// The rules of what each confirmed operation may touch, as the pages promise to keep the user's data.
#include "Model.h"

#include "FMain.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListView>

namespace explore {

QString folderOf(const QString& path) {
    const int slash = int(path.lastIndexOf(QLatin1Char('/')));
    return slash < 0 ? QString() : path.left(slash);
}

namespace {
QString text(const TMain& w, const char* name) {
    auto* edit = w.findChild<QLineEdit*>(QLatin1String(name));
    return edit ? edit->text() : QString();
}
QString selectedListed(const TMain& w) {
    auto* view = w.findChild<QListView*>(QStringLiteral("ListDataBases"));
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : selected.first().data().toString();
}
} // namespace

Asked Model::ask(const QString& button, const TMain& w, const World& world) const {
    Asked a;
    const int fieldsServer = world.serverOf(text(w, "ServerName"));
    if (button == QLatin1String("BitBtn1")) {
        a = {Op::Attach, fieldsServer, text(w, "cbDatabase"), text(w, "edPathMDF"), text(w, "edPathLDF"), {}};
    } else if (button == QLatin1String("BitBtn2") || button == QLatin1String("BitBtn4")) {
        // The names listed belong to the server they were read from.
        a = {button == QLatin1String("BitBtn2") ? Op::Detach : Op::Delete, listSource, selectedListed(w), {}, {}, {}};
    } else if (button == QLatin1String("BitBtn3")) {
        a = {Op::Restore, fieldsServer, text(w, "Edit1"), text(w, "edPathMDF2"), text(w, "edPathLDF2"),
             text(w, "edPathBAK")};
    } else if (button == QLatin1String("BitBtn5")) {
        a = {Op::Backup, fieldsServer, w.findChild<QComboBox*>(QStringLiteral("cbDataBase1"))->currentText(), {}, {},
             text(w, "edSavePathBAK")};
    }
    // What a server in its own file system touches is where this computer sees it.
    for (QString* path : {&a.mdf, &a.ldf, &a.bak})
        *path = world.hostPath(a.server, *path);
    return a;
}

QStringList Model::refusedByServer(const Asked& a, const World& world) const {
    QList<QPair<QString, Need>> needs;
    switch (a.op) {
    case Op::Attach:
        needs = {{a.mdf, Need::Read}, {a.ldf, Need::Read}};
        break;
    case Op::Restore:
        needs = {{a.bak, Need::Read}, {folderOf(a.mdf), Need::CreateIn}, {folderOf(a.ldf), Need::CreateIn}};
        break;
    case Op::Backup:
        needs = {{a.bak, Need::Write}};
        break;
    default:
        break;
    }
    QStringList refused;
    if (a.server != 0 || world.variant() == Variant::Plain)
        return refused;
    for (const auto& [path, need] : needs)
        if (path.startsWith(QLatin1Char('/')) && !world.aReaches(path, need))
            refused << path;
    return refused;
}

Permit Model::permit(const Asked& a, const Snapshot& before, const QStringList& confirmedTexts) const {
    Permit p;
    p.server = a.server;
    p.database = nameKey(a.name);
    // Every file a confirmation the user agreed to names is the user's choice.
    for (auto it = before.files.constBegin(); it != before.files.constEnd(); ++it)
        for (const QString& t : confirmedTexts)
            if (t.contains(it.key()))
                p.files.insert(it.key());
    const DbState* same = before.database(a.server, a.name);
    const QStringList sameFiles = same ? same->files : QStringList();
    switch (a.op) {
    case Op::None:
        break;
    case Op::Attach:
        // The named files, a new log the server builds beside the data file, and the files of the
        // older database of that name, which is detached first (and may be attached again).
        p.files << a.mdf << a.ldf;
        p.newFilesIn << folderOf(a.mdf);
        for (const QString& f : sameFiles)
            p.unchangedOnly << f;
        break;
    case Op::Detach:
        for (const QString& f : sameFiles)
            p.unchangedOnly << f;
        break;
    case Op::Delete:
        for (const QString& f : sameFiles)
            p.files << f;
        break;
    case Op::Restore: {
        // The two paths on the page and the further files beside them, when nobody else's file is
        // there; the files of the database being replaced by its own restore.
        for (const QString& target : {a.mdf, a.ldf})
            if (!before.files.contains(target) || sameFiles.contains(target))
                p.files << target;
        p.newFilesIn << folderOf(a.mdf) << folderOf(a.ldf);
        for (const QString& f : sameFiles)
            p.files << f;
        break;
    }
    case Op::Backup:
        p.files << a.bak;
        p.database.clear();
        break;
    }
    return p;
}

} // namespace explore
