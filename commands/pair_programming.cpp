#include "commands/pair_programming.h"

#include <cstring>
#include <thread>

#include "commands/command_catalogue.h"
#include "commands/command_encoder.h"
#include "commands/command_exchange.h"
#include "commands/command_log.h"
#include "commands/command_run.h"
#include "module/config_image.h"
#include "module/line_claims.h"
#include "module/program_runs.h"
#include "module/session.h"
#include "module/xon_xoff_suspend.h"
#include "serial/com_port.h"

namespace {

const char* const kRoles[2] = {"Point A", "Point B"};

QString PortFailureText(const EComPort& e, const QString& path, TAdviceAudience audience)
{
    QString text = e.PortError() == CError_OpenFailed ? QStringLiteral("cannot open %1").arg(path)
                                                      : EComPort::ErrorText(e.PortError());
    if (e.SystemError() > 0) text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(e.SystemError())));
    const QString advice = PortErrorAdvice(e.PortError(), e.SystemError(), audience);
    if (!advice.isEmpty()) text += QStringLiteral(". ") + advice;
    return text;
}

void Fail(TPairModule& m, TPairFailure failure, const QString& error)
{
    m.failure = failure;
    m.error = error;
}

QString VersionText(const std::vector<uint8_t>& reply)
{
    QString text;
    for (uint8_t b : reply) text += (b >= 0x20 && b < 0x7F) ? QChar(b) : QLatin1Char('.');
    return text;
}

// "Read Version" as the Command page sends it, after whatever waits in the
// receive queue is drained.
QString ReadVersion(TModuleSession& session, TOperationObserver& observer)
{
    TXonXoffSuspend xonXoff(session.Port());
    TCommandRow row;
    row.command = cmd::ReadVersion;
    row.values.command = cmd::ReadVersion;
    TLogLine line([](const QString&) {});
    const TCommandRunResult r = RunCommandRow(session, observer, row, line, false, false, 0);
    return r.last.complete ? VersionText(r.last.reply) : QString();
}

// Passes everything on, and notes whether the erase may have gone out: it
// is sent unless a stop came before it.
class TEraseWatch : public TOperationObserver {
public:
    TEraseWatch(TOperationObserver& to, const TStopFlag* stop) : to_(to), stop_(stop) {}
    bool erased = false;

    void Progress(int percent, TOperationPhase phase) override
    {
        if (phase == TOperationPhase::Erasing && !(stop_ && stop_->Requested())) erased = true;
        to_.Progress(percent, phase);
    }
    void Failed(TOperationError error) override { to_.Failed(error); }
    bool AbortRequested() override { return to_.AbortRequested(); }
    void ClearAbort() override { to_.ClearAbort(); }
    void Pause(int32_t ms) override { to_.Pause(ms); }
    void KeepAlive() override { to_.KeepAlive(); }
    void Stage(const QString& mode) override { to_.Stage(mode); }
    void Beep() override { to_.Beep(); }

private:
    TOperationObserver& to_;
    const TStopFlag* stop_;
};

// What a stop left the module as, in the words the summary shows.
QString StoppedState(int slot, bool erased, bool verified)
{
    const QLatin1String role(kRoles[slot]);
    if (verified) return QStringLiteral("stopped after %1 was programmed and verified").arg(role);
    if (erased) return QStringLiteral("stopped after the erase: %1 is erased: program it again").arg(role);
    return QStringLiteral("stopped before the erase: %1 keeps its configuration").arg(role);
}

