#include "commands/ui/link_test_window.h"

#include <QPointer>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "common/atomic_file.h"
#include "common/ui/dialogs.h"
#include "common/ui/mini_chart.h"
#include "module/link_frame.h"
#include "module/operation_report.h"
#include "module/operation_runner.h"
#include "serial/port_list.h"

namespace {

constexpr int kRfRates[] = {76800, 38400, 19200, 9600, 4800};
constexpr int kLatencyBins = 24;

QComboBox* PortChooser(QWidget* parent, const char* name)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setEditable(true);  // a device the list does not show can be typed
    c->setMinimumContentsLength(28);
    return c;
}

// Bytes per second for a person: "950 B/s", "8.3 kB/s", "20 kB/s".
QString LinkRateText(double bps)
{
    if (bps < 1000) return QStringLiteral("%1 B/s").arg(bps, 0, 'f', 0);
    if (bps < 10000) return QStringLiteral("%1 kB/s").arg(bps / 1000, 0, 'f', 1);
    if (bps < 1e6) return QStringLiteral("%1 kB/s").arg(bps / 1000, 0, 'f', 0);
    return QStringLiteral("%1 MB/s").arg(bps / 1e6, 0, 'f', 1);
}

bool SamePort(const QString& a, const QString& b) { return SameSerialDevice(a, b); }

}  // namespace

int TLinkTestWindow::RfBpsOfItem(int item) { return kRfRates[std::clamp(item, 0, 4)]; }

