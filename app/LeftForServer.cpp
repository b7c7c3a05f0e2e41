// Taking back and telling what is open for the server's account (see LeftForServer.h).
#include "LeftForServer.h"

#include "HandlerGuard.h"
#include "ModalSeam.h"
#include "UserAclEntry.h"

#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace leftforserver {

namespace {

using Kind = ops::JournalEntry::Kind;

bool exists(const QString& path) {
    struct stat st {};
    return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString rights(int bits) {
    return QString(QLatin1Char(bits & 4 ? 'r' : '-')) + QLatin1Char(bits & 2 ? 'w' : '-') +
           QLatin1Char(bits & 1 ? 'x' : '-');
}

// An ACL entry on a copy goes with the copy: a lasting copy keeps it, a removed one takes it along.
bool carriedByACopy(const ops::JournalEntry& grant, const QList<ops::JournalEntry>& all) {
    return std::any_of(all.begin(), all.end(), [&](const ops::JournalEntry& e) {
        return e.kind == Kind::Copy && e.path == grant.path;
    });
}

} // namespace

void takeBackWhatWasLeft(bool includingThisRun) {
    ops::Journal& journal = ops::journal();
    const QList<ops::JournalEntry> all = journal.entries();
    QList<ops::JournalEntry> left = journal.ours();
    // The latest first: a file's entry before its folders', a folder's contents before it.
    std::sort(left.begin(), left.end(),
              [](const ops::JournalEntry& a, const ops::JournalEntry& b) { return a.made > b.made; });
    const qint64 me = QCoreApplication::applicationPid();
    for (const ops::JournalEntry& e : left) {
        if (e.kind == Kind::SingleUser || (e.pid == me && !includingThisRun))
            continue;
        if (!exists(e.path)) {
            journal.crossOut(e.id); // gone, and what it carried with it
            continue;
        }
        if (e.lasting)
            continue;
        if (e.kind == Kind::AclGrant && !carriedByACopy(e, all) &&
            takeBackJournalled(e.path, e.account, e.acl.added, e.acl.hadEntry, e.acl.maskBefore, nullptr))
            journal.crossOut(e.id);
        // Only an empty folder: anything in it is a file somebody may still want.
        if (e.kind == Kind::SharedFolder && ::rmdir(QFile::encodeName(e.path).constData()) == 0)
            journal.crossOut(e.id);
    }
}

QString undoCommand(const ops::JournalEntry& entry) {
    switch (entry.kind) {
    case Kind::AclGrant:
        return QStringLiteral("setfacl -x u:%1 %2").arg(shellQuoted(entry.account), shellQuoted(entry.path));
    case Kind::Copy:
        return QStringLiteral("rm -- %1").arg(shellQuoted(entry.path));
    case Kind::SharedFolder:
        return QStringLiteral("rmdir -- %1").arg(shellQuoted(entry.path));
    case Kind::SingleUser:
    case Kind::Detached:
        break; // the server's, not the account's: asked about at the next connect
    }
    return QString();
}

QString whatIsOpenText() {
    QStringList lines;
    for (const ops::JournalEntry& e : ops::journal().entries()) {
        if (e.kind == Kind::SingleUser || e.kind == Kind::Detached || !exists(e.path))
            continue;
        QString what = e.describe();
        if (e.kind == Kind::AclGrant)
            what += QStringLiteral(" (%1)").arg(rights(e.acl.added));
        if (e.lasting)
            what += e.database.isEmpty()
                        ? QStringLiteral(", залишено за вашим вибором")
                        : QStringLiteral(", доки база даних %1 приєднана до %2").arg(e.database, e.server);
        lines << QStringLiteral("• %1\n   Забрати: %2").arg(what, undoCommand(e));
    }
    if (lines.isEmpty())
        return QStringLiteral("Zelvaro зараз нічого не відкрив і не залишив для облікового запису сервера.");
    return QStringLiteral("Що Zelvaro відкрив або залишив для облікового запису сервера:\n%1")
        .arg(lines.join(QLatin1Char('\n')));
}

QPushButton* addWhatIsOpenButton(QWidget* panel) {
    auto* button = new QPushButton(QStringLiteral("&Відкрите для сервера…"), panel);
    button->setObjectName(QStringLiteral("WhatIsOpen"));
    button->setGeometry(5, 380, 200, 28);
    button->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(button, &QPushButton::clicked, button, [] {
        guarded([] {
            modal::messageDialog(whatIsOpenText(), DialogType::Information, {DialogButton::OK});
        });
    });
    return button;
}

} // namespace leftforserver
