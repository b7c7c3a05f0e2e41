#include "FMain.h"

#include "ButtonTabsStyle.h"
#include "ConnectWait.h"
#include "ConnectionSettings.h"
#include "DatabaseNamesModel.h"
#include "EnterPresses.h"
#include "ErrorAdvice.h"
#include "HandlerGuard.h"
#include "Images.h"
#include "LeftForServer.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationRun.h"
#include "ServerWait.h"
#include "Version.h"
#include "WindowPlacement.h"
#include "ui_FMain.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>
#include <QTabBar>

namespace {
const QSize kClientSize(852, 419);
const int kPanelWidth = 212;

// Indexed by TMain::Status.
const char* const kStatusImages[4] = {"status-connected", "status-failed", "status-disconnected",
                                      "status-connecting"};

// The wanted family when it is installed, else the system's sans serif. Asking the font database
// first spares the costly fallback search for a family that is not there. The installed families
// are read from the list the font database builds anyway: asking it family by family would have
// fontconfig resolve each name as an alias, which costs more than the rest of the lookup.
QFont fontOrFallback(const QString& family, int pixelSize, bool bold) {
    static QHash<QString, QString> chosen;
    auto it = chosen.find(family);
    if (it == chosen.end()) {
        static const QStringList installed = QFontDatabase::families();
        it = chosen.insert(family, installed.contains(family, Qt::CaseInsensitive)
                                       ? family
                                       : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    }
    QFont font(*it);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
} // namespace

int PasswordStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    if (hint == QStyle::SH_LineEdit_PasswordCharacter)
        return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

namespace {
// Whether the filter entry (1-based, in "description|pattern;pattern|..." form) shows the file.
bool filterShows(const QString& filter, int index, const QString& fileName) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    const qsizetype pattern = 2 * qsizetype(index) - 1;
    return pattern > 0 && pattern < parts.size() &&
           QDir::match(parts[pattern].split(QLatin1Char(';'), Qt::SkipEmptyParts), fileName);
}
} // namespace

QString SharedOpenDialog::execute(const QString& defaultExtension, const QString& filter,
                                  const QString& fieldPath) {
    modal::Request request;
    request.kind = modal::Kind::OpenFile;
    request.caption = QStringLiteral("Вибір бази даних");
    request.defaultExtension = defaultExtension;
    request.filter = filter;
    request.filterIndex = filterIndexes.value(defaultExtension, 1);
    const QFileInfo field(fieldPath);
    if (!fieldPath.isEmpty() && field.dir().exists())
        request.directory = field.absolutePath();
    else if (!lastFolder.isEmpty() && QDir(lastFolder).exists())
        request.directory = lastFolder;
    else
        request.directory = QStringLiteral(".");
    if (field.isFile() && filterShows(filter, request.filterIndex, field.fileName()))
        request.selectedFile = field.absoluteFilePath();
    const modal::Answer answer = modal::pickFile(request);
    if (!answer.path || answer.path->isEmpty())
        return {};
    filterIndexes.insert(defaultExtension, answer.filterIndex);
    lastFolder = QFileInfo(*answer.path).absolutePath();
    // The next dialog and the "*.ldf" search start from the chosen file's folder.
    QDir::setCurrent(lastFolder);
    return *answer.path;
}

static void registerImages() {
    // The images live in a static library: their registration must be pulled in by hand.
    Q_INIT_RESOURCE(images);
    Q_INIT_RESOURCE(images2x);
}

void TMain::applyImages() {
    const QIcon folder = zelvaroIcon("folder-open");
    for (QAbstractButton* browse : {ui->SpeedButton1, ui->SpeedButton2, ui->SpeedButton3, ui->SpeedButton4,
                                    ui->SpeedButton5, ui->SpeedButton6})
        browse->setIcon(folder);
    ui->BitBtn1->setIcon(zelvaroIcon("attach"));
    ui->BitBtn2->setIcon(zelvaroIcon("detach"));
    ui->BitBtn3->setIcon(zelvaroIcon("restore"));
    ui->BitBtn4->setIcon(zelvaroIcon("delete"));
    ui->BitBtn5->setIcon(zelvaroIcon("backup"));
    setStatusImage(Status::Disconnected);
}

TMain::TMain(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TMain>()) {
    registerImages();
    // Without the database client there is nothing to administer: the caller reports and ends.
    serverwait::reopen();
    ADOConnection = std::make_shared<AdoConnection>();
    ADOQuery1 = std::make_unique<AdoQuery>(*ADOConnection, QStringLiteral("ADOQuery1"));
    // Every round trip this window's thread starts waits on a worker, the window alive meanwhile.
    m_roundTripWait = std::make_unique<RoundTripWait>(this, [this] { return ui->ServerName->text(); });
    // The status image follows the connection also where no handler of ours closes or opens it: a
    // statement that finds the link gone closes it (grey: the big button connects again), and one
    // that opens it by itself succeeded in connecting (green). A long operation's worker thread
    // notices that too: the picture is then changed on this window's thread, queued.
    ADOConnection->setOpenStateListener([this](bool open) {
        QMetaObject::invokeMethod(
            this, [this, open] { setStatusImage(open ? Status::Connected : Status::Disconnected); },
            Qt::AutoConnection);
    });

    // The window's font is set before its controls exist, so they are laid out once, in it.
    setFont(fontOrFallback(QStringLiteral("MS Sans Serif"), 11, false));
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Zelvaro " ZELVARO_VERSION));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    auto* buttonTabs = new ButtonTabsStyle; // owned by the tab bar, and gone with it
    buttonTabs->setParent(ui->PageControl1->tabBar());
    ui->PageControl1->tabBar()->setStyle(buttonTabs);
    ui->PageControl1->setDocumentMode(true);
    auto* passwordStyle = new PasswordStyle; // owned by the edit, and gone with it
    passwordStyle->setParent(ui->edUserPass);
    ui->edUserPass->setStyle(passwordStyle);
    ui->PageControl1->tabBar()->setExpanding(false);
    // The database list keeps its names in one buffer: thousands of names fill it in no time.
    m_databaseNames = new DatabaseNamesModel(this);
    ui->ListDataBases->setModel(m_databaseNames);
    ui->ListDataBases->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->ListDataBases->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->ListDataBases->setUniformItemSizes(true);
    applyFonts();
    setFixedSize(kClientSize);
    // Its fixed place where the screen has room for it there; moved onto the screen where not (a
    // 1280-pixel screen would lose its right 160 pixels).
    const QPoint fixedPlace(584, 254);
    const QScreen* screen = QGuiApplication::screenAt(fixedPlace);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    move(screen
             ? placement::keptOnScreen(QRect(fixedPlace, frameGeometry().size()), screen->availableGeometry())
             : fixedPlace);
    applyImages();
    ui->ToolButton1->setToolTip(QString());
    for (QWidget* page : {ui->TabSheet1, ui->TabSheet2, ui->TabSheet3, ui->TabSheet4})
        page->installEventFilter(this);
    for (QWidget* wheelGuarded :
         {static_cast<QWidget*>(ui->PageControl1->tabBar()), static_cast<QWidget*>(ui->cbSQLServers),
          static_cast<QWidget*>(ui->cbDataBase1)})
        wheelGuarded->installEventFilter(this);
    // Qt gives a control with wheel focus the focus before any event filter sees the wheel: these
    // lists take focus by click and keyboard only, so that the filter finds them without it.
    ui->cbSQLServers->setFocusPolicy(Qt::StrongFocus);
    ui->cbDataBase1->setFocusPolicy(Qt::StrongFocus);
    // In the window the page control (its tab row, then the open page) comes before the left panel.
    // Chained from the tab row itself: chained from the page control, Qt puts each next control after
    // the page control's last descendant, which moved the attach page's first field to its end.
    const QList<QWidget*> tabChain = {ui->PageControl1->tabBar(),
                                      ui->edPathMDF,
                                      ui->edPathLDF,
                                      ui->BitBtn1,
                                      ui->cbDatabase,
                                      ui->ListDataBases,
                                      ui->BitBtn2,
                                      ui->BitBtn4,
                                      ui->BitBtn6,
                                      ui->Edit1,
                                      ui->edPathMDF2,
                                      ui->edPathLDF2,
                                      ui->edPathBAK,
                                      ui->BitBtn3,
                                      ui->edSavePathBAK,
                                      ui->cbDataBase1,
                                      ui->BitBtn5,
                                      ui->cbSQLServers,
                                      ui->ServerName,
                                      ui->edUserName,
                                      ui->edUserPass,
                                      ui->ToolButton1};
    for (qsizetype i = 1; i < tabChain.size(); ++i)
        setTabOrder(tabChain[i - 1], tabChain[i]);
    // The folder buttons take no focus; should they ever, Enter presses them too.
    pressWithEnter({ui->ToolButton1, ui->BitBtn1, ui->BitBtn2, ui->BitBtn3, ui->BitBtn4, ui->BitBtn5,
                    ui->BitBtn6, ui->SpeedButton1, ui->SpeedButton2, ui->SpeedButton3, ui->SpeedButton4,
                    ui->SpeedButton5, ui->SpeedButton6});
    connectHandlers();
}

TMain::~TMain() {
    // The connection outlives the controls the listener touches.
    ADOConnection->setOpenStateListener(nullptr);
}

void TMain::applyFonts() {
    for (QLabel* bold :
         {ui->Label2, ui->Label3, ui->Label4, ui->Label5, ui->Label6, ui->Label9, ui->Label10, ui->Label16})
        bold->setFont(fontOrFallback(QStringLiteral("MS Sans Serif"), 11, true));
    ui->Label1->setFont(fontOrFallback(QStringLiteral("MV Boli"), 29, true));
    // Group boxes have bold captions; what they hold is written in the regular font.
    for (QGroupBox* box : {ui->GroupBox2, ui->GroupBox3, ui->GroupBox4, ui->GroupBox5}) {
        box->setFont(fontOrFallback(QStringLiteral("MS Sans Serif"), 11, true));
        for (QWidget* child : box->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            child->setFont(font());
    }
}

void TMain::connectHandlers() {
    auto run = [this](void (TMain::*handler)()) {
        return [this, handler] { guarded([&] { (this->*handler)(); }); };
    };

    connect(ui->ToolButton1, &QToolButton::clicked, this, run(&TMain::ToolButton1Click));
    connect(ui->cbSQLServers, &QComboBox::currentIndexChanged, this, run(&TMain::cbSQLServersChange));
    connect(ui->edUserName, &QLineEdit::textChanged, this, run(&TMain::cbSQLServersChange));
    connect(ui->edUserPass, &QLineEdit::textChanged, this, run(&TMain::cbSQLServersChange));
    connect(ui->ServerName, &QLineEdit::textChanged, this, run(&TMain::ServerNameChange));
    // Enter after the password connects (and never disconnects); no other field starts anything.
    connect(ui->edUserPass, &QLineEdit::returnPressed, this, [this] {
        if (!ADOConnection->isOpen() && ui->ToolButton1->isEnabled())
            ui->ToolButton1->click();
    });
    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (!m_pageChangeFromCode)
            guarded([&] { PageControl1Change(); });
    });