TLinkTestWindow::TLinkTestWindow(std::function<TPairPortSetup()> setup, int rfDataRateItem, QWidget* parent)
    : QWidget(parent, Qt::Window), setup_(std::move(setup))
{
    setObjectName(QStringLiteral("LinkTestWindow"));
    setWindowTitle(QStringLiteral("Link Test"));

    auto* ports = new QGroupBox(QStringLiteral("Ports (the Com Port page's line settings)"), this);
    auto* pg = new QGridLayout(ports);
    LinkPortA = PortChooser(ports, "LinkPortA");
    LinkPortB = PortChooser(ports, "LinkPortB");
    LinkLoopback = new QCheckBox(QStringLiteral("far end looped back"), ports);
    LinkLoopback->setObjectName(QStringLiteral("LinkLoopback"));
    LinkDirection = new QComboBox(ports);
    LinkDirection->setObjectName(QStringLiteral("LinkDirection"));
    LinkDirection->addItems({QStringLiteral("both directions at once"), QStringLiteral("A to B only"),
                             QStringLiteral("B to A only")});
    LinkPortA->setAccessibleName(QStringLiteral("Point A's port"));
    LinkPortB->setAccessibleName(QStringLiteral("Point B's port"));
    LinkDirection->setAccessibleName(QStringLiteral("Directions"));
    pg->addWidget(new QLabel(QStringLiteral("Point A:"), ports), 0, 0);
    pg->addWidget(LinkPortA, 0, 1);
    pg->addWidget(LinkLoopback, 0, 2);
    pg->addWidget(new QLabel(QStringLiteral("Point B:"), ports), 1, 0);
    pg->addWidget(LinkPortB, 1, 1);
    pg->addWidget(LinkDirection, 1, 2);

    auto* frames = new QGroupBox(QStringLiteral("Frames and thresholds"), this);
    auto* fg = new QGridLayout(frames);
    LinkFrameSize = new QSpinBox(frames);
    LinkFrameSize->setObjectName(QStringLiteral("LinkFrameSize"));
    LinkFrameSize->setRange(kLinkFrameMinSize, kLinkFrameMaxSize);
    LinkFrameSize->setValue(64);
    LinkFrameSize->setSuffix(QStringLiteral(" bytes"));
    LinkRate = new QDoubleSpinBox(frames);
    LinkRate->setObjectName(QStringLiteral("LinkRate"));
    LinkRate->setRange(0, 10000);
    LinkRate->setDecimals(1);
    LinkRate->setSpecialValueText(QStringLiteral("flat out"));
    LinkRate->setSuffix(QStringLiteral(" frames/s"));
    LinkSeconds = new QDoubleSpinBox(frames);
    LinkSeconds->setObjectName(QStringLiteral("LinkSeconds"));
    LinkSeconds->setRange(1, 86400);
    LinkSeconds->setDecimals(0);
    LinkSeconds->setValue(30);
    LinkSeconds->setSuffix(QStringLiteral(" s"));
    LinkFrames = new QSpinBox(frames);
    LinkFrames->setObjectName(QStringLiteral("LinkFrames"));
    LinkFrames->setRange(0, 100000000);
    LinkFrames->setSpecialValueText(QStringLiteral("by time"));
    LinkRfRate = new QComboBox(frames);
    LinkRfRate->setObjectName(QStringLiteral("LinkRfRate"));
    for (int r : kRfRates) LinkRfRate->addItem(QStringLiteral("%1 bps").arg(r));
    LinkRfRate->setCurrentIndex(std::clamp(rfDataRateItem, 0, 4));
    LinkMaxPer = new QDoubleSpinBox(frames);
    LinkMaxPer->setObjectName(QStringLiteral("LinkMaxPer"));
    LinkMaxPer->setRange(0, 100);
    LinkMaxPer->setValue(1);
    LinkMaxPer->setSuffix(QStringLiteral(" %"));
    LinkMinThroughput = new QDoubleSpinBox(frames);
    LinkMinThroughput->setObjectName(QStringLiteral("LinkMinThroughput"));
    LinkMinThroughput->setRange(0, 1e7);
    LinkMinThroughput->setDecimals(0);
    LinkMinThroughput->setSuffix(QStringLiteral(" B/s"));
    // Each control says what it is: several sit beside one label.
    LinkFrameSize->setAccessibleName(QStringLiteral("Frame size"));
    LinkRate->setAccessibleName(QStringLiteral("Rate, frames per second per direction"));
    LinkRfRate->setAccessibleName(QStringLiteral("RF data rate"));
    LinkSeconds->setAccessibleName(QStringLiteral("Duration in seconds"));
    LinkFrames->setAccessibleName(QStringLiteral("Frames per direction instead of a duration"));
    LinkMaxPer->setAccessibleName(QStringLiteral("Pass: packet error rate at most"));
    LinkMinThroughput->setAccessibleName(QStringLiteral("Pass: throughput at least, each direction"));
    fg->addWidget(new QLabel(QStringLiteral("Frame size:"), frames), 0, 0);
    fg->addWidget(LinkFrameSize, 0, 1);
    fg->addWidget(new QLabel(QStringLiteral("Rate:"), frames), 0, 2);
    fg->addWidget(LinkRate, 0, 3);
    fg->addWidget(new QLabel(QStringLiteral("RF data rate:"), frames), 0, 4);
    fg->addWidget(LinkRfRate, 0, 5);
    fg->addWidget(new QLabel(QStringLiteral("Duration:"), frames), 1, 0);
    fg->addWidget(LinkSeconds, 1, 1);
    fg->addWidget(new QLabel(QStringLiteral("or frames:"), frames), 1, 2);
    fg->addWidget(LinkFrames, 1, 3);
    fg->addWidget(new QLabel(QStringLiteral("Pass: PER at most"), frames), 2, 0);
    fg->addWidget(LinkMaxPer, 2, 1);
    fg->addWidget(new QLabel(QStringLiteral("throughput at least"), frames), 2, 2);
    fg->addWidget(LinkMinThroughput, 2, 3);

    LinkStartButton = new QPushButton(QStringLiteral("Start"), this);
    LinkStartButton->setObjectName(QStringLiteral("LinkStartButton"));
    LinkStopButton = new QPushButton(QStringLiteral("Stop"), this);
    LinkStopButton->setObjectName(QStringLiteral("LinkStopButton"));
    LinkSaveButton = new QPushButton(QStringLiteral("Save Results…"), this);
    LinkSaveButton->setObjectName(QStringLiteral("LinkSaveButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(LinkStartButton);
    buttons->addWidget(LinkStopButton);
    buttons->addWidget(LinkSaveButton);
    buttons->addStretch();

    LinkFigures = new QLabel(this);
    LinkFigures->setObjectName(QStringLiteral("LinkFigures"));
    LinkFigures->setTextFormat(Qt::PlainText);
    LinkFigures->setMinimumHeight(3 * fontMetrics().height());
    PerChart = new TMiniChart(QStringLiteral("Packet error rate"), QStringLiteral("s"), TMiniChart::TKind::Line, this);
    PerChart->setObjectName(QStringLiteral("PerChart"));
    PerChart->SetYUnit(QStringLiteral(" %"));
    ThroughputChart = new TMiniChart(QStringLiteral("Throughput (directions summed)"), QStringLiteral("s"),
                                     TMiniChart::TKind::Line, this);
    ThroughputChart->setObjectName(QStringLiteral("ThroughputChart"));
    ThroughputChart->SetYFormat(&LinkRateText);
    LatencyChart = new TMiniChart(QStringLiteral("Latency (frames)"), QStringLiteral("ms"), TMiniChart::TKind::Bars, this);
    LatencyChart->setObjectName(QStringLiteral("LatencyChart"));
    LatencyChart->SetLastBarOpen(true);
    auto* charts = new QHBoxLayout;
    charts->addWidget(PerChart);
    charts->addWidget(ThroughputChart);
    charts->addWidget(LatencyChart);
    LinkSummary = new QPlainTextEdit(this);
    LinkSummary->setObjectName(QStringLiteral("LinkSummary"));
    LinkSummary->setReadOnly(true);
    LinkSummary->setMinimumHeight(7 * fontMetrics().height());
    LinkSummary->setMaximumHeight(12 * fontMetrics().height());

    auto* top = new QHBoxLayout;
    top->addWidget(ports);
    top->addWidget(frames);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addLayout(buttons);
    v->addWidget(LinkFigures);
    v->addLayout(charts, 2);
    v->addWidget(LinkSummary);

    poll_ = new QTimer(this);
    poll_->setInterval(250);
    connect(poll_, &QTimer::timeout, this, [this] { Poll(); });
    connect(LinkStartButton, &QPushButton::clicked, this, [this] { Start(); });
    connect(LinkStopButton, &QPushButton::clicked, this, [this] { Stop(); });
    connect(LinkLoopback, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    connect(LinkSaveButton, &QPushButton::clicked, this, [this] {
        const QString path = Dialogs().SaveFileNameProposing(this, QStringLiteral("Save Link Test Results"),
                                                             QStringLiteral("CSV files (*.csv)"), QStringLiteral("csv"),
                                                             ProposedFileName());
        if (path.isEmpty()) return;
        QString error;
        if (!SaveResults(path, &error)) {
            Dialogs().MessageBox(this, error, QStringLiteral("Link Test"), mb::Ok | mb::IconExclamation);
            return;
        }
        const QFileInfo f(path);
        LinkSummary->appendPlainText(QStringLiteral("\nSaved: %1 and %2")
                                         .arg(f.absoluteFilePath(), f.absolutePath() + QLatin1Char('/') + f.completeBaseName() +
                                                                        QStringLiteral(".json")));
    });
    RefreshPorts();
    UpdateControls();
}

TLinkTestWindow::~TLinkTestWindow()
{
    // The run ends on its own once stopped; its end finds the window gone.
    if (test_) test_->Stop();
}

void TLinkTestWindow::RefreshPorts()
{
    const TPairPortSetup s = setup_ ? setup_() : TPairPortSetup{};
    line_ = s.line;
    const QList<TPortInfo> list = s.ports.isEmpty() ? ListPortInfos() : s.ports;
    for (QComboBox* c : {LinkPortA, LinkPortB}) {
        const QString keep = TProgramPairDialog::ChosenPort(c);
        c->clear();
        for (const TPortInfo& p : list) c->addItem(p.DisplayText(), p.path);
        const int i = c->findData(keep);
        if (i >= 0) c->setCurrentIndex(i);
        else if (!keep.isEmpty()) c->setEditText(keep);
    }
    // A choice that cannot work (none, or the port open on the Com Port
    // page) gets the default.
    const auto [a, b] = DefaultPorts(list, s.openPort);
    auto unusable = [&](QComboBox* c) {
        const QString p = TProgramPairDialog::ChosenPort(c);
        return p.isEmpty() || (!s.openPort.isEmpty() && SamePort(p, s.openPort));
    };
    if (unusable(LinkPortA)) LinkPortA->setCurrentIndex(a);
    if (unusable(LinkPortB) || SamePort(TProgramPairDialog::ChosenPort(LinkPortB), TProgramPairDialog::ChosenPort(LinkPortA)))
        LinkPortB->setCurrentIndex(b);
}

std::pair<int, int> TLinkTestWindow::DefaultPorts(const QList<TPortInfo>& list, const QString& openPort)
{
    std::vector<int> order;
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < list.size(); ++i) {
            const TPortInfo& p = list[i];
            const bool adapter = p.usb || p.name.startsWith(QLatin1String("ttyACM"));
            if (adapter != (pass == 0)) continue;
            if (!openPort.isEmpty() && SamePort(p.path, openPort)) continue;
            order.push_back(i);
        }
    return {order.size() > 0 ? order[0] : -1, order.size() > 1 ? order[1] : -1};
}

QString TLinkTestWindow::ProposedFileName() const
{
    QStringList ports{QFileInfo(lastRequest_.portA.port).fileName()};
    if (!lastRequest_.loopback) ports << QFileInfo(lastRequest_.portB).fileName();
    ports.removeAll(QString());
    return QStringLiteral("link-test-%1-%2.csv")
        .arg((started_.isValid() ? started_ : QDateTime::currentDateTimeUtc()).toString(QStringLiteral("yyyyMMdd-HHmmss")),
             ports.join(QLatin1Char('-')));
}

void TLinkTestWindow::ChoosePorts(const QString& a, const QString& b)
{
    if (Running()) return;
    LinkLoopback->setChecked(false);
    for (auto [c, port] : {std::pair{LinkPortA, a}, std::pair{LinkPortB, b}}) {
        const int i = c->findData(port);
        if (i >= 0) c->setCurrentIndex(i);
        else c->setEditText(port);
    }
}

void TLinkTestWindow::UpdateControls()
{
    const bool running = Running();
    for (QWidget* w : std::initializer_list<QWidget*>{LinkPortA, LinkLoopback, LinkFrameSize, LinkRate, LinkSeconds,
                                                      LinkFrames, LinkRfRate, LinkMaxPer, LinkMinThroughput})
        w->setEnabled(!running);
    LinkPortB->setEnabled(!running && !LinkLoopback->isChecked());
    LinkDirection->setEnabled(!running && !LinkLoopback->isChecked());
    LinkStartButton->setEnabled(!running);
    LinkStopButton->setEnabled(running);
    LinkSaveButton->setEnabled(!running && result_.finished);
}

TLinkTestRequest TLinkTestWindow::Request() const
{
    TLinkTestRequest q;
    q.portA = line_;
    q.portA.port = TProgramPairDialog::ChosenPort(LinkPortA);
    q.loopback = LinkLoopback->isChecked();
    q.portB = q.loopback ? QString() : TProgramPairDialog::ChosenPort(LinkPortB);
    q.direction = TLinkDirection(LinkDirection->currentIndex());
    q.size = LinkFrameSize->value();
    q.rate = LinkRate->value();
    q.seconds = LinkSeconds->value();
    q.frames = LinkFrames->value();
    q.rfBps = RfBpsOfItem(LinkRfRate->currentIndex());
    q.maxPerPercent = LinkMaxPer->value();
    q.minThroughput = LinkMinThroughput->value();
    return q;
}

bool TLinkTestWindow::Start()
{
    if (Running()) return false;
    auto refuse = [this](const QString& text) {
        Dialogs().MessageBox(this, text, QStringLiteral("Link Test"), mb::Ok | mb::IconExclamation);
        return false;
    };
    TOperationRunner& runner = TOperationRunner::Panel();
    const QString refusal = runner.Refusal();
    if (!refusal.isEmpty()) return refuse(refusal);
    const TPairPortSetup s = setup_ ? setup_() : TPairPortSetup{};
    line_ = s.line;
    const TLinkTestRequest q = Request();
    if (q.portA.port.isEmpty() || (!q.loopback && (q.portB.isEmpty() || SamePort(q.portA.port, q.portB))))
        return refuse(QStringLiteral("Choose two different ports, Point A's and Point B's, or one port with \"far end looped back\"."));
    if (q.portA.dataItem == 1) return refuse(QStringLiteral("The Link Test needs 8 data bits (Com Port page): its frames are binary."));
    for (const QString& p : {q.portA.port, q.portB})
        if (!p.isEmpty() && !s.openPort.isEmpty() && SamePort(p, s.openPort))
            return refuse(QStringLiteral("%1 is open on the Com Port page. Close it there first: the Link Test opens its ports itself.").arg(p));

    TLinkTestRequest request = q;
    request.traffic = s.traffic;
    auto test = std::make_shared<TLinkTest>(request);
    QPointer<TLinkTestWindow> self(this);
    // An operation like the others: one at a time, stopped by Close Port and
    // by closing the main window.
    const bool started = runner.Start(
        QStringLiteral("Link Test"),
        [test](TStopFlag& stop) {
            test->Start();
            while (!test->WaitFinished(50))
                if (stop.Requested()) test->Stop();
        },
        [self, test] {
            if (!self || self->test_ != test) return;
            self->result_ = test->Snapshot();
            self->Finish();
        });
    if (!started) return false;
    lastRequest_ = q;
    started_ = QDateTime::currentDateTimeUtc();
    result_ = TLinkTestResult{};
    LinkSummary->setPlainText(QStringLiteral("Running…"));
    // Every chart starts empty: nothing of the last run stays.
    PerChart->SetPoints({});
    ThroughputChart->SetPoints({});
    LatencyChart->SetBars({}, 0, 1);
    PerChart->SetThreshold(q.maxPerPercent);
    ThroughputChart->SetThreshold(q.minThroughput > 0 ? q.minThroughput : std::nan(""));
    test_ = test;
    ended_ = false;
    poll_->start();
    UpdateControls();
    return true;
}

void TLinkTestWindow::Stop()
{
    if (Running()) test_->Stop();
}

void TLinkTestWindow::Poll()
{
    if (!test_ || ended_) return;
    Show(test_->Snapshot());  // the end comes from the runner
}

void TLinkTestWindow::Show(const TLinkTestResult& r)
{
    QStringList lines;
    lines << QStringLiteral("%1 s%2").arg(r.seconds, 0, 'f', 1).arg(r.finished ? QString() : QStringLiteral(" — running"));
    for (const auto& d : r.directions)
        lines << QStringLiteral("%1: sent %2, received %3, lost %4, corrupted %5 — PER %6 %, %7 (%8 % of the line, %9 % of the RF rate)")
                     .arg(d.name)
                     .arg(d.counts.sent)
                     .arg(d.counts.received)
                     .arg(d.counts.lost)
                     .arg(d.counts.corrupted)
                     .arg(d.perPercent, 0, 'f', 1)
                     .arg(LinkRateText(d.throughput))
                     .arg(d.lineShare, 0, 'f', 0)
                     .arg(d.rfShare, 0, 'f', 0);
    if (r.latency.count > 0)
        lines << QStringLiteral("Latency (%1): min %2 ms, median %3 ms, 95 % %4 ms, max %5 ms")
                     .arg(lastRequest_.loopback ? QStringLiteral("round trip") : QStringLiteral("one way"))
                     .arg(r.latency.minMs, 0, 'f', 1)
                     .arg(r.latency.medianMs, 0, 'f', 1)
                     .arg(r.latency.p95Ms, 0, 'f', 1)
                     .arg(r.latency.maxMs, 0, 'f', 1);
    LinkFigures->setText(lines.join(QLatin1Char('\n')));

    // Both charts over one time axis; a second is drawn once it is whole
    // (the last, partial one would look like a collapse).
    std::vector<QPointF> per, tput;
    for (const TLinkSample& x : r.samples) {
        if (x.settled && x.sent > 0) per.emplace_back(x.second + 1, x.PerPercent());
        if (x.second + 1 <= r.sendingSeconds) tput.emplace_back(x.second + 1, double(x.bytes));
    }
    const double axisEnd = std::max(1.0, std::ceil(r.sendingSeconds));
    PerChart->SetXRange(0, axisEnd);
    ThroughputChart->SetXRange(0, axisEnd);
    PerChart->SetPoints(std::move(per));
    ThroughputChart->SetPoints(std::move(tput));
    if (r.latencies.Count() > 0) {
        // Up to the 99th percentile: an outlier goes into the last bar
        // instead of flattening the others.
        const double top = std::max(1.0, TMiniChart::NiceCeiling(r.latencies.QuantileMs(0.99)));
        LatencyChart->SetBars(r.latencies.Bins(kLatencyBins, top / kLatencyBins), 0, top / kLatencyBins);
    }
}

void TLinkTestWindow::Finish()
{
    poll_->stop();
    ended_ = true;
    Show(result_);
    // A row per port for the production record.
    for (const QString& port : {lastRequest_.portA.port, lastRequest_.portB}) {
        if (port.isEmpty()) continue;
        TOperationReport r;
        r.operation = QStringLiteral("link-test");
        r.port = port;
        r.started = started_;
        r.durationMs = started_.msecsTo(QDateTime::currentDateTimeUtc());
        r.ok = result_.verdict == TLinkVerdict::Passed;
        r.outcome = LinkVerdictOutcome(result_.verdict);
        r.error = result_.Reason();
        ReportOperation(r);
    }
    LinkSummary->setPlainText(result_.SummaryLines().join(QLatin1Char('\n')));
    UpdateControls();
}

bool TLinkTestWindow::SaveResults(const QString& csvPath, QString* error) const
{
    const QFileInfo f(csvPath);
    const QString jsonPath = f.path() + QLatin1Char('/') + f.completeBaseName() + QStringLiteral(".json");
    return WritePrivateFileAtomically(csvPath, result_.ToCsv(), error) &&
           WritePrivateFileAtomically(jsonPath, QJsonDocument(result_.ToJson(lastRequest_)).toJson(), error);
}

void TLinkTestWindow::closeEvent(QCloseEvent* e)
{
    // Closing the window stops a run, which ends by itself (frames on their
    // way are still awaited); the partial result stays for the next look.
    Stop();
    e->accept();
}

TLinkTestWindow* ShowLinkTestWindow(QWidget* owner, std::function<TPairPortSetup()> setup, int rfDataRateItem)
{
    auto* w = owner->findChild<TLinkTestWindow*>(QStringLiteral("LinkTestWindow"), Qt::FindDirectChildrenOnly);
    if (!w) w = new TLinkTestWindow(std::move(setup), rfDataRateItem, owner);
    else if (!w->Running()) w->RefreshPorts();
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}
