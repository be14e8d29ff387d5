#include "tools/cli/cli_commands.h"

#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/atomic_file.h"
#include "commands/command_catalogue.h"
#include "commands/command_exchange.h"
#include "commands/command_log.h"
#include "commands/command_run.h"
#include "commands/pair_programming.h"
#include "module/line_claims.h"
#include "module/config_decoder.h"
#include "module/memory_operations.h"
#include "module/module_finder.h"
#include "module/port_error_advice.h"
#include "module/port_setup.h"
#include "module/session.h"
#include "serial/com_port.h"
#include "serial/port_list.h"
#include "settings/config_profile.h"
#include "settings/key_generator.h"
#include "tools/cli/cli_profile.h"
#include "tools/cli/cli_record.h"
#include "tools/cli/port_listing.h"
#include "tools/cli/port_runner.h"
#include "module/program_runs.h"
#include "tools/cli/progress_display.h"
#include "tools/cli/result_output.h"
#include "tools/cli/scan_command.h"
#include "tools/cli/send_params.h"

namespace {

std::atomic<bool> g_abort{false};

void OnInterrupt(int)
{
    // The second Ctrl-C does not wait for a safe point.
    if (g_abort.exchange(true)) _exit(130);
}

QString HexString(const uint8_t* bytes, int count)
{
    QString s;
    for (int i = 0; i < count; ++i) s += QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return s;
}

QString PhaseText(TOperationPhase phase)
{
    switch (phase) {
    case TOperationPhase::Checking: return QStringLiteral("checking");
    case TOperationPhase::Handshake: return QStringLiteral("handshake");
    case TOperationPhase::Erasing: return QStringLiteral("erasing");
    case TOperationPhase::Writing: return QStringLiteral("writing");
    case TOperationPhase::Reading: return QStringLiteral("reading");
    case TOperationPhase::Sending: return QStringLiteral("sending");
    case TOperationPhase::Receiving: return QStringLiteral("receiving");
    }
    return {};
}

// The tool's side of an operation: progress to the port's line, pauses that
// block this port's thread, Ctrl-C heard where the operation can stop.
class TCliObserver : public TBlockingObserver {
public:
    TCliObserver(TProgressDisplay& display, int slot) : display_(display), slot_(slot) {}
    void SetOperation(const QString& operation)
    {
        operation_ = operation;
        percent_ = 0;
        display_.Update(slot_, 0, operation_);
    }
    void Progress(int percent, TOperationPhase phase) override
    {
        percent_ = percent;
        display_.Update(slot_, percent, QStringLiteral("%1 (%2)").arg(operation_, PhaseText(phase)));
    }
    // The line's last state: a full bar, or the bar where it failed.
    void Ended(bool ok)
    {
        display_.Update(slot_, ok ? 100 : percent_, ok ? QStringLiteral("done") : QStringLiteral("FAILED"));
    }
    bool AbortRequested() override { return AbortWasRequested(); }

private:
    TProgressDisplay& display_;
    int slot_;
    QString operation_;
    int percent_ = 0;
};

TBaudRate BaudRateFor(int baud)
{
    static const struct {
        int baud;
        TBaudRate rate;
    } kRates[] = {{110, br110},     {300, br300},     {600, br600},       {1200, br1200},     {2400, br2400},
                  {4800, br4800},   {9600, br9600},   {14400, br14400},   {19200, br19200},   {38400, br38400},
                  {56000, br56000}, {57600, br57600}, {115200, br115200}, {128000, br128000}, {256000, br256000}};
    for (const auto& r : kRates)
        if (r.baud == baud) return r.rate;
    return brCustom;
}

}  // namespace

// The line settings the Com Port page would apply for the same choices.
void SetUpPort(TCustomComPort& port, const TCliOptions& o, const QString& path)
{
    // No event thread: nothing here listens for line events, and the
    // operations read by polling the queue.
    port.SetEvents(0);
    TPortChoices c;
    c.port = path;
    c.dataItem = o.dataItem;
    c.parityItem = o.parityItem;
    c.stopItem = o.stopItem;
    c.flowItem = o.flowItem;
    ApplyPortChoices(port, c);
    const TBaudRate rate = BaudRateFor(o.baud);
    if (rate == brCustom) port.SetCustomBaudRate(o.baud);
    port.SetBaudRate(rate);
}