    connect(ui->SpeedButton2, &QToolButton::clicked, this, run(&TMain::SpeedButton2Click));
    connect(ui->SpeedButton3, &QToolButton::clicked, this, run(&TMain::SpeedButton3Click));
    connect(ui->BitBtn1, &QPushButton::clicked, this, run(&TMain::BitBtn1Click));

    connect(ui->ListDataBases->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            run(&TMain::ListDataBasesClick));
    connect(ui->BitBtn2, &QPushButton::clicked, this, run(&TMain::BitBtn2Click));
    connect(ui->BitBtn4, &QPushButton::clicked, this, run(&TMain::BitBtn4Click));
    connect(ui->BitBtn6, &QPushButton::clicked, this, run(&TMain::BitBtn6Click));

    connect(ui->SpeedButton5, &QToolButton::clicked, this, run(&TMain::SpeedButton5Click));
    connect(ui->SpeedButton1, &QToolButton::clicked, this, run(&TMain::SpeedButton1Click));
    connect(ui->SpeedButton4, &QToolButton::clicked, this, run(&TMain::SpeedButton4Click));
    connect(ui->BitBtn3, &QPushButton::clicked, this, run(&TMain::BitBtn3Click));
    connect(ui->edPathBAK, &QLineEdit::textChanged, this, run(&TMain::edPathBAKChange));
    connect(ui->Edit1, &QLineEdit::textChanged, this, run(&TMain::Edit1Change));

