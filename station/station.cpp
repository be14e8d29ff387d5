#include "station/station.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "module/config_image.h"
#include "module/line_claims.h"
#include "module/program_runs.h"
#include "module/session.h"
#include "record/image_hash.h"
#include "record/production_record.h"
#include "record/unit_reservation.h"
#include "serial/com_port.h"
#include "serial/port_list.h"
#include "station/folder_watch.h"
#include "station/station_record.h"

QString StationStepName(TStationStep step)
{
    switch (step) {
    case TStationStep::None: return QStringLiteral("waiting");
    case TStationStep::Check: return QStringLiteral("Check");
    case TStationStep::ReadConfig: return QStringLiteral("Read Config");
    case TStationStep::ProgramConfig: return QStringLiteral("Program Config");
    case TStationStep::Verify: return QStringLiteral("Verify");
    case TStationStep::Record: return QStringLiteral("Record");
    case TStationStep::Label: return QStringLiteral("Label");
    }
    return {};
}

struct TStation::Impl {
    struct TSocket {
        int index = 0;
        QString name;  // the entry's name or the fixed port
        QString path;  // what is opened
        bool fixed = false;
        std::thread thread;
        // Under m_.
        bool plugPending = false;
        bool unplugPending = false;
        bool present = false;
        bool running = false;
        bool hadModule = false;
        bool settling = false;
        bool used = false;  // has had a module: shown as a tile
        bool pulled = false;  // the running module's entry went
        TSocketView view;
        QString lastFailedRow;      // the try a module plugged next in its place repeats
        QString lastFailedAddress;  // and the address it had reserved, given to that redo
        QString lastFailedSerial;   // and its adapter's USB serial number (empty when none)
        TStopFlag stop;         // the module's run (pulled, StopNow)
    };

    Impl(const TStationSetup& s, TStationRecord& r, TStationObserver& o) : setup(s), record(r), observer(o) {}

    TStationSetup setup;
    TStationRecord& record;
    TStationObserver& observer;

    mutable std::mutex m_;
    std::condition_variable cv_;
    bool started_ = false;
    bool taking_ = true;
    bool closing_ = false;
    bool stopNow_ = false;
    int running_ = 0;
    TStationSums sums_;
    QElapsedTimer clock_;
    std::vector<std::unique_ptr<TSocket>> sockets_;
    TFolderWatch watch_;
    bool watching_ = false;
    std::thread watcher_;
    TStopFlag wake_;  // ends the fixed ports' polling pauses when the station closes

    // ---------------------------------------------------------------- events

    void Emit(TSocket& s, TStationEvent::Kind kind, const TStationModuleResult* result = nullptr)
    {
        TStationEvent e;
        {
            std::lock_guard<std::mutex> lock(m_);
            e.kind = kind;
            e.socket = s.index;
            e.socketName = s.name;
            e.state = s.view.state;
            e.step = s.view.step;
            e.percent = s.view.percent;
            if (result) e.result = *result;
        }
        observer.StationEvent(e);
    }