namespace {
// What failed, in a technician's words: the component's own texts name the
// system calls of its Win32 heritage, which mean nothing at a bench.
QString PortFailureText(int portError)
{
    switch (portError) {
    case CError_WriteFailed:
    case CError_TransmitFailed: return QStringLiteral("sending to the serial port failed");
    case CError_ReadFailed: return QStringLiteral("reading from the serial port failed");
    case CError_PurgeFailed: return QStringLiteral("clearing the serial port's buffers failed");
    case CError_SetStateFailed:
    case CError_TimeoutsFailed:
    case CError_SetupComFailed: return QStringLiteral("setting up the serial port failed");
    case CError_AsyncCheck:
    case CError_ClearComFailed: return QStringLiteral("reading the serial port's state failed");
    case CError_ModemStatFailed: return QStringLiteral("reading the serial port's modem lines failed");
    case CError_EscapeComFailed: return QStringLiteral("setting the serial port's control lines failed");
    default: return QStringLiteral("the serial port failed");
    }
}

QString PortErrorText(const EComPort& e, const QString& path)
{
    QString text = e.PortError() == CError_OpenFailed ? QStringLiteral("cannot open %1").arg(path)
                                                      : PortFailureText(e.PortError());
    if (e.SystemError() > 0) text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(e.SystemError())));
    const QString advice = PortErrorAdvice(e.PortError(), e.SystemError(), TAdviceAudience::CommandLine);
    if (!advice.isEmpty()) text += QStringLiteral(". ") + advice;
    return text;
}

QString OperationFailure(TOperationError e)
{
    QString text = QString::fromLatin1(OperationErrorText(e));
    switch (e) {
    case TOperationError::NoModule:
        return text + QStringLiteral(". Is the module powered and jumpered for command mode, and are --baud and "
                                     "--flow those of the module?");
    case TOperationError::NoReply:
    case TOperationError::BlockData:
        return text + QStringLiteral(". Check the cable and the line settings, then run the command again.");
    case TOperationError::TransmitStuck:
        return text + QStringLiteral(". The line holds the data back: check the flow control (--flow) and the "
                                     "cable's handshake lines.");
    default:
        return text;
    }
}

void Fail(TPortResult& r, int code, const QString& error)
{
    r.exitCode = code;
    r.error = error;
}

// ---------------------------------------------------------------- commands

// The printable part of a reply, as the version text.
QString ReplyText(const std::vector<uint8_t>& reply)
{
    QString text;
    for (uint8_t b : reply) text += (b >= 0x20 && b < 0x7F) ? QChar(b) : QLatin1Char('.');
    return text;
}

void RunProbe(TModuleSession& session, TCliObserver& observer, TPortResult& r)
{
    observer.SetOperation(QStringLiteral("Probing"));
    // The probe Find Module makes: the check, then "Read Version" once more
    // (the check keeps nothing of its reply).
    QByteArray reply;
    if (!ProbeModuleAt(session.Port(), nullptr, session.Stop(), &reply))
        return Fail(r, cli_exit::ModuleFailed, OperationFailure(TOperationError::NoModule));
    const std::vector<uint8_t> bytes(reply.begin(), reply.end());
    const QString version = ReplyText(bytes);
    r.data.insert(QStringLiteral("version"), version);
    r.data.insert(QStringLiteral("version_hex"), HexString(bytes.data(), int(bytes.size())));
    r.text << version;
}

