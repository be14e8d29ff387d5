#include "station/ui/station_window.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "common/atomic_file.h"
#include "common/ui/dialogs.h"
#include "labels/station_label.h"
#include "module/config_image.h"
#include "module/operation_runner.h"
#include "record/record_location.h"
#include "settings/config_profile.h"
#include "station/station.h"
#include "station/station_record.h"
#include "station/station_tile.h"

namespace {

constexpr int kTileColumns = 4;
constexpr int kLastResults = 50;
const QString kProfileTitle = QStringLiteral("Station Profile");
const QString kLabelsTitle = QStringLiteral("Labels Folder");

QStringList SplitList(const QString& text)
{
    QStringList items;
    for (const QString& item : text.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!item.trimmed().isEmpty()) items << item.trimmed();
    return items;
}

// Events come on the sockets' threads; the window takes them on its own.
class TPostingObserver : public TStationObserver {
public:
    TPostingObserver(QObject* ctx, std::function<void(const TStationEvent&)> apply) : ctx_(ctx), apply_(std::move(apply)) {}
    void StationEvent(const TStationEvent& event) override
    {
        TOperationRunner::Post(ctx_, [apply = apply_, event] { apply(event); });
    }

private:
    QObject* ctx_;
    std::function<void(const TStationEvent&)> apply_;
};

}  // namespace

struct TStationWindow::TRun {
    std::unique_ptr<TProductionStationRecord> record;
    std::unique_ptr<TPostingObserver> observer;
    std::unique_ptr<TStation> station;
};

TStationTile::TStationTile(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("StationTile"));
    setFocusPolicy(Qt::StrongFocus);  // Tab reaches each tile; a screen reader reads its name
    setFixedSize(280, 190);
    Headline = new QLabel(this);
    QFont big = Headline->font();
    big.setPointSizeF(big.pointSizeF() * 2.6);
    big.setBold(true);
    Headline->setFont(big);
    Headline->setAlignment(Qt::AlignCenter);
    Detail = new QLabel(this);
    QFont detail = Detail->font();
    detail.setPointSizeF(detail.pointSizeF() * 1.4);
    detail.setBold(true);
    Detail->setFont(detail);
    Detail->setAlignment(Qt::AlignCenter);
    Detail->setWordWrap(true);
    SocketName = new QLabel(this);
    SocketName->setAlignment(Qt::AlignCenter);
    SocketName->setTextInteractionFlags(Qt::NoTextInteraction);
    Progress = new QProgressBar(this);
    Progress->setRange(0, 100);
    Progress->setTextVisible(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Headline, 1);
    layout->addWidget(Detail);
    layout->addWidget(Progress);
    layout->addWidget(SocketName);
    Show(view_);
}

void TStationTile::Show(const TSocketView& view)
{
    view_ = view;
    const TTileText t = SocketTileText(view);
    Headline->setText(t.headline);
    Detail->setText(t.detail);
    SocketName->setText(QStringLiteral("%1  %2").arg(view.socket + 1).arg(view.name));
    SocketName->setToolTip(view.name);
    Progress->setVisible(t.progress);
    Progress->setValue(t.percent);
    setAccessibleName(t.accessibleName);
    setAccessibleDescription(t.detail);
    // Green and red carry the verdict; the words PASS and FAIL say it too.
    QString background = QStringLiteral("#e4e4e4"), text = QStringLiteral("#303030");
    switch (view.state) {
    case TSocketState::Empty: break;
    case TSocketState::Running: background = QStringLiteral("#d6e6fb"); text = QStringLiteral("#0d2a52"); break;
    case TSocketState::Passed: background = QStringLiteral("#1b8a34"); text = QStringLiteral("#ffffff"); break;
    case TSocketState::Failed: background = QStringLiteral("#c0221e"); text = QStringLiteral("#ffffff"); break;
    }
    setStyleSheet(QStringLiteral("#StationTile { background: %1; border: 2px solid %1; border-radius: 10px; }"
                                 "#StationTile:focus { border: 3px solid #000000; }"
                                 "#StationTile QLabel { color: %2; background: transparent; }")
                      .arg(background, text));
}