    void SetStep(TSocket& s, TStationStep step, int percent = 0)
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            if (s.view.step == step && s.view.percent == percent) return;
            s.view.step = step;
            s.view.percent = percent;
        }
        Emit(s, TStationEvent::Step);
    }

    // The runners' reports, as steps of the socket.
    class TSocketObserver : public TBlockingObserver {
    public:
        TSocketObserver(Impl& impl, TSocket& s) : TBlockingObserver(&s.stop), impl_(impl), s_(s) {}
        void Progress(int percent, TOperationPhase) override
        {
            impl_.SetStep(s_, step_, std::clamp(percent, 0, 100));
        }
        void Stage(const QString& mode) override
        {
            if (mode == QLatin1String("Verifying")) Step(TStationStep::Verify);
        }
        bool AbortRequested() override { return s_.stop.Requested(); }
        void Step(TStationStep step)
        {
            step_ = step;
            impl_.SetStep(s_, step, 0);
        }
        TStationStep Current() const { return step_; }

    private:
        Impl& impl_;
        TSocket& s_;
        TStationStep step_ = TStationStep::None;
    };

    // ---------------------------------------------------------------- sockets

    TSocket& AddSocket(const QString& name, const QString& path, bool fixed)
    {
        auto s = std::make_unique<TSocket>();
        s->index = int(sockets_.size());
        s->name = name;
        s->path = path;
        s->fixed = fixed;
        s->view.socket = s->index;
        s->view.name = name;
        TSocket& ref = *s;
        sockets_.push_back(std::move(s));
        ref.thread = std::thread([this, &ref, fixed] { fixed ? FixedLoop(ref) : WatchedLoop(ref); });
        return ref;
    }

    TSocket* Find(const QString& name)
    {
        for (auto& s : sockets_)
            if (!s->fixed && s->path == name) return s.get();
        return nullptr;
    }

    // Watcher thread: plugs and unplugs handed to the sockets.
    void WatchLoop(const std::vector<TFolderChange>& present)
    {
        auto hand = [this](const std::vector<TFolderChange>& changes) {
            std::lock_guard<std::mutex> lock(m_);
            for (const TFolderChange& c : changes) {
                TSocket* s = Find(c.path);
                if (c.plugged) {
                    if (!s) s = &AddSocket(c.name, c.path, false);
                    s->present = true;
                    s->plugPending = true;
                } else if (s) {
                    s->present = false;
                    s->plugPending = false;
                    if (s->hadModule) s->unplugPending = true;
                    // A module taken out mid-way is failed now, not at the next time-out.
                    if (s->running) {
                        s->pulled = true;
                        s->stop.Request();
                    }
                }
            }
            cv_.notify_all();
        };
        hand(present);
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_);
                if (closing_) return;
            }
            hand(watch_.Wait(setup.settleMs));
        }
    }

    void WatchedLoop(TSocket& s)
    {
        for (;;) {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [&] { return closing_ || s.unplugPending || (s.plugPending && taking_); });
            if (s.unplugPending) {
                s.unplugPending = false;
                s.hadModule = false;
                lock.unlock();
                Emit(s, TStationEvent::Unplugged);
                continue;
            }
            if (closing_) return;
            s.plugPending = false;
            // A new entry is opened once it has stayed settleMs (udev sets the
            // device up meanwhile; a link under a passing name is gone by then).
            s.settling = true;
            s.stop.Reset();
            lock.unlock();
            s.stop.Sleep(setup.settleMs);
            lock.lock();
            s.settling = false;
            if (closing_ || !s.present || !taking_) {
                cv_.notify_all();
                continue;
            }
            Begin(s);
            lock.unlock();
            RunModule(s);
        }
    }

    // A fixed adapter: a module is there while it answers the check.
    bool Answers(TSocket& s)
    {
        const TLineClaim claim(s.path, QStringLiteral("the station"));
        if (!claim.Ok()) return false;
        try {
            TComPort port;
            SetUpPort(port, s.path);
            port.OpenPort();
            if (!port.Connected()) return false;
            TModuleSession session(port, &wake_);
            TBlockingObserver quiet(&wake_);
            const bool ok = session.Communication_Check(quiet);
            port.ClosePort();
            return ok;
        } catch (const EComPort&) {
            return false;
        }
    }

    void FixedLoop(TSocket& s)
    {
        bool waitingForRemoval = false;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_);
                if (!taking_) {
                    // No new module is taken: nothing more to watch for.
                    cv_.wait(lock, [&] { return closing_; });
                    return;
                }
            }
            const bool answers = Answers(s);
            if (waitingForRemoval && !answers) {
                waitingForRemoval = false;
                {
                    std::lock_guard<std::mutex> lock(m_);
                    s.hadModule = false;
                }
                Emit(s, TStationEvent::Unplugged);
            } else if (!waitingForRemoval && answers) {
                {
                    std::lock_guard<std::mutex> lock(m_);
                    if (!taking_) continue;
                    Begin(s);
                }
                RunModule(s);
                waitingForRemoval = true;
                continue;  // the module stays until it stops answering
            }
            wake_.Sleep(setup.pollMs);
        }
    }

    void SetUpPort(TCustomComPort& port, const QString& path)
    {
        port.SetEvents(0);
        port.SetPort(path);
        if (setup.setUpPort) setup.setUpPort(port, path);
        port.SetPort(path);
    }

    // ---------------------------------------------------------------- one module

    // Under m_: the socket takes a module (counted as running from now).
    void Begin(TSocket& s)
    {
        s.running = true;
        s.hadModule = true;
        s.used = true;
        s.pulled = false;
        ++running_;
        s.stop.Reset();
        if (stopNow_) s.stop.Request();
        s.view.state = TSocketState::Running;
        s.view.step = TStationStep::None;
        s.view.percent = 0;
        s.view.last = {};
    }

    void RunModule(TSocket& s)
    {
        QElapsedTimer timer;
        timer.start();
        // Read while the module is there: a pulled adapter's node goes.
        const QString usbSerial = PortUsbSerial(s.path);
        QString redoOf, again;
        {
            std::lock_guard<std::mutex> lock(m_);
            // Another module in the socket (its serial number says so, as in
            // a folder of by-path links) is no redo: it gets an address of its own.
            if (usbSerial.isEmpty() || s.lastFailedSerial.isEmpty() || usbSerial == s.lastFailedSerial) {
                redoOf = s.lastFailedRow;
                again = s.lastFailedAddress;
            }
        }
        Emit(s, TStationEvent::Plugged);

        TRecordEntry row = NewRecordEntry(setup.programVersion, QStringLiteral("program-config"));
        TStationModuleResult r;
        r.port = s.path;
        r.byId = s.fixed ? QString() : s.path;
        r.rowId = row.rowId;
        r.redoOf = redoOf;
        TSocketObserver obs(*this, s);
        TMemoryBytes written{};
        bool wrote = false;
        bool portFailed = false;
        bool hungUp = false;
        QString portError;

        auto fail = [&](const QString& error) {
            r.ok = false;
            r.failedStep = obs.Current();
            r.error = error;
        };
        {
            obs.Step(TStationStep::Check);
            const TLineClaim claim(s.path, QStringLiteral("station socket %1").arg(s.index + 1));
            TComPort port;
            if (!claim.Ok()) {
                fail(claim.Refusal());
            } else {
                try {
                    SetUpPort(port, s.path);
                    port.OpenPort();
                    TModuleSession session(port, &s.stop);
                    RunSteps(s, session, obs, r, again, written, wrote);
                } catch (const EComPort& e) {
                    // EIO: the line hung up, as a pulled adapter's does.
                    portFailed = true;
                    hungUp = e.SystemError() == EIO;
                    portError = EComPort::ErrorText(e.PortError());
                    if (e.SystemError() > 0)
                        portError += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(e.SystemError())));
                }
            }
            try {
                port.ClosePort();
            } catch (const EComPort&) {
            }
        }
        bool pulled = false;
        bool stopped = false;
        {
            std::lock_guard<std::mutex> lock(m_);
            // The entry went while it ran (an unplug and a plug under the
            // same name in one look leave it present: still pulled).
            pulled = s.pulled;
            stopped = stopNow_;
        }
        if (!r.ok && r.error.isEmpty()) {
            r.failedStep = obs.Current();
            const QString step = StationStepName(r.failedStep);
            if (pulled || hungUp)
                r.error = QStringLiteral("pulled during %1: plug it again").arg(step);
            else if (portFailed)
                r.error = QStringLiteral("the port failed during %1: %2: plug it again").arg(step, portError);
            else if (s.stop.Requested()) {
                // The station was stopped: not judged.
                r.stopped = stopped;
                r.error = QStringLiteral("stopped during %1: plug it again").arg(step);
            }
            else
                r.error = QStringLiteral("no answer during %1: check the module and plug it again").arg(step);
        }

        // The row: written for every try, a failure too, before the label.
        {
            if (r.ok) obs.Step(TStationStep::Record);
            row.port = s.path;
            row.portById = s.fixed ? PortByIdName(s.path) : s.path;
            row.redoOf = r.redoOf;
            row.usbSerial = usbSerial;
            row.profile = setup.profileName;
            row.unitAddress = r.unitAddress;
            if (r.alreadyProgrammed) row.operation = QStringLiteral("read-config");
            const TMemoryBytes& image = wrote ? written : setup.image;
            row.imageSha256 = ConfigImageHashWithoutKey(image.data(), int(image.size()));
            row.keyFingerprint = ConfigKeyFingerprint(image.data(), int(image.size()));
            row.verified = r.ok ? QStringLiteral("yes") : QStringLiteral("no");
            row.outcome = r.ok ? QStringLiteral("ok") : r.stopped ? QStringLiteral("stopped") : QStringLiteral("failed");
            row.exitStatus = r.ok ? 0 : r.stopped ? 5 : 1;  // the tool's statuses: 5 stopped before its end
            row.error = r.error;
            row.durationMs = timer.elapsed();
            const TStationRecord::TStored stored = record.Store(row);
            r.recordNotice = stored.notice;
            r.rowWaits = stored.kind == TStationRecord::TStored::Spooled;
            if (stored.kind == TStationRecord::TStored::Lost) {
                // No row anywhere: the module is not done (no label names a
                // row that does not exist); plugged again it is redone.
                r.rowId.clear();
                if (r.ok) {
                    r.ok = false;
                    r.failedStep = TStationStep::Record;
                    r.error = QStringLiteral("not recorded: %1: plug it again").arg(stored.notice);
                }
            }
        }
        if (r.ok && setup.label) {
            obs.Step(TStationStep::Label);
            TStationLabelRequest q;
            q.unitAddress = r.unitAddress;
            q.rowId = r.rowId;
            q.profileName = setup.profileName;
            q.port = s.path;
            q.byId = r.byId;
            q.station = row.station;
            q.timeUtc = row.timeUtc;
            q.image = wrote ? written : setup.image;
            if (!wrote) SetImageUnitAddress(q.image, r.unitAddress.toInt(nullptr, 16));
            const TStationLabelOutcome label = setup.label(q);
            r.label = label.file;
            if (!label.ok) {
                r.ok = false;
                r.failedStep = TStationStep::Label;
                r.error = QStringLiteral("no label: %1").arg(label.error);
            }
        }
        r.durationMs = timer.elapsed();
        {
            std::lock_guard<std::mutex> lock(m_);
            s.running = false;
            --running_;
            (r.ok ? sums_.passed : r.stopped ? sums_.stopped : sums_.failed)++;
            if (r.rowWaits) ++sums_.notRecorded;
            // A failure at the label leaves a module that is programmed and recorded: no redo.
            const bool redo = !r.ok && r.failedStep != TStationStep::Label;
            s.lastFailedRow = redo ? r.rowId : QString();
            s.lastFailedAddress = redo ? r.unitAddress : QString();
            s.lastFailedSerial = redo ? usbSerial : QString();
            s.view.state = r.ok ? TSocketState::Passed : TSocketState::Failed;
            s.view.step = r.ok ? TStationStep::None : r.failedStep;
            s.view.percent = r.ok ? 100 : s.view.percent;
            s.view.last = r;
        }
        Emit(s, TStationEvent::Finished, &r);
        cv_.notify_all();
    }

    // Check, Read Config, Program Config with verify. r.ok only when all passed.
    void RunSteps(TSocket& s, TModuleSession& session, TSocketObserver& obs, TStationModuleResult& r,
                  const QString& again, TMemoryBytes& written, bool& wrote)
    {
        if (!session.Communication_Check(obs)) return;
        obs.Step(TStationStep::ReadConfig);
        const TMemoryRead before = ReadAreaRun(session, obs, kConfigFirstBlock);
        if (!before.Ok()) return;

        // Nothing done twice: this profile with an address the record gave.
        const int held = ImageUnitAddress(before.bytes);
        if (!setup.reprogram && held >= 0) {
            TMemoryBytes expected = setup.image;
            SetImageUnitAddress(expected, held);
            if (expected == before.bytes && record.Given(UnitAddressText(held))) {
                r.ok = true;
                r.alreadyProgrammed = true;
                r.unitAddress = UnitAddressText(held);
                return;
            }
        }

        obs.Step(TStationStep::ProgramConfig);
        TStationRecord::TReservation reserved;
        QString error;
        if (!record.Reserve(s.path, r.byId, again, &reserved, &error)) {
            r.failedStep = TStationStep::ProgramConfig;
            r.error = QStringLiteral("no unit address: %1").arg(error);
            return;
        }
        const QString address = reserved.address;
        r.unitAddress = address;
        if (!reserved.redoOf.isEmpty()) r.redoOf = reserved.redoOf;
        written = setup.image;
        SetImageUnitAddress(written, address.toInt(nullptr, 16));
        wrote = true;
        const TProgramRun run = ProgramConfigRun(session, obs, written, setup.flowItem, true);
        if (s.stop.Requested() || !run.Programmed()) return;
        if (run.verify.error != TOperationError::None) return;
        if (!run.verify.differences.empty()) {
            r.failedStep = TStationStep::Verify;
            r.error = QStringLiteral("verification failed: %1: plug it again").arg(DifferenceSummary(run.verify.differences));
            return;
        }
        r.ok = true;
    }

    // ---------------------------------------------------------------- control

    bool Idle() const
    {
        if (running_) return false;
        for (const auto& s : sockets_)
            if ((s->plugPending && taking_) || s->settling) return false;
        return true;
    }

    void Close()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            closing_ = true;
            taking_ = false;
            stopNow_ = true;
            for (auto& s : sockets_) s->stop.Request();
        }
        wake_.Request();
        watch_.Wake();
        cv_.notify_all();
        if (watcher_.joinable()) watcher_.join();
        // No socket is added any more: the watcher has ended.
        for (auto& s : sockets_)
            if (s->thread.joinable()) s->thread.join();
    }
};

