// The main window: connection settings on the left, one page per task on the right.
#pragma once

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "AttachOperation.h"
#include "DatabaseOperations.h"
#include "OperationPlan.h"
#include "RestoreChecks.h"
#include "RestorePlan.h"
#include "RoundTripWait.h"

#include <QHash>
#include <QProxyStyle>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class RestoreReadGrant;

namespace Ui {
class TMain;
}
class QComboBox;
class DatabaseNamesModel;
class QLineEdit;
class SharedCopy;

// The one open-file dialog the attach and restore pages share: after a choice the working
// directory is the chosen file's folder. It never offers a file of another kind: it opens in the
// folder of the path in the field the choice goes into (else the last folder used, else the working
// directory), with that file selected only when the filter shows it, and each kind of file (by its
// default extension) keeps its own filter entry.
struct SharedOpenDialog {
    QString lastFolder;
    QHash<QString, int> filterIndexes;
    // fieldPath: the text of the field the choice goes into. Empty when the user cancelled.
    QString execute(const QString& defaultExtension, const QString& filter, const QString& fieldPath);
};

// The password edit shows "*" for each character, whatever the platform's style would show.
class PasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

class TMain : public QWidget {
    Q_OBJECT
public:
    explicit TMain(QWidget* parent = nullptr);
    ~TMain() override;

    // Connection (left panel)
    bool ConnectToServer(bool ShowSuccess);
    void Disconnect();
    QString GetComputerNameText() const;
    // The picture on the connect button.
    enum class Status { Connected = 0, Failed = 1, Disconnected = 2, Connecting = 3 };
    Status status() const { return m_status; }
    // The same as the number statusImageChanged() carries.
    int statusImage() const { return int(m_status); }

    // Attach page
    bool AttachDatabase(const QString& Name, const QString& MdfPath, const QString& LdfPath);
    bool DatabaseExists(const QString& Name);

    // Database list page
    void FillDatabaseList();
    void FillDatabaseCombo(QComboBox* Target);

    // Restore page
    bool RestoreDatabase(const QString& Name, const QString& BakPath, const QString& MdfPath,
                         const QString& LdfPath);
    const QString& logicalDataName() const { return FLogicalDataName; }
    const QString& logicalLogName() const { return FLogicalLogName; }
    const QList<restoreplan::BackupFile>& backupFiles() const { return FBackupFiles; }

    AdoConnection& connection() { return *ADOConnection; }
    AdoQuery& query() { return *ADOQuery1; }
    Ui::TMain* form() const { return ui.get(); }

signals:
    // The status picture changed: index is a Status value as a number. Always on this window's thread.
    void statusImageChanged(int index);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void FormClose();
    void PageControl1Change();
    void selectPageFromCode(int index);
    void setStatusImage(Status status);
    // Opens the connection when it is closed; a failure is reported to the user there and then.
    void connectIfClosed();
    // The same for steps that need the server: false when the connection is still closed afterwards.
    bool connectedOrConnect();
    // Makes master the statement's database ("USE master"), the query closed before and after.
    void useMaster();
    // Whether the server is SQL Server 2000, as it says itself once connected: the version list
    // only chooses the protocol, and a 2000 server answers a newer one too. The list's choice
    // while the connection is closed.
    bool serverIs2000() const;
    void connectHandlers();
    void applyFonts();
    // The buttons' images are set here rather than in the layout file: see Images.h.
    void applyImages();

    void ToolButton1Click();
    void cbSQLServersChange();
    void ServerNameChange();
    // After a change of a connection setting nothing listed from the old server can be acted on.
    void forgetServerLists();

    // `paths` are the files the statement names, the data file first: the access-denied message
    // names the one the server was refused (the data file when the server named none).
    void reportFileFailure(const DbError& error, const QString& cannotText, const QStringList& paths,
                           const QString& afterword = {});
    // The paths of a database's files as the server keeps them, the primary data file first.
    enum class FileKinds { All, LogOnly };
    QStringList databaseFiles(const QString& Name, FileKinds kinds = FileKinds::All);