TStationWindow::TStationWindow(std::function<TPortChoices()> lineSettings, QWidget* parent)
    : QWidget(parent, Qt::Window), lineSettings_(std::move(lineSettings))
{
    setObjectName(QStringLiteral("StationWindow"));
    setWindowTitle(QStringLiteral("Station"));
    resize(1100, 720);

    ProfileEdit = new QLineEdit(this);
    ProfileEdit->setPlaceholderText(QStringLiteral("a profile saved by the Config Memory page"));
    ProfileBrowse = new QPushButton(QStringLiteral("&Browse…"), this);
    UnitAddressEdit = new QLineEdit(QStringLiteral("next"), this);
    UnitAddressEdit->setPlaceholderText(QStringLiteral("0100 (and up), next, or a file of by-id names and addresses"));
    WatchEdit = new QLineEdit(QStringLiteral("/dev/serial/by-id"), this);
    WatchEdit->setPlaceholderText(QStringLiteral("folders whose entries are serial devices, separated by ;"));
    PortsEdit = new QLineEdit(this);
    PortsEdit->setPlaceholderText(QStringLiteral("fixed adapters where modules are swapped, separated by ;"));
    LabelsEdit = new QLineEdit(this);
    LabelsEdit->setPlaceholderText(QStringLiteral("empty: no label files"));
    LabelsBrowse = new QPushButton(QStringLiteral("Br&owse…"), this);
    PrinterEdit = new QLineEdit(this);
    PrinterEdit->setPlaceholderText(QStringLiteral("CUPS printer; empty: labels are not printed"));
    LabelSizeEdit = new QLineEdit(TLabelSize{}.ToText(), this);
    LabelSizeEdit->setPlaceholderText(QStringLiteral("width x height in mm"));
    StartButton = new QPushButton(QStringLiteral("&Start"), this);
    StopButton = new QPushButton(QStringLiteral("S&top"), this);
    StopButton->setEnabled(false);
    ProfileEdit->setAccessibleName(QStringLiteral("Profile"));
    UnitAddressEdit->setAccessibleName(QStringLiteral("Unit addresses"));
    WatchEdit->setAccessibleName(QStringLiteral("Watched folders"));
    PortsEdit->setAccessibleName(QStringLiteral("Fixed ports"));
    LabelsEdit->setAccessibleName(QStringLiteral("Labels folder"));
    PrinterEdit->setAccessibleName(QStringLiteral("Printer"));
    LabelSizeEdit->setAccessibleName(QStringLiteral("Label size"));
    ProfileBrowse->setAccessibleName(QStringLiteral("Browse for the profile"));
    LabelsBrowse->setAccessibleName(QStringLiteral("Browse for the labels folder"));

    auto* form = new QFormLayout;
    auto row = [&](const QString& caption, QWidget* field, QWidget* extra = nullptr) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(field);
        if (!extra) {
            form->addRow(label, field);
            return;
        }
        auto* line = new QHBoxLayout;
        line->addWidget(field, 1);
        line->addWidget(extra);
        form->addRow(label, line);
    };
    row(QStringLiteral("&Profile:"), ProfileEdit, ProfileBrowse);
    row(QStringLiteral("&Unit addresses:"), UnitAddressEdit);
    row(QStringLiteral("&Watched folders:"), WatchEdit);
    row(QStringLiteral("Fixed po&rts:"), PortsEdit);
    row(QStringLiteral("&Labels folder:"), LabelsEdit, LabelsBrowse);
    row(QStringLiteral("Pri&nter:"), PrinterEdit);
    row(QStringLiteral("Label si&ze:"), LabelSizeEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(StartButton);
    buttons->addWidget(StopButton);
    buttons->addStretch(1);

    PassedLabel = new QLabel(this);
    FailedLabel = new QLabel(this);
    YieldLabel = new QLabel(this);
    RateLabel = new QLabel(this);
    auto* sums = new QHBoxLayout;
    for (QLabel* l : {PassedLabel, FailedLabel, YieldLabel, RateLabel}) {
        QFont f = l->font();
        f.setPointSizeF(f.pointSizeF() * 1.5);
        f.setBold(true);
        l->setFont(f);
        l->setFocusPolicy(Qt::TabFocus);  // read by a screen reader in the tab order
        sums->addWidget(l);
        sums->addSpacing(24);
    }
    sums->addStretch(1);

    tileArea_ = new QWidget(this);
    tileGrid_ = new QGridLayout(tileArea_);
    tileGrid_->setSpacing(12);
    tileGrid_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(tileArea_);
    scroll->setFocusPolicy(Qt::NoFocus);

    LastResults = new QListWidget(this);
    LastResults->setAccessibleName(QStringLiteral("Last results"));
    LastResults->setMaximumHeight(130);
    Status = new QLabel(this);
    Status->setWordWrap(true);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addLayout(sums);
    layout->addWidget(scroll, 1);
    layout->addWidget(new QLabel(QStringLiteral("Last results:"), this));
    layout->addWidget(LastResults);
    layout->addWidget(Status);

    sumsTimer_ = new QTimer(this);
    sumsTimer_->setInterval(1000);
    connect(sumsTimer_, &QTimer::timeout, this, [this] { UpdateSums(); });
    connect(StartButton, &QPushButton::clicked, this, [this] { StartClick(); });
    connect(StopButton, &QPushButton::clicked, this, [this] { StopClick(); });
    connect(ProfileBrowse, &QPushButton::clicked, this, [this] {
        const QString path = Dialogs().OpenFileName(this, kProfileTitle, QStringLiteral("Profiles (*.json);;All files (*)"),
                                                    QStringLiteral("json"));
        if (!path.isEmpty()) ProfileEdit->setText(path);
    });
    connect(LabelsBrowse, &QPushButton::clicked, this, [this] {
        // The chooser of a file in the folder: its folder is taken.
        const QString path = Dialogs().SaveFileName(this, kLabelsTitle, QStringLiteral("Labels (*.png)"), QStringLiteral("png"));
        if (!path.isEmpty()) LabelsEdit->setText(QFileInfo(path).absolutePath());
    });
    UpdateSums();
    SetStatus(QStringLiteral("Choose the profile and where modules are plugged, then Start."));
}