TStation::TStation(const TStationSetup& setup, TStationRecord& record, TStationObserver& observer)
    : d_(std::make_unique<Impl>(setup, record, observer))
{
}

TStation::~TStation() { d_->Close(); }

bool TStation::Start(QString* error, QStringList* warnings)
{
    QStringList problems;
    QStringList dirs = d_->setup.watchDirs;
    if (dirs.isEmpty() && d_->setup.ports.isEmpty()) dirs << QStringLiteral("/dev/serial/by-id");
    for (const QString& dir : dirs) {
        QString e;
        if (d_->watch_.Add(dir, &e)) d_->watching_ = true;
        else problems << e;
    }
    std::vector<QString> fixed;
    for (const QString& port : d_->setup.ports) {
        // Usable when it opens now; a module need not be there yet.
        const TLineClaim claim(port, QStringLiteral("the station"));
        if (!claim.Ok()) {
            problems << claim.Refusal();
            continue;
        }
        try {
            TComPort p;
            d_->SetUpPort(p, port);
            p.OpenPort();
            p.ClosePort();
            fixed.push_back(port);
        } catch (const EComPort& e) {
            problems << QStringLiteral("cannot open %1: %2").arg(port, EComPort::ErrorText(e.PortError()));
        }
    }
    if (!d_->watching_ && fixed.empty()) {
        if (error) *error = problems.isEmpty() ? QStringLiteral("nothing to watch") : problems.join(QStringLiteral("; "));
        return false;
    }
    if (warnings) *warnings = problems;
    std::lock_guard<std::mutex> lock(d_->m_);
    d_->started_ = true;
    d_->clock_.start();
    for (const QString& port : fixed) d_->AddSocket(port, port, true);
    // What is plugged already counts as plugged now.
    if (d_->watching_) d_->watcher_ = std::thread([this, present = d_->watch_.Present()] { d_->WatchLoop(present); });
    return true;
}