void RunSend(const TCliPlan& plan, TModuleSession& session, TCliObserver& observer, TPortResult& r)
{
    QStringList log;
    TLogLine line([&log](const QString& s) { log << s; });
    observer.SetOperation(QStringLiteral("Sending command"));

    // A single send of the Command page: waiting input first, the presence
    // check (not for "NOP"), the frame, its reply; a status row with
    // "repeat" again until its byte comes (or Ctrl-C).
    TCommandRow row;
    row.command = plan.row.command;
    row.values = plan.row;
    const TCommandRunResult x = SendCommandRun(session, observer, row, line, 100);
    r.text = log;
    r.data.insert(QStringLiteral("log"), QJsonArray::fromStringList(log));
    if (x.noModule) return Fail(r, cli_exit::ModuleFailed, OperationFailure(TOperationError::NoModule));
    const std::vector<uint8_t>& reply = x.last.reply;
    r.data.insert(QStringLiteral("reply"), HexString(reply.data(), int(reply.size())));
    if (x.aborted) return Fail(r, cli_exit::ModuleFailed, OperationFailure(TOperationError::Aborted));
    // Judged here, not on the Command page: a script needs the status.
    const QString problem = SendReplyProblem(row.command, EncodeCommand(plan.row).ReplyLength, x.last.complete, reply);
    if (!problem.isEmpty()) return Fail(r, cli_exit::ModuleFailed, problem);
}

void ReadArea(const TCliPlan& plan, TModuleSession& session, TCliObserver& observer, TPortResult& r, bool config)
{
    observer.SetOperation(QStringLiteral("Reading"));
    const TMemoryRead read = ReadAreaRun(session, observer, config ? kConfigFirstBlock : kFlashFirstBlock);
    if (!read.Ok()) return Fail(r, cli_exit::ModuleFailed, OperationFailure(read.error));
    r.data.insert(config ? QStringLiteral("config") : QStringLiteral("flash"),
                  HexString(read.bytes.data(), int(read.bytes.size())));

    const QString out = plan.options.output.isEmpty() ? QString() : OutputPathFor(plan.options.output, r.port);
    QByteArray fileBytes;
    if (!config) {
        if (out.isEmpty()) r.text = HexDump(read.bytes.data(), int(read.bytes.size()));
        fileBytes = QByteArray(reinterpret_cast<const char*>(read.bytes.data()), qsizetype(read.bytes.size()));
    } else {
        const TProfileFromImage profile = ProfileFromImage(read.bytes);
        r.data.insert(QStringLiteral("profile"), profile.json);
        if (!profile.notInProfile.isEmpty()) r.data.insert(QStringLiteral("not_in_profile"), profile.notInProfile);
        const bool raw = !out.isEmpty() && QFileInfo(out).suffix().compare(QLatin1String("bin"), Qt::CaseInsensitive) == 0;
        if (raw) {
            fileBytes = QByteArray(reinterpret_cast<const char*>(read.bytes.data()), qsizetype(read.bytes.size()));
        } else if (!out.isEmpty() && !profile.notInProfile.isEmpty()) {
            // A profile file would be a lossy copy that looks like a good one.
            return Fail(r, cli_exit::ModuleFailed, ProfileRefusal(out, profile));
        } else {
            fileBytes = profile.bytes;
            // A profile that cannot hold every byte says so.
            r.warnings << profile.warnings;
        }
        if (out.isEmpty()) r.text = QString::fromUtf8(profile.bytes).trimmed().split(QLatin1Char('\n'));
    }
    if (!out.isEmpty()) {
        QString error;
        // Only now, with the whole read in hand. A configuration holds the key: owner only.
        const bool written = config ? WritePrivateFileAtomically(out, fileBytes, &error)
                                    : WriteFileAtomically(out, fileBytes, &error);
        if (!written) return Fail(r, cli_exit::ModuleFailed, QStringLiteral("cannot write %1: %2").arg(out, error));
        r.data.insert(QStringLiteral("file"), out);
    }
}

