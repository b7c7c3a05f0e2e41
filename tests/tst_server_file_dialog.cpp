// The server's own files in a dialog: what it lists, where it starts, the keyboard, and that a path
// chosen or typed comes back exactly as the server spells it (Linux and Windows servers).
#include "DbError.h"
#include "ModalSeam.h"
#include "ServerFileDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QPushButton>
#include <QTest>

namespace {

using serverfiles::Entry;

// A server's folders as xp_dirtree would list them; a folder not in the map fails as the server
// would refuse it.
serverfiles::Lister fakeServer(QMap<QString, QList<Entry>> folders, QStringList* asked = nullptr) {
    return [folders, asked](const QString& folder) {
        if (asked)
            *asked << folder;
        if (!folders.contains(folder))
            throw DbError(QStringLiteral("The system cannot find the path specified."));
        return folders.value(folder);
    };
}

QStringList shown(const ServerFileDialog& dialog) {
    QStringList out;
    for (int i = 0; i < dialog.entries()->count(); ++i)
        out << dialog.entries()->item(i)->text();
    return out;
}

const QMap<QString, QList<Entry>> kLinux{
    {QStringLiteral("/var/opt/mssql"), {{QStringLiteral("data"), true}, {QStringLiteral("log"), true}}},
    {QStringLiteral("/var/opt/mssql/data"),
     {{QStringLiteral("backup"), true},
      {QStringLiteral("VTR.mdf"), false},
      {QStringLiteral("VTR_log.ldf"), false},
      {QStringLiteral("notes.txt"), false},
      {QStringLiteral("Облік.MDF"), false}}},
    {QStringLiteral("/var/opt/mssql/data/backup"), {{QStringLiteral("VTR.bak"), false}}},
};

} // namespace

class TestServerFileDialog : public QObject {
    Q_OBJECT
private slots:
    void pathsAsTheServerSpellsThem_data();
    void pathsAsTheServerSpellsThem();
    void testsAnswerThroughTheSeam();
    void keyboardOpensGoesUpAndChooses();
    void aFolderIsChosenAndAFailureShownInPlace();
};

void TestServerFileDialog::pathsAsTheServerSpellsThem_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("child");
    QTest::addColumn<QString>("parent");
    QTest::newRow("linux") << "/var/opt/mssql/data"
                           << "/var/opt/mssql/data/VTR.mdf"
                           << "/var/opt/mssql";
    QTest::newRow("linux root") << "/"
                                << "/VTR.mdf"
                                << "/";
    QTest::newRow("linux trailing slash") << "/var/opt/mssql/"
                                          << "/var/opt/mssql/VTR.mdf"
                                          << "/var/opt";
    QTest::newRow("windows") << "C:\\Program Files\\MSSQL\\DATA"
                             << "C:\\Program Files\\MSSQL\\DATA\\VTR.mdf"
                             << "C:\\Program Files\\MSSQL";
    QTest::newRow("windows drive") << "D:\\Backup"
                                   << "D:\\Backup\\VTR.mdf"
                                   << "D:\\";
    QTest::newRow("windows root") << "D:\\"
                                  << "D:\\VTR.mdf"
                                  << "D:\\";
}

void TestServerFileDialog::pathsAsTheServerSpellsThem() {
    QFETCH(QString, folder);
    QFETCH(QString, child);
    QFETCH(QString, parent);
    QCOMPARE(serverfiles::joined(folder, QStringLiteral("VTR.mdf")), child);
    QCOMPARE(serverfiles::parentOf(folder), parent);
}

void TestServerFileDialog::testsAnswerThroughTheSeam() {
    QList<modal::Request> seen;
    modal::setResponder([&](const modal::Request& r) {
        seen << r;
        modal::Answer a;
        a.path = QStringLiteral("C:\\Дані\\VTR.bak");
        return a;
    });
    const std::optional<QString> chosen =
        serverfiles::pick(modal::Kind::ServerFile, QStringLiteral("Резервна копія на сервері"),
                          {QStringLiteral("bak")}, QStringLiteral("C:\\Backup"), fakeServer({}));
    modal::setResponder(nullptr);
    QCOMPARE(chosen, std::optional<QString>(QStringLiteral("C:\\Дані\\VTR.bak")));
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].kind, modal::Kind::ServerFile);
    QCOMPARE(seen[0].caption, QStringLiteral("Резервна копія на сервері"));
    QCOMPARE(seen[0].directory, QStringLiteral("C:\\Backup"));
    QCOMPARE(seen[0].filter, QStringLiteral("bak"));

    // It opens at the folder of the field's path where the server has it.
    const auto has = [](const QString& folder) { return kLinux.contains(folder) || folder == "C:\\Backup"; };
    QCOMPARE(serverfiles::startIn(QStringLiteral("/var/opt/mssql/data/backup/VTR.bak"), "/d", has),
             QStringLiteral("/var/opt/mssql/data/backup"));
    QCOMPARE(serverfiles::startIn(QStringLiteral("C:\\Backup\\W.bak"), "/d", has), QStringLiteral("C:\\Backup"));
    QCOMPARE(serverfiles::startIn(QStringLiteral("/home/ivan/VTR.bak"), "/d", has), QStringLiteral("/d"));
    QCOMPARE(serverfiles::startIn(QString(), "/d", has), QStringLiteral("/d"));
}