    connect(ui->SpeedButton6, &QToolButton::clicked, this, run(&TMain::SpeedButton6Click));
    connect(ui->edSavePathBAK, &QLineEdit::textChanged, this, run(&TMain::edSavePathBAKChange));
    connect(ui->cbDataBase1, &QComboBox::currentIndexChanged, this, run(&TMain::cbDataBase1Change));
    connect(ui->BitBtn5, &QPushButton::clicked, this, run(&TMain::BitBtn5Click));
    leftforserver::addWhatIsOpenButton(ui->GroupBox1);
}

void TMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        guarded([&] { FormShow(); });
    }
}

void TMain::closeEvent(QCloseEvent* event) {
    // A plan that put the others out stops, and the window waits for the database to be opened
    // again before it closes (a long statement asks first, below).
    if (operationrun::isRunning() && !longop::isRunning()) {
        event->ignore();
        operationrun::closeRequested(this);
        return;
    }
    // A connect in progress is given up: nothing has been done on the server yet.
    serverwait::giveUp();
    // The statement runs on, on this window's connection: it is cancelled first, or nothing closes.
    if (longop::isRunning()) {
        event->ignore();
        longop::askToCancelForClose(this);
        return;
    }
    serverwait::giveUpForGood();
    guarded([&] { FormClose(); });
    QWidget::closeEvent(event);
}