void ProgramArea(const TCliPlan& plan, TModuleSession& session, TCliObserver& observer, TPortResult& r, bool config)
{
    const TMemoryBytes image = config ? ImageForPort(plan.config, r.port) : plan.flash;
    observer.SetOperation(QStringLiteral("Programming"));
    const TProgramRun run = config ? ProgramConfigRun(session, observer, image, plan.options.flowItem, plan.options.verify)
                                   : ProgramFlashRun(session, observer, image, plan.options.verify);
    if (!run.Programmed())
        return Fail(r, cli_exit::ModuleFailed, OperationFailure(run.checked ? run.error : TOperationError::NoModule));
    r.data.insert(QStringLiteral("verified"), false);
    if (!run.verifyRan) {
        r.text << QStringLiteral("programmed (not verified)");
        return;
    }
    const TVerifyResult& v = run.verify;
    if (v.error != TOperationError::None)
        return Fail(r, cli_exit::ModuleFailed, QStringLiteral("programmed, but the read-back failed: ") + OperationFailure(v.error));
    if (!v.differences.empty()) {
        QJsonArray list;
        for (size_t i = 0; i < v.differences.size() && i < 8; ++i) {
            const TByteDifference& d = v.differences[i];
            // A key byte: its address only.
            QJsonObject o{{QStringLiteral("address"), d.address}};
            if (!IsKeyAddress(d.address)) {
                o.insert(QStringLiteral("written"), int(d.written));
                o.insert(QStringLiteral("read"), int(d.read));
            }
            list.append(o);
        }
        r.data.insert(QStringLiteral("differences"), list);
        r.data.insert(QStringLiteral("differing_bytes"), int(v.differences.size()));
        return Fail(r, cli_exit::ModuleFailed,
                    QStringLiteral("verification failed: ") + DifferenceReport(v.differences, 4).replace(QLatin1Char('\n'), QStringLiteral("; ")));
    }
    r.data.insert(QStringLiteral("verified"), true);
    r.text << QStringLiteral("programmed and verified");
}

TPortResult RunOnOnePort(const TCliPlan& plan, int slot, const QString& path, TProgressDisplay& display)
{
    TPortResult r;
    r.port = path;
    r.command = plan.options.commandName;
    TCliObserver observer(display, slot);
    observer.SetOperation(QStringLiteral("opening"));

    // One operation per device, under whatever name it was given.
    const TLineClaim claim(path, QStringLiteral("another port of this run"));
    if (!claim.Ok()) {
        Fail(r, cli_exit::Usage, claim.Refusal());
        observer.Ended(false);
        return r;
    }
    TComPort port;
    try {
        SetUpPort(port, plan.options, path);
        port.OpenPort();
    } catch (const EComPort& e) {
        Fail(r, cli_exit::PortFailed, PortErrorText(e, path));
        observer.Ended(false);
        return r;
    }
    if (!port.Connected()) {
        Fail(r, cli_exit::PortFailed, QStringLiteral("cannot open %1").arg(path));
        observer.Ended(false);
        return r;
    }

    TModuleSession session(port);
    try {
        switch (plan.options.command) {
        case TCliCommand::Probe: RunProbe(session, observer, r); break;
        case TCliCommand::ReadFlash: ReadArea(plan, session, observer, r, false); break;
        case TCliCommand::ReadConfig: ReadArea(plan, session, observer, r, true); break;
        case TCliCommand::ProgramFlash: ProgramArea(plan, session, observer, r, false); break;
        case TCliCommand::ProgramConfig: ProgramArea(plan, session, observer, r, true); break;
        case TCliCommand::Send: RunSend(plan, session, observer, r); break;
        default: break;
        }
    } catch (const EComPort& e) {
        // The device went away or refused mid-run.
        Fail(r, cli_exit::ModuleFailed, PortErrorText(e, path));
    }
    observer.Ended(r.Ok());
    try {
        port.ClosePort();
    } catch (const EComPort&) {
    }
    return r;
}