void TestServerFileDialog::keyboardOpensGoesUpAndChooses() {
    QStringList asked;
    ServerFileDialog dialog(modal::Kind::ServerFile, QStringLiteral("Файл даних на сервері"),
                            {QStringLiteral("mdf")}, QStringLiteral("/var/opt/mssql/data"),
                            fakeServer(kLinux, &asked));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Folders first, then the files of the kind asked for, in either letter case.
    QCOMPARE(shown(dialog),
             (QStringList{QStringLiteral("backup"), QStringLiteral("VTR.mdf"), QStringLiteral("Облік.MDF")}));
    QCOMPARE(dialog.pathField()->text(), QStringLiteral("/var/opt/mssql/data"));

    QTest::keyClick(dialog.entries(), Qt::Key_Backspace);
    QCOMPARE(dialog.folder(), QStringLiteral("/var/opt/mssql"));
    QCOMPARE(shown(dialog), (QStringList{QStringLiteral("data"), QStringLiteral("log")}));
    QTest::keyClick(dialog.entries(), Qt::Key_Return); // "data" is the current one
    QCOMPARE(dialog.folder(), QStringLiteral("/var/opt/mssql/data"));
    QVERIFY(dialog.isVisible());

    dialog.entries()->setFocus();
    QTest::keyClick(dialog.entries(), Qt::Key_Down); // nothing was current: the first entry
    QTest::keyClick(dialog.entries(), Qt::Key_Down);
    QTest::keyClick(dialog.entries(), Qt::Key_Down);
    QTest::keyClick(dialog.entries(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.chosenPath(), QStringLiteral("/var/opt/mssql/data/Облік.MDF"));
    QCOMPARE(asked, (QStringList{QStringLiteral("/var/opt/mssql/data"), QStringLiteral("/var/opt/mssql"),
                                 QStringLiteral("/var/opt/mssql/data")}));

    // A path typed in the field comes back as typed, never looked up here.
    ServerFileDialog typed(modal::Kind::ServerFile, QStringLiteral("Файл даних на сервері"),
                           {QStringLiteral("mdf")}, QStringLiteral("/var/opt/mssql/data"),
                           fakeServer(kLinux));
    typed.show();
    typed.pathField()->setText(QStringLiteral("/srv/Копії/VTR.mdf"));
    QTest::keyClick(typed.pathField(), Qt::Key_Return);
    QCOMPARE(typed.result(), int(QDialog::Accepted));
    QCOMPARE(typed.chosenPath(), QStringLiteral("/srv/Копії/VTR.mdf"));

    // A bare name (a new backup's, say) is a file in the folder on show.
    ServerFileDialog named(modal::Kind::ServerFile, QStringLiteral("Резервна копія на сервері"),
                           {QStringLiteral("bak")}, QStringLiteral("/var/opt/mssql/data"),
                           fakeServer(kLinux));
    named.show();
    named.pathField()->setText(QStringLiteral("Нова.bak"));
    QTest::keyClick(named.pathField(), Qt::Key_Return);
    QCOMPARE(named.chosenPath(), QStringLiteral("/var/opt/mssql/data/Нова.bak"));

    // Opened on a folder of backups, nothing is chosen for the user: the button alone does
    // nothing; a name typed there (its extension left out) and the button choose it, as Enter does.
    ServerFileDialog save(modal::Kind::ServerFile, QStringLiteral("Резервна копія на сервері"),
                          {QStringLiteral("bak")}, QStringLiteral("/var/opt/mssql/data/backup"),
                          fakeServer(kLinux));
    save.show();
    QVERIFY(save.entries()->selectedItems().isEmpty());
    auto* button = save.findChild<QPushButton*>(QStringLiteral("ChooseButton"));
    button->click();
    QVERIFY(save.isVisible());
    save.pathField()->setText(QStringLiteral("Нова"));
    button->click();
    QCOMPARE(save.result(), int(QDialog::Accepted));
    QCOMPARE(save.chosenPath(), QStringLiteral("/var/opt/mssql/data/backup/Нова.bak"));
}

void TestServerFileDialog::aFolderIsChosenAndAFailureShownInPlace() {
    ServerFileDialog dialog(modal::Kind::ServerFolder, QStringLiteral("Тека на сервері"), {},
                            QStringLiteral("/var/opt/mssql/data"), fakeServer(kLinux));
    dialog.show();
    QCOMPARE(shown(dialog), QStringList{QStringLiteral("backup")}); // only folders
    auto* problem = dialog.findChild<QLabel*>(QStringLiteral("Problem"));
    QVERIFY(!problem->isVisible());

    // A folder the server refuses: said in the dialog, which stays where it was.
    dialog.pathField()->setText(QStringLiteral("/home/user"));
    QTest::keyClick(dialog.pathField(), Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QVERIFY(problem->isVisible());
    QVERIFY(problem->text().contains(QStringLiteral("/home/user")));
    QCOMPARE(dialog.folder(), QStringLiteral("/var/opt/mssql/data"));

    dialog.entries()->clearSelection();
    dialog.findChild<QPushButton*>(QStringLiteral("ChooseButton"))->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.chosenPath(), QStringLiteral("/var/opt/mssql/data"));
}

QTEST_MAIN(TestServerFileDialog)
#include "tst_server_file_dialog.moc"