void TStation::StopTaking()
{
    {
        std::lock_guard<std::mutex> lock(d_->m_);
        d_->taking_ = false;
    }
    d_->cv_.notify_all();
}

void TStation::StopNow()
{
    {
        std::lock_guard<std::mutex> lock(d_->m_);
        d_->taking_ = false;
        d_->stopNow_ = true;
        for (auto& s : d_->sockets_) s->stop.Request();
    }
    d_->wake_.Request();
    d_->cv_.notify_all();
}

bool TStation::Taking() const
{
    std::lock_guard<std::mutex> lock(d_->m_);
    return d_->taking_;
}

void TStation::Run(TStopFlag* stop)
{
    std::unique_lock<std::mutex> lock(d_->m_);
    for (;;) {
        if (!d_->taking_ && !d_->running_) return;
        if (stop && stop->Requested() && !d_->stopNow_) {
            lock.unlock();
            StopNow();
            lock.lock();
            continue;
        }
        // The stop flag has no waiter of ours: looked at a few times a second.
        d_->cv_.wait_for(lock, std::chrono::milliseconds(stop ? 100 : 1000));
    }
}

bool TStation::WaitEnded(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d_->m_);
    return d_->cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return !d_->taking_ && !d_->running_; });
}

bool TStation::WaitIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d_->m_);
    return d_->cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return d_->Idle(); });
}

TStationSums TStation::Sums() const
{
    std::lock_guard<std::mutex> lock(d_->m_);
    TStationSums s = d_->sums_;
    s.elapsedMs = d_->started_ ? d_->clock_.elapsed() : 0;
    return s;
}

std::vector<TSocketView> TStation::Sockets() const
{
    std::lock_guard<std::mutex> lock(d_->m_);
    std::vector<TSocketView> out;
    for (const auto& s : d_->sockets_)
        if (s->used) out.push_back(s->view);
    return out;
}
