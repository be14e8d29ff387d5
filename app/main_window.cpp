#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLayout>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstring>

#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/file_menu.h"
#include "app/history_window.h"
#include "app/panel_record.h"
#include "station/ui/station_window.h"
#include "commands/ui/command_page.h"
#include "commands/ui/link_test_window.h"
#include "commands/ui/program_pair_dialog.h"
#include "common/posted_call.h"
#include "common/ui/dialogs.h"
#include "flash_editor/ui/flash_page.h"
#include "module/ui/com_port_page.h"
#include "module/ui/config_programming.h"
#include "module/ui/error_report.h"
#include "module/ui/flash_transfer.h"
#include "module/operation_runner.h"
#include "module/operation_state.h"
#include "module/ui/read_back.h"
#include "module/port_reconnect.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "serial/ui/com_combo_box.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"
#include "serial/ui/traffic_window.h"
#include "settings/ui/config_page.h"
#include "settings/ui/jumper_page.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/ui/terminal_page.h"

#ifndef TW_DATADIR
#define TW_DATADIR "/usr/local/share/tarnwick-panel"
#endif

namespace {

const QString kCaption = QStringLiteral("Tarnwick Control Panel");
const QString kVersion = QStringLiteral("Version 1.17");

// Runs an operation's handler; a port error that escapes it ends in the error box.
template <class F>
void Guarded(QWidget* parent, F&& f)
{
    try {
        f();
    } catch (const EComPort& e) {
        ReportPortError(parent, e);
    }
}

}  // namespace