TStationWindow::~TStationWindow()
{
    // The station's sockets post to this window: they end before it goes.
    if (Running()) {
        run_->station->StopNow();
        TOperationRunner::Panel().RequestStop();
        TOperationRunner::Panel().Finish();
    }
}

bool TStationWindow::Running() const
{
    return run_ && run_->station;
}

void TStationWindow::SetStatus(const QString& text, bool error)
{
    Status->setText(text);
    Status->setStyleSheet(error ? QStringLiteral("color: #b00000; font-weight: bold;") : QString());
}

void TStationWindow::SetRunning(bool running)
{
    for (QWidget* w : std::initializer_list<QWidget*>{ProfileEdit, ProfileBrowse, UnitAddressEdit, WatchEdit, PortsEdit,
                                                      LabelsEdit, LabelsBrowse, PrinterEdit, LabelSizeEdit, StartButton})
        w->setEnabled(!running);
    StopButton->setEnabled(running);
    StopButton->setText(QStringLiteral("S&top"));
    if (running)
        sumsTimer_->start();
    else
        sumsTimer_->stop();
}

bool TStationWindow::StartClick()
{
    if (Running()) return false;
    TOperationRunner& runner = TOperationRunner::Panel();
    const QString refusal = runner.Refusal();
    if (!refusal.isEmpty()) {
        SetStatus(refusal, true);
        return false;
    }
    auto fail = [this](const QString& text) {
        SetStatus(text, true);
        return false;
    };

    // The profile, checked as the Config Memory page loads it.
    const QString profilePath = ProfileEdit->text().trimmed();
    if (profilePath.isEmpty()) return fail(QStringLiteral("Choose the profile the modules get."));
    QByteArray bytes;
    QString error;
    if (!ReadSmallFile(profilePath, 1 << 20, &bytes, &error)) return fail(QStringLiteral("Profile %1: %2").arg(profilePath, error));
    const TConfigProfileRead profile = ReadConfigProfile(bytes);
    if (!profile.check.ok)
        return fail(QStringLiteral("Profile %1:\n%2").arg(profilePath, profile.check.Lines().join(QLatin1Char('\n'))));

    TUnitAddressPlan plan;
    if (UnitAddressEdit->text().trimmed().isEmpty())
        return fail(QStringLiteral("Give the unit addresses: the first one (0100), next, or a file."));
    if (!ParseUnitAddressPlan(UnitAddressEdit->text().trimmed(), &plan, &error)) return fail(error);

    TStationLabelSetup labels;
    labels.dir = LabelsEdit->text().trimmed();
    labels.printer = PrinterEdit->text().trimmed();
    labels.profileName = QFileInfo(profilePath).completeBaseName();
    labels.profile = profile.values;
    if (!TLabelSize::Parse(LabelSizeEdit->text(), &labels.size, &error)) return fail(error);

    const TPortChoices line = lineSettings_ ? lineSettings_() : TPortChoices{};
    TStationSetup setup;
    setup.profileName = labels.profileName;
    const TConfigImage image = ConfigImage(profile.values);
    std::copy_n(image.begin(), std::min(image.size(), setup.image.size()), setup.image.begin());
    setup.watchDirs = SplitList(WatchEdit->text());
    setup.ports = SplitList(PortsEdit->text());
    if (setup.watchDirs.isEmpty() && setup.ports.isEmpty())
        return fail(QStringLiteral("Name a watched folder (such as /dev/serial/by-id) or a fixed port."));
    setup.setUpPort = [line](TCustomComPort& port, const QString& path) {
        TPortChoices c = line;  // the Com Port page's line settings
        c.port = path;
        ApplyPortChoices(port, c);
    };
    setup.flowItem = line.flowItem;
    setup.programVersion = QStringLiteral("tarnwick-panel %1").arg(QCoreApplication::applicationVersion()).trimmed();
    if (labels.IsSet()) setup.label = [labels](const TStationLabelRequest& r) { return MakeStationLabel(r, labels); };

    auto run = std::make_shared<TRun>();
    run->record = std::make_unique<TProductionStationRecord>(SavedRecordLocation(), plan);
    if (!run->record->Prepare(&error)) return fail(QStringLiteral("The record: %1").arg(error));
    run->observer = std::make_unique<TPostingObserver>(this, [this](const TStationEvent& e) { Apply(e); });
    run->station = std::make_unique<TStation>(setup, *run->record, *run->observer);
    QStringList warnings;
    if (!run->station->Start(&error, &warnings)) return fail(error);

    // A new station: new tiles, new sums.
    for (TStationTile* tile : tiles_) delete tile;
    tiles_.clear();
    LastResults->clear();
    run_ = run;
    stopping_ = false;
    QString reason;
    if (!runner.Start(QStringLiteral("Station"), [run](TStopFlag& stop) { run->station->Run(&stop); }, [this] { Ended(); },
                      &reason)) {
        run_.reset();
        return fail(reason);
    }
    SetRunning(true);
    UpdateSums();
    SetStatus(warnings.isEmpty() ? QStringLiteral("Running: plug the modules.")
                                 : QStringLiteral("Running: plug the modules. %1").arg(warnings.join(QLatin1Char(' '))),
              !warnings.isEmpty());
    return true;
}