void RunModule(const TPairRequest& request, int slot, const TMemoryBytes& image, TPairModule& m)
{
    TBlockingObserver quiet(request.stop);
    TEraseWatch observer(request.observers[size_t(slot)] ? *request.observers[size_t(slot)] : quiet, request.stop);
    m.port = request.ports[size_t(slot)];
    m.image = image;
    const TLineClaim claim(m.port, QStringLiteral("Program Pair (%1)").arg(QLatin1String(kRoles[slot])));
    if (!claim.Ok()) return Fail(m, TPairFailure::Port, claim.Refusal());
    TComPort port;
    try {
        // No event thread: the operations poll the queue.
        port.SetEvents(0);
        if (request.setUpPort) request.setUpPort(port, m.port);
        port.SetPort(m.port);
        port.ShareTraffic(request.traffic);
        port.OpenPort();
    } catch (const EComPort& e) {
        return Fail(m, TPairFailure::Port, PortFailureText(e, m.port, request.audience));
    }
    if (!port.Connected()) return Fail(m, TPairFailure::Port, QStringLiteral("cannot open %1").arg(m.port));

    TModuleSession session(port, request.stop);
    try {
        // Verified on the programming line, before the flow control comes back.
        const TProgramRun run = ProgramConfigRun(session, observer, image, request.flowItem, true);
        if (!run.Programmed()) {
            Fail(m, TPairFailure::Module,
                 QString::fromLatin1(OperationErrorText(run.checked ? run.error : TOperationError::NoModule)));
        } else if (run.verify.error != TOperationError::None) {
            Fail(m, TPairFailure::Module, QStringLiteral("programmed, but the read-back failed: %1")
                                              .arg(QString::fromLatin1(OperationErrorText(run.verify.error))));
        } else if (!run.verify.differences.empty()) {
            Fail(m, TPairFailure::Module,
                 QStringLiteral("the read-back differs: %1").arg(DifferenceSummary(run.verify.differences)));
        } else {
            m.verified = true;
            m.version = ReadVersion(session, observer);
            if (m.version.isEmpty())
                Fail(m, TPairFailure::Module, QStringLiteral("programmed and verified, but the version did not come"));
            else
                m.failure = TPairFailure::None;
        }
    } catch (const EComPort& e) {
        // The device went away or refused mid-run.
        Fail(m, TPairFailure::Module, PortFailureText(e, m.port, request.audience));
    }
    // Whatever failed after a stop failed because of it: say where it ended.
    if (!m.Ok() && session.StopRequested()) {
        m.stopped = true;
        Fail(m, TPairFailure::Module, StoppedState(slot, observer.erased, m.verified));
    }
    try {
        port.ClosePort();
    } catch (const EComPort&) {
    }
}

QString ItemText(const char* const* items, int count, int item)
{
    return item >= 0 && item < count ? QString::fromLatin1(items[item]) : QStringLiteral("?");
}

}  // namespace

std::array<TMemoryBytes, 2> PairImages(const TConfigValues& values)
{
    std::array<TMemoryBytes, 2> images;
    for (int i = 0; i < 2; ++i) {
        TConfigValues v = values;
        v.masterSlave = i;
        images[size_t(i)] = ConfigImage(v);
    }
    return images;
}

TPairResult ProgramPair(const TPairRequest& request)
{
    const std::array<TMemoryBytes, 2> images = PairImages(request.values);
    TPairResult result;
    auto run = [&](int slot) {
        try {
            RunModule(request, slot, images[size_t(slot)], result.modules[size_t(slot)]);
        } catch (const std::exception& e) {
            Fail(result.modules[size_t(slot)], TPairFailure::Module, QString::fromLocal8Bit(e.what()));
        }
    };
    std::thread second(run, 1);
    run(0);
    second.join();
    return result;
}

QString KeyHint(const QString& key)
{
    if (key.size() <= 8) return key;
    return key.left(4) + QChar(0x2026) + key.right(4);
}

QStringList PairSummary(const TPairResult& result, const TConfigValues& values)
{
    static const char* const kModes[] = {"Cable Link", "Command", "Peripheral", "Remote Control", "AT Command"};
    static const char* const kRates[] = {"76800 bps", "38400 bps", "19200 bps", "9600 bps", "4800 bps"};
    QStringList lines;
    for (int i = 0; i < 2; ++i) {
        const TPairModule& m = result.modules[size_t(i)];
        QString line = QStringLiteral("%1 on %2: ").arg(QLatin1String(kRoles[i]), m.port);
        if (m.Ok())
            line += QStringLiteral("ok, programmed and verified, version %1").arg(m.version);
        else if (m.stopped)
            line += QStringLiteral("STOPPED: %1.").arg(m.error);
        else
            line += QStringLiteral("FAILED: %1. Redo this module (%2).").arg(m.error, QLatin1String(kRoles[i]));
        lines << line;
    }
    lines << QStringLiteral("Shared: mode %1, RF data rate %2, channel %3, key %4")
                 .arg(ItemText(kModes, 5, values.mode), ItemText(kRates, 5, values.rfDataRate))
                 .arg(values.channel)
                 .arg(KeyHint(values.key));
    return lines;
}