bool PreparePair(const TCliOptions& options, TCliPlan* plan, QString* error)
{
    const QString path = options.args[0];
    TMemoryBlock image{};
    if (!LoadConfigInput(QStringLiteral("pair"), path, &plan->pair, &image, error, &plan->warnings)) return false;
    if (std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; })) {
        // A module never programmed holds no settings to pair with: the page's own.
        plan->pair = TConfigValues{};
        plan->warnings << QStringLiteral("%1 is an erased configuration memory (every byte FF): it holds no "
                                         "settings, so the pair gets the Config Memory page's start-up settings")
                              .arg(path);
    }
    if (!options.newKey) {
        // A weak key is refused unless asked for; the example key is told.
        const QString weak = WeakKeyReason(plan->pair.key);
        if (!weak.isEmpty() && !IsExampleKey(plan->pair.key) && !options.weakKey) {
            *error = QStringLiteral("%1 holds %2; --new-key makes a private one (--weak-key programs it anyway)")
                         .arg(path, KeyWarning(plan->pair.key));
            return false;
        }
        const QString warning = KeyWarning(plan->pair.key);
        if (!warning.isEmpty())
            plan->warnings << QStringLiteral("%1 holds %2; --new-key makes a private one").arg(path, warning);
        return true;
    }
    plan->pair.key = GenerateKey();
    if (plan->pair.key.isEmpty()) {
        *error = QStringLiteral("no new key: the system's random source failed");
        return false;
    }
    // The key is kept before any module gets it: a pair is never left with a
    // key that exists nowhere else.
    if (!options.output.isEmpty() && !WritePrivateFileAtomically(options.output, WriteConfigProfile(plan->pair), error)) {
        *error = QStringLiteral("cannot write %1: %2").arg(options.output, *error);
        return false;
    }
    return true;
}

TCliOutcome RunPair(const TCliPlan& plan, bool showProgress)
{
    TProgressDisplay display(plan.options.ports, showProgress);
    TCliObserver first(display, 0), second(display, 1);
    first.SetOperation(QStringLiteral("Pairing (Point A)"));
    second.SetOperation(QStringLiteral("Pairing (Point B)"));
    TPairRequest request;
    request.ports = {plan.options.ports[0], plan.options.ports[1]};
    request.values = plan.pair;
    request.flowItem = plan.options.flowItem;
    request.observers = {&first, &second};
    request.setUpPort = [&plan](TCustomComPort& port, const QString& path) { SetUpPort(port, plan.options, path); };
    const bool keyPrinted = plan.options.newKey && plan.options.output.isEmpty();
    // The new key is out before either module gets it: however the run ends
    // (a second Ctrl-C ends it at once), the key the modules hold is known.
    if (keyPrinted) {
        const QByteArray line =
            plan.options.json
                ? QJsonDocument(QJsonObject{{QStringLiteral("command"), plan.options.commandName},
                                            {QStringLiteral("new_key"), plan.pair.key}})
                          .toJson(QJsonDocument::Compact) +
                      '\n'
                : QStringLiteral("New key: %1\n").arg(plan.pair.key).toLocal8Bit();
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    }
    QElapsedTimer timer;
    timer.start();
    const TPairResult pair = ProgramPair(request);
    for (int i = 0; i < 2; ++i) {
        TCliObserver& o = i == 0 ? first : second;
        o.SetOperation(pair.modules[size_t(i)].Ok() ? QStringLiteral("done") : QStringLiteral("FAILED"));
    }
    display.Finish();

    const QStringList summary = PairSummary(pair, plan.pair);
    std::vector<TPortResult> results;
    for (int i = 0; i < 2; ++i) {
        const TPairModule& m = pair.modules[size_t(i)];
        TPortResult r;
        r.port = m.port;
        r.command = plan.options.commandName;
        r.durationMs = timer.elapsed();
        r.exitCode = m.Ok() ? cli_exit::Ok : m.failure == TPairFailure::Port ? cli_exit::PortFailed : cli_exit::ModuleFailed;
        r.error = m.error;
        r.data.insert(QStringLiteral("role"), i == 0 ? QStringLiteral("Point A") : QStringLiteral("Point B"));
        r.data.insert(QStringLiteral("verified"), m.verified);
        r.data.insert(QStringLiteral("version"), m.version);
        // Not the image: it holds the key, which goes out once at most.
        r.data.insert(QStringLiteral("key_hint"), KeyHint(plan.pair.key));
        results.push_back(r);
    }
    TCliOutcome outcome;
    const TPrintedResults printed = PrintResults(results, plan.options.json);
    if (plan.options.json) {
        outcome.out = printed.out;
    } else {
        if (plan.options.newKey && !keyPrinted)
            outcome.out += QStringLiteral("New key written to %1 (the file holds the key: keep it private)\n")
                               .arg(plan.options.output)
                               .toLocal8Bit();
        outcome.out += summary.join(QLatin1Char('\n')).toLocal8Bit() + '\n';
    }
    outcome.err = printed.err + RecordPair(plan, pair, timer.elapsed());
    outcome.exitCode = WorstExitCode(results);
    return outcome;
}