void TStationWindow::StopClick()
{
    if (!Running()) return;
    if (!stopping_) {
        stopping_ = true;
        run_->station->StopTaking();
        StopButton->setText(QStringLiteral("S&top Now"));
        SetStatus(QStringLiteral("Stopping: no new module is taken, the running ones finish. Stop again to stop them."));
        return;
    }
    run_->station->StopNow();
    StopButton->setEnabled(false);
    SetStatus(QStringLiteral("Stopping the running modules…"));
}

void TStationWindow::Ended()
{
    if (!run_) return;
    QString failure;
    try {
        TOperationRunner::Panel().RethrowFailure();
    } catch (const std::exception& e) {
        failure = QString::fromLocal8Bit(e.what());
    } catch (...) {
        failure = QStringLiteral("unknown error");
    }
    UpdateSums();
    const TSumsText s = StationSumsText(run_->station->Sums());
    run_.reset();  // every socket has ended
    SetRunning(false);
    if (failure.isEmpty())
        SetStatus(QStringLiteral("Stopped. %1, %2, %3.").arg(s.passed, s.failed, s.yield));
    else
        SetStatus(QStringLiteral("The station stopped on an error: %1").arg(failure), true);
}

void TStationWindow::UpdateSums()
{
    const TSumsText s = StationSumsText(Running() ? run_->station->Sums() : TStationSums{});
    if (!Running() && !PassedLabel->text().isEmpty()) return;  // the last run's sums stay shown
    PassedLabel->setText(s.passed);
    FailedLabel->setText(s.failed);
    YieldLabel->setText(s.yield);
    RateLabel->setText(s.perHour);
}

void TStationWindow::Apply(const TStationEvent& event)
{
    if (event.socket < 0) return;
    while (int(tiles_.size()) <= event.socket) {
        auto* tile = new TStationTile(tileArea_);
        const int index = int(tiles_.size());
        TSocketView empty;
        empty.socket = index;
        tile->Show(empty);
        tileGrid_->addWidget(tile, index / kTileColumns, index % kTileColumns);
        tiles_.push_back(tile);
    }
    TStationTile* tile = tiles_[size_t(event.socket)];
    TSocketView view = tile->View();
    view.socket = event.socket;
    view.name = event.socketName;
    switch (event.kind) {
    case TStationEvent::Plugged:  // the last result goes with the next module
        view.state = event.state;
        view.step = event.step;
        view.percent = event.percent;
        view.last = {};
        break;
    case TStationEvent::Step:
        view.state = event.state;
        view.step = event.step;
        view.percent = event.percent;
        break;
    case TStationEvent::Finished:
        view.state = event.state;
        view.step = event.step;
        view.last = event.result;
        LastResults->insertItem(0, StationResultLine(event.socketName, event.result, QDateTime::currentDateTime()));
        while (LastResults->count() > kLastResults) delete LastResults->takeItem(LastResults->count() - 1);
        UpdateSums();
        break;
    case TStationEvent::Unplugged:  // a result stays until the next module
        if (view.state != TSocketState::Passed && view.state != TSocketState::Failed) view.state = event.state;
        break;
    }
    tile->Show(view);
}
