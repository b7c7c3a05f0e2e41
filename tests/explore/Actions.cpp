// What the steps do: the user's clicks and typing on the real window, and the world's disturbances.
#include "Session.h"

#include "LongOperation.h"
#include "ProgressDialog.h"
#include "SqlQuote.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

namespace explore {

int pageOf(const QString& widget) {
    static const QMap<QString, int> pages = {
        {"cbDatabase", 0},  {"edPathMDF", 0},    {"edPathLDF", 0},   {"SpeedButton2", 0}, {"SpeedButton3", 0},
        {"BitBtn1", 0},     {"ListDataBases", 1}, {"BitBtn2", 1},     {"BitBtn4", 1},      {"Edit1", 2},
        {"edPathBAK", 2},   {"edPathMDF2", 2},   {"edPathLDF2", 2},  {"SpeedButton5", 2}, {"SpeedButton1", 2},
        {"SpeedButton4", 2}, {"BitBtn3", 2},     {"cbDataBase1", 3}, {"edSavePathBAK", 3}, {"SpeedButton6", 3},
        {"BitBtn5", 3}};
    return pages.value(widget, -1);
}

bool Session::onCurrentPage(const QString& widget) const {
    auto* pages = m_window->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    return pages->isVisible() && pages->currentIndex() == pageOf(widget);
}

void Session::performUser(const Step& step, StepRecord& record) {
    TMain& w = *m_window;
    auto listFilled = [&](bool list) {
        // The names now listed come from the server the fields name, when it answered.
        bool errorBox = false;
        for (const modal::Request& r : m_dialogs)
            errorBox = errorBox || r.kind == modal::Kind::ErrorBox || r.type == DialogType::Error;
        if (!w.connection().isOpen() || errorBox)
            return;
        const int server = m_world.serverOf(w.findChild<QLineEdit*>(QStringLiteral("ServerName"))->text());
        if (list) {
            m_model.listSource = server;
            m_model.settingsChangedSinceList = false;
        } else {
            m_model.comboSource = server;
            m_model.settingsChangedSinceCombo = false;
        }
    };
    switch (step.act) {
    case Act::Connect:
        w.findChild<QAbstractButton*>(QStringLiteral("ToolButton1"))->click();
        break;
    case Act::Settings: {
        ++m_counts.settings;
        bool changed = false;
        auto* versions = w.findChild<QComboBox*>(QStringLiteral("cbSQLServers"));
        const int index = versions->findText(QString::number(step.number));
        if (index >= 0 && index != versions->currentIndex()) {
            versions->setCurrentIndex(index);
            changed = true;
        }
        for (const auto& [name, value] : {std::pair{"edUserName", step.user}, std::pair{"edUserPass", step.password}}) {
            auto* edit = w.findChild<QLineEdit*>(QLatin1String(name));
            if (edit->text() != value) {
                edit->setText(value);
                changed = true;
            }
        }
        const int server = step.field == QLatin1String("A") ? 0 : step.field == QLatin1String("B") ? 1 : 2;
        auto* serverName = w.findChild<QLineEdit*>(QStringLiteral("ServerName"));
        if (serverName->text() != m_world.serverName(server) || changed) {
            serverName->setText(m_world.serverName(server));
            changed = true;
        }
        if (changed) {
            m_model.settingsChangedSinceList = true;
            m_model.settingsChangedSinceCombo = true;
        }
        break;
    }
    case Act::Page: {
        auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        if (!pages->isVisible() || pages->currentIndex() == step.number)
            break;
        QTabBar* bar = pages->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(step.number).center());
        if (step.number == 1 || step.number == 3)
            listFilled(step.number == 1);
        break;
    }
    case Act::Type:
        if (onCurrentPage(step.field))
            w.findChild<QLineEdit*>(step.field)->setText(m_world.resolve(step.text));
        break;
    case Act::Pick: {
        auto* button = w.findChild<QAbstractButton*>(step.field);
        if (!onCurrentPage(step.field) || !button->isEnabled())
            break;
        // The system's dialogs choose only what exists (the save dialog any name in a folder).
        const QString path = m_world.resolve(step.text);
        const bool folder = step.field == QLatin1String("SpeedButton1") || step.field == QLatin1String("SpeedButton4");
        const bool save = step.field == QLatin1String("SpeedButton6");
        auto choosable = [&](const QString& seen) {
            return !path.isEmpty() && (folder ? QFileInfo(seen).isDir()
                                       : save ? QFileInfo(QFileInfo(seen).path()).isDir()
                                              : QFileInfo(seen).isFile());
        };
        m_pick = choosable(path) ? std::optional<QString>(path) : std::nullopt;
        // The server's own dialog lists what the server sees: in its own root, its own paths.
        const QString serverSees = m_world.hostPath(0, path);
        m_serverPick = choosable(serverSees) ? std::optional<QString>(path) : std::nullopt;
        button->click();
        m_pick.reset();
        m_serverPick.reset();
        break;
    }
    case Act::Select:
        if (!onCurrentPage(step.field))
            break;
        if (step.field == QLatin1String("cbDataBase1")) {
            auto* combo = w.findChild<QComboBox*>(step.field);
            combo->setCurrentIndex(combo->findText(step.text));
        } else {
            auto* view = w.findChild<QListView*>(step.field);
            for (int row = 0; row < view->model()->rowCount(); ++row)
                if (view->model()->index(row, 0).data().toString() == step.text)
                    view->selectionModel()->setCurrentIndex(view->model()->index(row, 0),
                                                            QItemSelectionModel::ClearAndSelect);
        }
        break;
    case Act::Press:
        press(step, record);
        if (record.asked.op == Op::Detach || record.asked.op == Op::Delete)
            listFilled(true);
        break;
    case Act::CloseWindow:
        w.close();
        break;
    default:
        break;
    }
}