// What would only show once bytes went out: one device under two names
// (two threads driving one module), an output file that cannot be written.
bool CheckPortsAndOutputs(const TCliOptions& options, QString* error)
{
    const QStringList& ports = options.ports;
    for (int i = 0; i < ports.size(); ++i)
        for (int j = i + 1; j < ports.size(); ++j)
            if (SameSerialDevice(ports[i], ports[j])) {
                *error = QStringLiteral("--port %1 and --port %2 are one device; give each device once")
                             .arg(ports[i], ports[j]);
                return false;
            }
    const bool writes = options.command == TCliCommand::ReadFlash || options.command == TCliCommand::ReadConfig;
    if (!writes || options.output.isEmpty()) return true;
    if (!CheckOutputsDistinct(options.output, ports, error)) return false;
    for (const QString& port : ports)
        if (!CheckOutputWritable(OutputPathFor(options.output, port), error)) return false;
    return true;
}

}  // namespace

void InstallAbortOnInterrupt()
{
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void RequestAbort() { g_abort = true; }
bool AbortWasRequested() { return g_abort.load(); }

bool PrepareRun(const TCliOptions& options, TCliPlan* plan, QString* error)
{
    plan->options = options;
    if (!CheckPortsAndOutputs(options, error)) return false;
    switch (options.command) {
    case TCliCommand::ProgramFlash:
        return LoadRawImage(options.args[0], &plan->flash, error);
    case TCliCommand::ProgramConfig:
    case TCliCommand::Station: {
        const QString path = options.args[0];
        TConfigValues values;
        const bool loaded =
            LoadConfigInput(options.commandName, path, &values, &plan->config, error, &plan->warnings);
        if (loaded && !KeyWarning(values.key).isEmpty())
            plan->warnings << QStringLiteral("%1 holds %2; pair --new-key programs two modules with a private one")
                                  .arg(path, KeyWarning(values.key));
        return loaded;
    }
    case TCliCommand::Send:
        return ParseSendCommand(options.args, &plan->row, error);
    case TCliCommand::Pair:
        return PreparePair(options, plan, error);
    default:
        return true;
    }
}

TCliOutcome RunPlan(const TCliPlan& plan, bool showProgress)
{
    TCliOutcome outcome;
    if (plan.options.command == TCliCommand::Ports) {
        const TPortsListing l = ListPorts(plan.options.json);
        outcome.out = l.out;
        outcome.err = l.err;
        outcome.exitCode = l.exitCode;
        return outcome;
    }
    if (plan.options.command == TCliCommand::Pair) return RunPair(plan, showProgress);
    if (plan.options.scan) return RunScan(plan.options, showProgress);
    TProgressDisplay display(plan.options.ports, showProgress);
    const std::vector<TPortResult> results = RunOnPorts(
        plan.options.ports, [&](int slot, const QString& port) { return RunOnOnePort(plan, slot, port, display); });
    display.Finish();
    const TPrintedResults printed = PrintResults(results, plan.options.json);
    outcome.out = printed.out;
    outcome.err = printed.err + RecordResults(plan, results);
    outcome.exitCode = WorstExitCode(results);
    return outcome;
}