TTarnwickForm::TTarnwickForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("TarnwickForm"));
    setWindowTitle(kCaption);
    setWindowIcon(AppIcon());

    ComPort1 = new TComPort(this);
    ComPort1->setObjectName(QStringLiteral("ComPort1"));
    // Design-time settings of the port.
    ComPort1->SetBaudRate(br9600);
    ComPort1->SetPort(QStringLiteral("COM1"));
    ComPort1->Parity().SetBits(prNone);
    ComPort1->SetStopBits(sbOneStopBit);
    ComPort1->SetDataBits(dbEight);
    ComPort1->SetEvents(AllComEvents);
    ComPort1->FlowControl().SetOutCTSFlow(true);
    ComPort1->FlowControl().SetOutDSRFlow(false);
    ComPort1->FlowControl().SetControlDTR(dtrHandshake);
    ComPort1->FlowControl().SetControlRTS(rtsHandshake);
    ComPort1->FlowControl().SetXonXoffOut(false);
    ComPort1->FlowControl().SetXonXoffIn(false);
    session_ = new TModuleSession(*ComPort1);

    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("Help1"));
    TarnwickHelp1 = HelpMenu->addAction(QStringLiteral("&Tarnwick Help"));
    TarnwickHelp1->setObjectName(QStringLiteral("TarnwickHelp1"));
    HelpMenu->addSeparator();
    About1 = HelpMenu->addAction(QStringLiteral("&About ..."));
    About1->setObjectName(QStringLiteral("About1"));
    connect(TarnwickHelp1, &QAction::triggered, this, [this] { TarnwickHelp1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setFixedSize(657, 401);
    setCentralWidget(PageControl1);

    JumperSheet = new TJumperPage(PageControl1);
    ComPortSheet = new TComPortPage(*ComPort1, portControls_, PageControl1);
    FlashConfigSheet = new TConfigPage(portControls_, PageControl1);
    FlashMemorySheet = new TFlashPage(portControls_, PageControl1);
    CommandSheet = new TCommandPage(*session_, portControls_, PageControl1);
    TerminalSheet = new TTerminalPage(*ComPort1, portControls_, PageControl1);
    PageControl1->addTab(JumperSheet, QStringLiteral("Jumper Settings"));
    PageControl1->addTab(ComPortSheet, QStringLiteral("Com Port"));
    PageControl1->addTab(FlashConfigSheet, QStringLiteral("Config Memory"));
    PageControl1->addTab(FlashMemorySheet, QStringLiteral("Flash Memory"));
    PageControl1->addTab(CommandSheet, QStringLiteral("Command"));
    PageControl1->addTab(TerminalSheet, QStringLiteral("Terminal"));
    JumperSheet->setObjectName(QStringLiteral("JumperSheet"));
    ComPortSheet->setObjectName(QStringLiteral("ComPortSheet"));
    FlashConfigSheet->setObjectName(QStringLiteral("FlashConfigSheet"));
    FlashMemorySheet->setObjectName(QStringLiteral("FlashMemorySheet"));
    CommandSheet->setObjectName(QStringLiteral("CommandSheet"));
    TerminalSheet->setObjectName(QStringLiteral("TerminalSheet"));
    PageControl1->setCurrentIndex(0);

    FormCreate();
    WireOperations();
    RecordPanelOperations([this](const QString& notice) {
        PostCall(this, [this, notice] { statusBar()->showMessage(QStringLiteral("Record: ") + notice); });
    });
    FileMenu = BuildFileMenu(*this);
    // File, View, Help.
    ViewMenu = new QMenu(QStringLiteral("&View"), this);
    ViewMenu->setObjectName(QStringLiteral("View1"));
    menuBar()->insertMenu(HelpMenu->menuAction(), ViewMenu);
    Traffic1 = ViewMenu->addAction(QStringLiteral("&Traffic"));
    Traffic1->setObjectName(QStringLiteral("Traffic1"));
    connect(Traffic1, &QAction::triggered, this, [this] { Traffic1Click(); });
    History1 = ViewMenu->addAction(QStringLiteral("&History"));
    History1->setObjectName(QStringLiteral("History1"));
    connect(History1, &QAction::triggered, this, [this] {
        if (!historyWindow_) historyWindow_ = new THistoryWindow(this);
        historyWindow_->show();
        historyWindow_->raise();
        historyWindow_->activateWindow();
    });
    // The station programs with the Com Port page's line settings.
    Station1 = ViewMenu->addAction(QStringLiteral("&Station"));
    Station1->setObjectName(QStringLiteral("Station1"));
    connect(Station1, &QAction::triggered, this, [this] {
        if (!stationWindow_) stationWindow_ = new TStationWindow([this] { return ComPortSheet->Choices(); }, this);
        stationWindow_->show();
        stationWindow_->raise();
        stationWindow_->activateWindow();
    });
    // The Link Test opens its own ports with the Com Port page's settings.
    auto linkTest = [this] {
        ShowLinkTestWindow(this, [this] {
            TPairPortSetup setup;
            setup.ports = ComPortSheet->ComComboBox1->Select().PortInfos();
            setup.line = ComPortSheet->Choices();
            setup.openPort = ComPort1->Connected() ? ComPort1->Port() : QString();
            setup.traffic = &ComPort1->Traffic();
            return setup;
        }, FlashConfigSheet->Values().rfDataRate);
    };
    connect(ViewMenu->addAction(QStringLiteral("&Link Test…")), &QAction::triggered, this, linkTest);
    connect(FlashConfigSheet->LinkTestButton, &QPushButton::clicked, this, linkTest);

    aboutBox_ = new TAboutBox(this);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

TTarnwickForm::~TTarnwickForm()
{
    // A run still going (the window was closed during it) ends first: it
    // uses the port and the pages.
    if (TOperationRunner::Panel().Running()) {
        const bool quitting = TOperationState::Quitting();
        TOperationState::RequestQuit();  // it ends without a box
        TOperationRunner::Panel().Finish();
        if (!quitting) TOperationState::Reset();  // a window of its own, in tests
    }
    TOperationState::SetObserver(nullptr);
    TComLed::SetPaintInNotification(true);
    // Pages hold links to the port: close it while they still exist.
    try {
        ComPort1->ClosePort();
    } catch (const EComPort&) {
    }
    delete trafficWindow_;  // stops its log file while the port's log exists
    FlushPanelRecord(2000);
    delete session_;
}

void TTarnwickForm::FormCreate()
{
    setWindowTitle(kCaption + QStringLiteral(" - ") + kVersion);
    FlashMemorySheet->SetupGrids();
    JumperSheet->SetJumpers();
    CommandSheet->CreateCommandRows();
    InitStatus();
}

void TTarnwickForm::WireOperations()
{
    connect(FlashMemorySheet->ReadFlashButton, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { ReadFlashButtonClick(*session_, *FlashMemorySheet); }); });
    connect(FlashMemorySheet->ProgramFlashButton, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { ProgramFlashButtonClick(*session_, *FlashMemorySheet); }); });
    connect(FlashConfigSheet->ReadConfigButton, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { ReadConfigButtonClick(*session_, *FlashConfigSheet); }); });
    connect(FlashMemorySheet->CompareFlashButton, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { CompareFlashButtonClick(*session_, *FlashMemorySheet); }); });
    connect(FlashConfigSheet->ProgramConfigButton, &QPushButton::clicked, this, [this] {
        Guarded(this, [this] {
            ProgramConfigButtonClick(*session_, *FlashConfigSheet, ComPortSheet->FlowControlItem());
        });
    });
    TOperationState::SetObserver([this](bool running) { OperationRunningChanged(running); });
    TComLed::SetPaintInNotification(TOperationState::Running());
    connect(FlashConfigSheet->ProgramPairButton, &QPushButton::clicked, this, [this] {
        // One operation at a time: the dialog does not open beside another.
        const QString refusal = TOperationRunner::Panel().Refusal();
        if (!refusal.isEmpty()) {
            Dialogs().MessageBox(this, refusal, QStringLiteral("Program Pair"), mb::Ok | mb::IconExclamation);
            return;
        }
        TPairPortSetup setup;
        setup.traffic = &ComPort1->Traffic();
        setup.ports = ComPortSheet->ComComboBox1->Select().PortInfos();
        setup.line = ComPortSheet->Choices();
        if (ComPort1->Connected()) setup.openPort = ComPort1->Port();
        setup.openPortNow = [port = QPointer<TComPort>(ComPort1)] {
            return port && port->Connected() ? port->Port() : QString();
        };
        // Window-modal without a loop of its own: the pair it runs is never
        // inside a nested event loop.
        auto* dialog = new TProgramPairDialog(FlashConfigSheet->Values(), setup, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    // The terminal's port errors (a lost line among them) get the same box
    // and advice as the operations'.
    TerminalSheet->ComTerminal->OnPortError = [this](TCustomComTerminal*, const EComPort& e) {
        // A lost line that is being reconnected is shown on the Com Port
        // page and by the lamps, not by a box per cable wiggle.
        if (ComPortSheet->Reconnector().Waiting()) return;
        ReportPortError(this, e);
    };
    // The terminal let go of the lost line; it takes the reopened one back
    // when it holds the focus, as it would on entering it.
    ComPortSheet->OnPortReopened = [this] {
        if (TerminalSheet->ComTerminal->hasFocus()) TerminalSheet->ComTerminal->SetComPort(ComPort1);
    };
}

void TTarnwickForm::FormShow() { FlashMemorySheet->ResetNibble(); }

void TTarnwickForm::OperationRunningChanged(bool running)
{
    portControls_.HoldOperations(running);
    // Only an operation keeps the event loop from running: the lamps paint
    // from inside their notifications while one runs. Otherwise the loop
    // paints them moments later, once per frame however busy the line.
    TComLed::SetPaintInNotification(running);
    if (!running) ComPortSheet->OperationEnded();
    if (!running && TOperationState::Quitting()) {
        // The window was closed during the operation: the port goes now.
        try {
            ComPort1->SetConnected(false);
        } catch (const EComPort&) {
        }
        if (quitWhenEnded_) QCoreApplication::exit(0);
    }
}

void TTarnwickForm::closeEvent(QCloseEvent* e)
{
    QMainWindow::closeEvent(e);
    if (!e->isAccepted() || !TOperationRunner::Panel().Running()) return;
    // The progress window, parentless and showing, would keep the program
    // alive without a window. The operation stops at its next wait and ends
    // without a message box; the event loop ends once it has ended (not
    // quit(): it asks every window to close first, and the progress window
    // refuses).
    TOperationState::RequestQuit();
    quitWhenEnded_ = true;
}

void TTarnwickForm::EndBySignal(int signalNumber)
{
    if (endSignal_) return;
    endSignal_ = signalNumber;
    // What the window's close does: a running operation stops, the loop
    // ends once it has ended. Not before: with no window left (the Link
    // Test's, the station's) the loop would end at once and the program's
    // end would wait for the run without a deadline.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    close();
    TOperationRunner& runner = TOperationRunner::Panel();
    // Said where a service's or session's log keeps it.
    const QString running = runner.RunningName();
    std::fprintf(stderr, "tarnwick-panel: %s: ending%s\n", strsignal(signalNumber),
                 running.isEmpty() ? "" : qPrintable(QStringLiteral(" once \"%1\" has stopped").arg(running)));
    if (!runner.Running()) {
        QCoreApplication::exit(ExitStatus(0));
        return;
    }
    QTimer::singleShot(kSignalStopMs, this, [this] {
        TOperationRunner& runner = TOperationRunner::Panel();
        if (!runner.Running()) return;
        runLeftBehind_ = true;
        std::fprintf(stderr, "tarnwick-panel: \"%s\" did not stop within %d s; ending without waiting for it\n",
                     runner.RunningName().toLocal8Bit().constData(), kSignalStopMs / 1000);
        QCoreApplication::exit(ExitStatus(0));
    });
}

void TTarnwickForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TTarnwickForm::AddPort(const QString& path)
{
    ComPortSheet->ComComboBox1->AddExtraPort(path);
}

QStringList TTarnwickForm::HelpFileCandidates()
{
    const QString name = QStringLiteral("tarnwick.hlp");
    const QString exeDir = QCoreApplication::applicationDirPath();
    // The data folder next to bin/ lets an installed tree find its own help
    // file wherever it was installed to, not only at the configured prefix.
    QStringList files = {QDir(exeDir).filePath(name),
                         QDir::cleanPath(exeDir + QStringLiteral("/../share/tarnwick-panel/") + name),
                         QDir(QStringLiteral(TW_DATADIR)).filePath(name)};
    files.removeDuplicates();
    return files;
}

// The folders of the help file candidates after the program's own one.
static QStringList HelpDataFolders()
{
    QStringList folders;
    const QStringList files = TTarnwickForm::HelpFileCandidates();
    for (qsizetype i = 1; i < files.size(); ++i) folders << QFileInfo(files[i]).path();
    return folders;
}

void TTarnwickForm::TarnwickHelp1Click()
{
    for (const QString& f : HelpFileCandidates()) {
        if (QFileInfo::exists(f)) {
            if (!QDesktopServices::openUrl(QUrl::fromLocalFile(f)))
                Dialogs().MessageBox(this, QStringLiteral("No viewer could open the help file \"%1\".").arg(f),
                                     QStringLiteral("Tarnwick Help"), mb::Ok | mb::IconExclamation);
            return;
        }
    }
    Dialogs().MessageBox(this,
                         QStringLiteral("The help file \"tarnwick.hlp\" was not found beside the program "
                                        "or in %1.")
                             .arg(HelpDataFolders().join(QStringLiteral(" or "))),
                         QStringLiteral("Tarnwick Help"), mb::Ok | mb::IconExclamation);
}

void TTarnwickForm::About1Click() { aboutBox_->exec(); }

void TTarnwickForm::Traffic1Click()
{
    if (!trafficWindow_) trafficWindow_ = new TTrafficWindow(ComPort1->Traffic(), this);
    trafficWindow_->show();
    trafficWindow_->raise();
    trafficWindow_->activateWindow();
}