    void SpeedButton2Click();
    void SpeedButton3Click();
    void BitBtn1Click();
    // The attach of copies in a folder both this computer and the server use (the folder made
    // now: the plan names the copies' paths): a whole plan, or none and the words why in `problem`.
    std::optional<ops::Plan> planAttachCopies(const ops::attach::Planned& planned, const QString& ldf,
                                              const OperationPlan& reach, QString& problem);
    // Makes the plan's copies, each written in the journal first (its id added to `journalled`):
    // false when the user was told why (nothing sent). Further data files the copied primary names
    // are asked about and added, the plan then shown again before anything is sent.
    bool makeAttachCopies(ops::Plan& plan, const ops::attach::Planned& planned,
                          std::vector<std::unique_ptr<SharedCopy>>& copies, QStringList& journalled);

    void openDatabaseListPage();
    void fillDatabaseItems(QComboBox* combo, DatabaseNamesModel* list);
    QString selectedDatabase(bool* any = nullptr) const;
    void ListDataBasesClick();
    // Whether the server finds both names to be one database (its collation compares).
    bool sameDatabase(const QString& a, const QString& b);
    void BitBtn2Click();
    void BitBtn4Click();
    // The chosen database's users and owner, as after a restore or attach (ArrivedOffer.h).
    void BitBtn6Click();
    // Asks the server who else is inside the plan's database; when anyone is, the plan's question
    // names them and offers to put them out (verb: what is then done to the database), and its
    // statements begin with the one that does. A server that will not say changes nothing.
    void askWhoElseIsInside(OperationPlan& plan, const QString& verb);
    // Runs the operation (false or a throw: it did not happen) after putting the others out when the
    // plan says so (the single-user setting written to the journal first); when it did not happen,
    // everyone is let in again.
    bool runPuttingOthersOut(const OperationPlan& plan, const std::function<bool()>& operation);
    // The window's connection as the server operations plan against.
    ops::Server server();
    // After a connect: a database an earlier operation left single-user on this server (the
    // journal says so) is asked about, and the user is offered to open it to everybody.
    void offerToOpenWhatWasLeft();
    // At start: what an ended run left on this computer (grants, copies, shared folders) and could
    // not take back, named for the user; a database left single-user waits for the next connect.
    void tellWhatEarlierRunsLeft();

