#include "commands/ui/program_pair_dialog.h"

#include "commands/ui/link_test_window.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <atomic>

#include "common/atomic_file.h"
#include "common/ui/dialogs.h"
#include "module/operation_report.h"
#include "module/operation_runner.h"
#include "module/ui/config_files.h"
#include "module/port_setup.h"
#include "serial/com_port.h"
#include "serial/port_list.h"
#include "settings/config_profile.h"
#include "settings/key_generator.h"

// Progress from a module's thread, read by the GUI thread's timer; Abort
// heard where the operation can stop.
class TProgramPairDialog::TPairObserver : public TBlockingObserver {
public:
    TPairObserver(std::atomic<bool>& abort, TStopFlag& stop) : TBlockingObserver(&stop), abort_(abort) {}
    void Progress(int percent, TOperationPhase) override { percent_ = percent; }
    bool AbortRequested() override { return abort_.load(); }
    std::atomic<int> percent_{0};

private:
    std::atomic<bool>& abort_;
};

struct TProgramPairDialog::TPairRun {
    std::atomic<bool> abort{false};
    std::unique_ptr<TPairObserver> observers[2];
    TPairResult result;
    QDateTime started = QDateTime::currentDateTimeUtc();
    bool running = true;  // window thread
};

namespace {

const QString kCaption = QStringLiteral("Program Pair");

// Each entry shows the device and what it is; its data is the path opened.
QComboBox* PortChooser(QWidget* parent, const QString& name, const QList<TPortInfo>& ports)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);  // a device the list does not show can be typed
    c->setInsertPolicy(QComboBox::NoInsert);
    for (const TPortInfo& p : ports) c->addItem(p.DisplayText(), p.path);
    return c;
}

QList<TPortInfo> MachinePorts()
{
    try {
        return ListPortInfos();
    } catch (const EComPort&) {
        return {};
    }
}

}  // namespace