void TMain::FormShow() {
    selectPageFromCode(0);
    ui->ServerName->setText(GetComputerNameText());
    ui->PageControl1->hide();
    leftforserver::takeBackWhatWasLeft(false);
    tellWhatEarlierRunsLeft();
}

void TMain::FormClose() {
    ADOConnection->close();
    leftforserver::takeBackWhatWasLeft(true);
}

void TMain::selectPageFromCode(int index) {
    m_pageChangeFromCode = true;
    ui->PageControl1->setCurrentIndex(index);
    m_pageChangeFromCode = false;
}

void TMain::PageControl1Change() {
    switch (ui->PageControl1->currentIndex()) {
    case 1:
        openDatabaseListPage();
        break;
    case 2:
        openRestorePage();
        break;
    case 3:
        openBackupPage();
        break;
    default:
        break;
    }
}

void TMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ui->Panel1->setGeometry(0, 0, kPanelWidth, height());
    ui->GroupBox1->setGeometry(1, 1, kPanelWidth - 2, height() - 2);
    ui->PageControl1->setGeometry(kPanelWidth, 0, width() - kPanelWidth, height());
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
    // A wheel turned while the pointer passes over the tab row or over a list the user is not
    // working in changes nothing: pages change by click or keyboard (switching runs the page's
    // rule), and a list changes by wheel only when it has the focus (the version list would
    // disconnect and overwrite the server name).
    if (event->type() == QEvent::Wheel) {
        auto* combo = qobject_cast<QComboBox*>(watched);
        if (watched == ui->PageControl1->tabBar() || (combo && !combo->hasFocus())) {
            event->ignore();
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    // The name rows are docked at the top of their pages: they follow the page's width.
    if (event->type() == QEvent::Resize) {
        const int pageWidth = static_cast<QWidget*>(watched)->width();
        if (watched == ui->TabSheet1)
            ui->Panel2->resize(pageWidth, 41);
        else if (watched == ui->TabSheet3)
            ui->Panel3->resize(pageWidth, 41);
        else if (watched == ui->TabSheet4)
            ui->Panel4->resize(pageWidth, 41);
    }
    return QWidget::eventFilter(watched, event);
}

void TMain::changeEvent(QEvent* event) {
    // Edges cannot be dragged, but the window may be maximised, and then the pages grow with it.
    if (event->type() == QEvent::WindowStateChange) {
        if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
            setMinimumSize(kClientSize);
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        } else {
            setFixedSize(kClientSize);
        }
    }
    QWidget::changeEvent(event);
}

void TMain::setStatusImage(Status status) {
    m_status = status;
    QIcon icon = zelvaroIcon(kStatusImages[int(status)]);
    // The connecting picture shows while the window's controls are disabled for the wait: drawn
    // greyed like them, it would not say anything.
    if (status == Status::Connecting)
        for (const QSize& size : icon.availableSizes())
            icon.addPixmap(icon.pixmap(size), QIcon::Disabled);
    ui->ToolButton1->setIcon(icon);
    emit statusImageChanged(int(status));
}