    void openRestorePage();
    void SpeedButton5Click();
    void SpeedButton1Click();
    void SpeedButton4Click();
    void BitBtn3Click();
    // Reads the backup file's header and chooses the set to restore.
    restoreplan::ChosenSet backupSetOf(const QString& BakPath);
    // Reads the file list of the backup the path field names, as choosing it does.
    void readBackupFileList();
    QString removeHalfRestored(const QString& Name, bool replacing);
    // The server's own default folders for a restore's files where it cannot create them in the
    // chosen ones: the paths of the alternative plan the user is offered; none when it has none.
    std::optional<std::pair<QString, QString>> serverFoldersFor(OperationPlan& plan, serverfiles::ServerFiles& files,
                                                                 const QString& MdfPath, const QString& LdfPath);
    // The restore page's folder choice: this computer's folders, or the server's own when it does
    // not see this computer; and a file name joined to a folder in that folder's path syntax.
    std::optional<QString> pickRestoreFolder(const QString& text, const QString& path);
    QString inRestoreFolder(const QString& folder, const QString& fileName) const;
    // The question asked before a database is replaced: whether the backup is of that database.
    QString replacingQuestion(const QString& Name, const restoreplan::ChosenSet& set);
    // Every file the restore creates, with its size from the backup's list.
    QList<restorechecks::Target> restoreTargets(const QString& MdfPath, const QString& LdfPath,
                                                const QList<restoreplan::Move>& further,
                                                const QStringList& replacedFiles) const;
    void edPathBAKChange();
    void forgetBackupFileList();
    // The read grant the file list's or the restore's remedy plan offers where the server cannot
    // read the backup: asked, written in the journal, made, and held in `grant` for the operation.
    bool readGrantIfRefused(OperationPlan& reach, serverfiles::ServerFiles& files, const ops::Plan& remedy,
                            std::shared_ptr<RestoreReadGrant>& grant);
    // Every database file the server lists, to its database (restoreplan::listedKey); empty when the
    // server will not say.
    QHash<QString, QString> listedDatabaseFiles();
    // Puts into the path fields what the page proposes from `mdf` and `ldf` (the backup's recorded
    // paths, or the chosen folder's): never a file the server lists for another database. A new name
    // changes what is proposed while the fields hold the page's proposal.
    void propose(const QString& mdf, const QString& ldf);
    void Edit1Change();
    // The files the restore writes and, among them, the ones that are somebody else's (`lies`:
    // whether the server finds a file at a path).
    void fillRestorePlan(OperationPlan& plan, const QString& MdfPath, const QString& LdfPath,
                         const QList<restoreplan::Move>& further, bool replacing, const QStringList& replacedFiles,
                         const std::function<bool(const QString&)>& lies) const;
    // False when the server cannot reach a path of the plan (the user is told, or offered the
    // plan's remedy), or when the plan asks about something and the answer is not Yes.
    bool confirmPlan(OperationPlan& plan);
    // The server's own view of its files, asked on the window's statement object.
    serverfiles::ServerFiles serverFiles();
    // Whether the server finds a file this computer has just made (true also when the server would
    // not say or no connection is open): false for a container or another machine.
    bool serverSeesThisComputer();
    // A file of the server's own, chosen in the dialog that lists the server's folders, opened at
    // the folder of `current` (the field's path) when the server has it; empty when none was chosen.
    QString pickServerFile(const QString& title, const QStringList& extensions, const QString& current = QString());
    // A plan of that kind for the server the fields name.
    OperationPlan newPlan(OperationPlan::Kind kind, const QString& database) const;
    // Asks the server about the plan's files; a server that cannot be asked leaves them unknown.
    void askServerAbout(OperationPlan& plan, serverfiles::ServerFiles& files);
    // After a remedy changed the plan's paths (a grant, a copy, another folder): relied on only once
    // the server says it reaches them; otherwise the user is told and the remedy is dropped.
    bool serverReachesAfterRemedy(OperationPlan& plan, serverfiles::ServerFiles& files);
    // A statement that changed nothing was answered with operating-system error 5 for one of
    // `paths`: while the returned object lives, that path is refused when planned again, so that
    // the handler, run once more, makes the same offer the checks make. Nothing when the error is
    // not error 5, the path was refused so already (no second round), or the server's account is
    // not another one known here (no offer would follow).
    std::shared_ptr<void> deniedByServer(const DbError& error, const QStringList& paths);
    // Whether there is a file at path as the server sees it; this computer's view where the server
    // would not say.
    bool fileSeen(serverfiles::ServerFiles& files, const QString& path);
    // The restore page's proposed paths moved to the server's default folders when the backup's
    // are not paths of the server's system; the line under the fields says so.
    void proposeServerFolders();

    void openBackupPage();
    void SpeedButton6Click();
    void edSavePathBAKChange();
    void cbDataBase1Change();
    void BitBtn5Click();
    // Runs the confirmed backup plan, moves a shared folder's copy to the chosen path, tells how it went.
    void runBackup(const ops::Plan& plan, const QString& name, const QString& path);

    std::unique_ptr<Ui::TMain> ui;
    // Shared: a round trip the window stopped waiting for keeps it until the server has answered.
    std::shared_ptr<AdoConnection> ADOConnection;
    std::unique_ptr<AdoQuery> ADOQuery1;
    std::unique_ptr<RoundTripWait> m_roundTripWait;
    SharedOpenDialog OpenDialog1;
    DatabaseNamesModel* m_databaseNames = nullptr; // what ListDataBases shows
    QString FLogicalDataName;
    QString FLogicalLogName;
    // The whole file list the logical names came from, and the set of the backup file it belongs
    // to: position 0 when the file holds a single set (the statements then name none).
    QList<restoreplan::BackupFile> FBackupFiles;
    restoreplan::ChosenSet FBackupSet;
    // What the path fields were proposed from, what they were given, and the server's files then.
    QString FProposedFromMdf, FProposedFromLdf, FProposedMdf, FProposedLdf;
    QHash<QString, QString> FListedFiles;
    Status m_status = Status::Disconnected;
    bool m_shown = false;
    bool m_pageChangeFromCode = false;
    bool m_connectedOnce = false;
    bool m_listsForgotten = false; // a connection setting changed since the lists were filled
    // The attach's copies go to the server's own data folder (each given the server's account by an
    // ACL entry) rather than a shared folder; the account's uid.
    bool m_copiesInDataFolder = false;
    qint64 m_copiesFor = -1;
    QStringList m_deniedByServer;  // see deniedByServer
};