TProgramPairDialog::TProgramPairDialog(const TConfigValues& values, const TPairPortSetup& setup, QWidget* parent)
    : QDialog(parent), values_(values), setup_(setup)
{
    setObjectName(QStringLiteral("ProgramPairDialog"));
    setWindowTitle(kCaption);
    auto* grid = new QGridLayout(this);
    const QList<TPortInfo> ports = setup_.ports.isEmpty() ? MachinePorts() : setup_.ports;
    PortA = PortChooser(this, QStringLiteral("PortA"), ports);
    PortB = PortChooser(this, QStringLiteral("PortB"), ports);
    // Point A: the Com Port page's choice; Point B: the next other device.
    const int chosen = std::max(0, PortA->findData(setup_.line.port));
    PortA->setCurrentIndex(ports.isEmpty() ? -1 : chosen);
    if (ports.size() > 1) PortB->setCurrentIndex(chosen == 0 ? 1 : 0);
    PairKeyEdit = new QLineEdit(GenerateKey(), this);
    PairKeyEdit->setObjectName(QStringLiteral("PairKeyEdit"));
    PairKeyEdit->setMaxLength(32);
    PairKeyEdit->setInputMask(QStringLiteral(">HHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHH"));
    PairGenerateKeyButton = new QPushButton(QStringLiteral("Generate Key"), this);
    PairGenerateKeyButton->setObjectName(QStringLiteral("PairGenerateKeyButton"));
    RunPairButton = new QPushButton(QStringLiteral("Program Pair"), this);
    RunPairButton->setObjectName(QStringLiteral("RunPairButton"));
    AbortPairButton = new QPushButton(QStringLiteral("Abort"), this);
    AbortPairButton->setObjectName(QStringLiteral("AbortPairButton"));
    AbortPairButton->setEnabled(false);
    PairProgress = new QProgressBar(this);
    PairProgress->setObjectName(QStringLiteral("PairProgress"));
    PairProgress->setRange(0, 100);
    PairSummaryText = new QPlainTextEdit(this);
    PairSummaryText->setObjectName(QStringLiteral("PairSummaryText"));
    PairSummaryText->setReadOnly(true);
    SavePairProfileButton = new QPushButton(QStringLiteral("Save Profile…"), this);
    SavePairProfileButton->setObjectName(QStringLiteral("SavePairProfileButton"));

    grid->addWidget(new QLabel(QStringLiteral("Point A port"), this), 0, 0);
    grid->addWidget(PortA, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Point B port"), this), 1, 0);
    grid->addWidget(PortB, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Encryption Key"), this), 2, 0);
    grid->addWidget(PairKeyEdit, 2, 1);
    grid->addWidget(PairGenerateKeyButton, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("The other settings are the Config Memory page's, the line settings the Com Port page's."), this), 3, 0, 1, 3);
    grid->addWidget(RunPairButton, 4, 0);
    grid->addWidget(AbortPairButton, 4, 1);
    grid->addWidget(PairProgress, 5, 0, 1, 3);
    grid->addWidget(PairSummaryText, 6, 0, 1, 3);
    grid->addWidget(SavePairProfileButton, 7, 0);
    PairLinkTestButton = new QPushButton(QStringLiteral("Link Test…"), this);
    PairLinkTestButton->setObjectName(QStringLiteral("PairLinkTestButton"));
    PairLinkTestButton->setEnabled(false);
    grid->addWidget(PairLinkTestButton, 7, 2);

    poll_ = new QTimer(this);
    poll_->setInterval(100);
    connect(poll_, &QTimer::timeout, this, [this] { PollPair(); });
    connect(PairGenerateKeyButton, &QPushButton::clicked, this, [this] {
        const QString key = GenerateKey();
        if (key.isEmpty()) Dialogs().Beep();
        else PairKeyEdit->setText(key);
    });
    connect(RunPairButton, &QPushButton::clicked, this, [this] { StartPair(); });
    // Before the erase Abort keeps both memories; after it, it stops the
    // run as well, and the summary says what each module is left as.
    connect(AbortPairButton, &QPushButton::clicked, this, [this] {
        if (!run_) return;
        run_->abort = true;
        TOperationRunner::Panel().RequestStop();
    });
    connect(SavePairProfileButton, &QPushButton::clicked, this, [this] { SavePairProfile(); });
    // The window outlives the dialog: it belongs to the dialog's owner.
    connect(PairLinkTestButton, &QPushButton::clicked, this, [this] {
        QWidget* owner = parentWidget();
        if (!owner) return;
        const TPairPortSetup setup = setup_;
        const int rf = ran_.rfDataRate;
        if (!run_) return;
        const QString a = run_->result.modules[0].port, b = run_->result.modules[1].port;
        accept();
        ShowLinkTestWindow(owner, [setup] {
            TPairPortSetup now = setup;
            now.openPort = setup.OpenPortNow();
            return now;
        }, rf)->ChoosePorts(a, b);
    });
    resize(520, 380);
}

TProgramPairDialog::~TProgramPairDialog()
{
    // A run in progress stops where it safely can; the runner ends it.
    if (Running()) {
        run_->abort = true;
        TOperationRunner::Panel().RequestStop();
    }
}

bool TProgramPairDialog::Running() const { return run_ && run_->running; }

void TProgramPairDialog::reject()
{
    if (Running()) {
        run_->abort = true;
        return;
    }
    QDialog::reject();
}

TConfigValues TProgramPairDialog::PairValues() const
{
    TConfigValues v = values_;
    v.key = PairKeyEdit->text();
    return v;
}

QString TProgramPairDialog::ChosenPort(const QComboBox* chooser)
{
    const int i = chooser->currentIndex();
    if (i >= 0 && chooser->currentText() == chooser->itemText(i)) return chooser->itemData(i).toString();
    return chooser->currentText().trimmed();
}

void TProgramPairDialog::StartPair()
{
    if (Running()) return;
    const QString a = ChosenPort(PortA), b = ChosenPort(PortB);
    if (a.isEmpty() || b.isEmpty() || SameSerialDevice(a, b)) {
        Dialogs().MessageBox(this, QStringLiteral("Choose two different ports: one for Point A, one for Point B."),
                             kCaption, mb::Ok | mb::IconExclamation);
        return;
    }
    const QString open = setup_.OpenPortNow();
    for (const QString& p : {a, b})
        if (!open.isEmpty() && SameSerialDevice(p, open)) {
            Dialogs().MessageBox(this,
                                 QStringLiteral("%1 is open on the Com Port page. Close it there first: Program Pair "
                                                "opens both ports itself.")
                                     .arg(p),
                                 kCaption, mb::Ok | mb::IconExclamation);
            return;
        }
    if (PairKeyEdit->text().size() != 32) {
        Dialogs().MessageBox(this, QStringLiteral("The key needs 32 hex digits."), kCaption, mb::Ok | mb::IconExclamation);
        return;
    }
    // A weak key goes to the modules only when the user asks for it.
    const QString weak = WeakKeyReason(PairKeyEdit->text());
    if (!weak.isEmpty() &&
        Dialogs().MessageBox(this,
                             QStringLiteral("The key is weak: %1, so anyone can guess it. Generate Key makes a "
                                            "private one.\nProgram the pair with this key anyway?")
                                 .arg(weak),
                             kCaption, mb::YesNo | mb::IconExclamation) != mb::IdYes)
        return;
    TOperationRunner& runner = TOperationRunner::Panel();
    const QString refusal = runner.Refusal();
    if (!refusal.isEmpty()) {
        Dialogs().MessageBox(this, refusal, kCaption, mb::Ok | mb::IconExclamation);
        return;
    }
    ran_ = PairValues();
    hasRun_ = true;
    auto run = std::make_shared<TPairRun>();
    for (auto& o : run->observers) o = std::make_unique<TPairObserver>(run->abort, runner.Stop());
    TPairRequest request;
    request.ports = {a, b};
    request.values = ran_;
    request.audience = TAdviceAudience::Panel;
    request.observers = {run->observers[0].get(), run->observers[1].get()};
    request.flowItem = setup_.line.flowItem;
    request.traffic = setup_.traffic;
    request.setUpPort = [line = setup_.line](TCustomComPort& port, const QString& path) {
        TPortChoices c = line;  // the Com Port page's line settings
        c.port = path;
        ApplyPortChoices(port, c);
    };
    QPointer<TProgramPairDialog> self(this);
    const bool started = runner.Start(
        kCaption,
        [run, request](TStopFlag& stop) {
            TPairRequest r = request;
            r.stop = &stop;
            run->result = ProgramPair(r);
        },
        [run, self] {
            run->running = false;
            if (self) self->PairFinished();
        });
    if (!started) return;
    run_ = run;
    PairSummaryText->clear();
    PairProgress->setValue(0);
    RunPairButton->setEnabled(false);
    SavePairProfileButton->setEnabled(false);
    AbortPairButton->setEnabled(true);
    poll_->start();
}

void TProgramPairDialog::PollPair()
{
    if (!run_) return;
    const int percent = std::min(run_->observers[0]->percent_.load(), run_->observers[1]->percent_.load());
    PairProgress->setValue(std::min(percent, 100));
}

void TProgramPairDialog::PairFinished()
{
    // A row per module for the production record, the two sharing a pair id.
    const QString pairId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    for (size_t i = 0; i < run_->result.modules.size(); ++i) {
        const TPairModule& m = run_->result.modules[i];
        if (m.port.isEmpty()) continue;
        TOperationReport r;
        r.role = i == 0 ? QStringLiteral("A") : QStringLiteral("B");
        r.operation = QStringLiteral("pair");
        r.port = m.port;
        r.started = run_->started;
        r.durationMs = run_->started.msecsTo(QDateTime::currentDateTimeUtc());
        r.image.assign(m.image.begin(), m.image.end());
        r.configImage = true;
        r.verified = m.verified ? QStringLiteral("yes") : QStringLiteral("no");
        r.ok = m.Ok();
        r.stopped = m.stopped;
        r.error = m.error;
        r.moduleVersion = m.version;
        r.pairId = pairId;
        ReportOperation(r);
    }
    poll_->stop();
    PairProgress->setValue(100);
    PairSummaryText->setPlainText(PairSummary(run_->result, ran_).join(QLatin1Char('\n')));
    RunPairButton->setEnabled(true);
    AbortPairButton->setEnabled(false);
    SavePairProfileButton->setEnabled(true);
    PairLinkTestButton->setEnabled(run_->result.Ok());
}

void TProgramPairDialog::SavePairProfile()
{
    const QString path = Dialogs().SaveFileName(this, QStringLiteral("Save Profile"), QStringLiteral("Profiles (*.json)"),
                                                QStringLiteral("json"));
    if (path.isEmpty()) return;
    if (!ConfirmSavingKey(this, QStringLiteral("the pair's encryption key"))) return;
    QString error;
    if (!WritePrivateFileAtomically(path, WriteConfigProfile(hasRun_ ? ran_ : PairValues()), &error))
        Dialogs().MessageBox(this, error, QStringLiteral("Save Profile"), mb::Ok | mb::IconError);
}