QString TMain::GetComputerNameText() const {
    return connection::computerName();
}

bool TMain::ConnectToServer(bool ShowSuccess) {
    const QString version = ui->cbSQLServers->currentText();
    const QString server = ui->ServerName->text();
    const QString user = ui->edUserName->text();
    const QString password = ui->edUserPass->text();
    if (ADOConnection->isOpen())
        ADOConnection->close();
    ADOConnection->setConnectionString(connection::buildConnectionString(version, server, user, password));
    try {
        setStatusImage(Status::Connecting);
        if (!connectwait::open(this, *ADOConnection, server)) {
            // The user gave up waiting: back to not connected, and nothing to tell.
            setStatusImage(Status::Disconnected);
            return false;
        }
    } catch (const DbError& e) {
        modal::messageDialog(erroradvice::appended(e), DialogType::Error, {DialogButton::Cancel});
        setStatusImage(Status::Failed);
        return false;
    }
    if (ShowSuccess)
        modal::messageDialog(QStringLiteral("Підключення успішно виконано !"), DialogType::Information,
                             {DialogButton::OK});
    setStatusImage(Status::Connected);
    m_connectedOnce = true;
    offerToOpenWhatWasLeft();
    return true;
}

void TMain::connectIfClosed() {
    // A failed connect lets the action go on (its statements report the failure), but one the user
    // gave up waiting for ends it: going on would only start the wait again, frozen this time. The
    // status picture tells the two apart: a failure shows red, a connect given up grey.
    if (!ADOConnection->isOpen() && !ConnectToServer(false) && m_status == Status::Disconnected)
        throw OperationCancelled{};
}

bool TMain::connectedOrConnect() {
    // A connect given up stops the step as a failed one does.
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    return ADOConnection->isOpen();
}

void TMain::useMaster() {
    ops::useMaster(*ADOQuery1);
}

bool TMain::serverIs2000() const {
    const int major = ADOConnection->serverMajorVersion();
    return major > 0 ? major < 9 : ui->cbSQLServers->currentText() == QLatin1String("2000");
}

void TMain::Disconnect() {
    if (ADOConnection->isOpen())
        ADOConnection->close();
    setStatusImage(Status::Disconnected);
    ui->BitBtn1->setEnabled(false);
    ui->BitBtn2->setEnabled(false);
    ui->BitBtn3->setEnabled(false);
}

void TMain::cbSQLServersChange() {
    Disconnect();
    forgetServerLists();
    QStringList versions;
    for (int i = 0; i < ui->cbSQLServers->count(); ++i)
        versions << ui->cbSQLServers->itemText(i);
    const QString computer = GetComputerNameText();
    if (connection::holdsDerivedServerName(ui->ServerName->text(), computer, versions))
        ui->ServerName->setText(connection::derivedServerName(computer, ui->cbSQLServers->currentText()));
}

void TMain::ServerNameChange() {
    Disconnect();
    forgetServerLists();
}

void TMain::forgetServerLists() {
    // Before the first connection nothing is listed from any server.
    if (!m_connectedOnce)
        return;
    m_databaseNames->setNames({});
    ui->cbDataBase1->clear();
    ui->BitBtn2->setEnabled(false);
    ui->BitBtn4->setEnabled(false);
    ui->BitBtn5->setEnabled(false);
    ui->BitBtn6->setEnabled(false);
    m_listsForgotten = true;
}

void TMain::ToolButton1Click() {
    bool connected = false;
    if (ADOConnection->isOpen())
        Disconnect();
    else
        connected = ConnectToServer(true);
    ui->PageControl1->setVisible(connected);
    ui->SpeedButton2->setEnabled(connected);
    ui->SpeedButton3->setEnabled(connected);
    ui->BitBtn1->setEnabled(connected);
    ui->ToolButton1->setToolTip(connected ? QStringLiteral("Відключитися") : QStringLiteral("Підключитися"));
    // The page the user is on lists the server just connected to.
    if (connected && m_listsForgotten) {
        m_listsForgotten = false;
        if (ui->PageControl1->currentIndex() == 1 || ui->PageControl1->currentIndex() == 3)
            PageControl1Change();
    }
}