bool Session::reachesOutsideWorld(const Asked& asked) const {
    if (asked.server != 0 && asked.server != 1)
        return false; // nobody listens there: nothing is written anywhere
    if (asked.server == 0 && m_world.variant() == Variant::Rooted)
        return false; // its paths were mapped into its own root by hostPath
    for (const QString& path : {asked.mdf, asked.ldf, asked.bak})
        if (path.startsWith(QLatin1Char('/')) && !m_world.insideWorld(path))
            return true;
    return false;
}

void Session::press(const Step& step, StepRecord& record) {
    auto* button = m_window->findChild<QAbstractButton*>(step.field);
    if (!onCurrentPage(step.field) || !button->isEnabled())
        return;
    record.asked = m_model.ask(step.field, *m_window, m_world);
    // A path picked in rooted server A's own file system ("/k2.bak") stays in its field when the
    // user turns to server B, which shares this computer's file system: the press would have B
    // write into this machine's own root. The program does what the user named there; the
    // explorer never names such a place, so the press is left out.
    if (reachesOutsideWorld(record.asked)) {
        record.asked = {};
        return;
    }
    record.refused = m_model.refusedByServer(record.asked, m_world);
    switch (record.asked.op) {
    case Op::Attach: ++m_counts.attach; break;
    case Op::Detach: ++m_counts.detach; break;
    case Op::Delete: ++m_counts.remove; break;
    case Op::Restore: ++m_counts.restore; break;
    case Op::Backup: ++m_counts.backup; break;
    case Op::None: break;
    }
    if (step.cancelAtMs >= 0)
        modal::setProgressWatcher([this, ms = step.cancelAtMs, close = step.closeDuring](ProgressDialog& d) {
            QPointer<ProgressDialog> dialog = &d;
            QTimer::singleShot(ms, &d, [this, dialog, close] {
                if (!dialog || !longop::isRunning())
                    return;
                ++m_counts.cancel;
                if (close)
                    m_window->close();
                else
                    dialog->cancelButton()->click();
            });
        });
    button->click();
    modal::setProgressWatcher(nullptr);
    QStringList confirmed;
    if (step.yes)
        for (const modal::Request& r : m_dialogs)
            if (r.type == DialogType::Confirmation)
                confirmed << r.text;
    record.permit = m_model.permit(record.asked, record.before, confirmed);
    // An attach the user let go from copies of the files (the server could not read them, or would
    // have upgraded them): the database is where the success message says it was attached from.
    if (record.asked.op == Op::Attach && !confirmed.isEmpty()) {
        static const QRegularExpression attachedFrom(QStringLiteral("успішно приєднана із файлу ([^\\n]+)"));
        for (const modal::Request& r : m_dialogs) {
            const QRegularExpressionMatch m = attachedFrom.match(r.text);
            if (m.hasMatch() && r.text.contains(QStringLiteral("Приєднано копію файлів")))
                record.asked.mdf = m_world.hostPath(record.asked.server, m.captured(1));
        }
    }
    // A restore the user let go to other folders than the page's (the server's own, offered for a
    // folder it cannot create files in): the files the question named, and further files beside them.
    if (record.asked.op == Op::Restore) {
        // A backup may record its files' names in capitals (Sales.MDF), and the offer keeps them.
        static const QRegularExpression named(QStringLiteral("(/\\S+\\.(?:mdf|ldf|ndf))(?=\\s|$)"),
                                              QRegularExpression::CaseInsensitiveOption);
        for (const QString& t : confirmed) {
            if (!t.contains(QStringLiteral("у власному каталозі сервера")))
                continue;
            for (auto it = named.globalMatch(t); it.hasNext();) {
                const QString file = m_world.hostPath(record.asked.server, it.next().captured(1));
                record.permit.files << file;
                record.permit.newFilesIn << folderOf(file);
                // What the user agreed to is where the restore now goes.
                (file.endsWith(QLatin1String(".ldf"), Qt::CaseInsensitive) ? record.asked.ldf : record.asked.mdf) = file;
            }
        }
    }
}

void Session::performWorld(const Step& step) {
    const QString path = m_world.resolve(step.text);
    switch (step.act) {
    case Act::Restart:
        m_world.restartA(path.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        break;
    case Act::Cut:
        m_world.cutConnections();
        break;
    case Act::Stop:
        m_world.pauseA(step.number, qMax(0, step.cancelAtMs));
        break;
    case Act::Hold:
        m_world.hold(step.number, step.field);
        break;
    case Act::BehindDetach:
        m_world.run(step.number, QStringLiteral("EXEC sp_detach_db %1, 'true'").arg(sqlquote::literal(step.field)));
        break;
    case Act::BehindDrop:
        m_world.run(step.number, QStringLiteral("DROP DATABASE %1").arg(sqlquote::name(step.field)));
        break;
    case Act::ChangeBak:
        if (step.number == 0) {
            m_world.run(0, QStringLiteral("BACKUP DATABASE %1 TO DISK = %2")
                               .arg(sqlquote::name(step.field), sqlquote::literal(path)));
        } else {
            QFile::remove(path);
            QFile::copy(m_world.resolve(step.field), path);
        }
        break;
    case Act::Junk: {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(QByteArray(2048, char('J' + step.number % 8)));
        break;
    }
    default:
        break;
    }
}

} // namespace explore
