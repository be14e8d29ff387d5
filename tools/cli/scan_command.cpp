#include "tools/cli/scan_command.h"

#include <algorithm>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "module/module_finder.h"
#include "serial/com_types.h"
#include "serial/port_list.h"
#include "tools/cli/progress_display.h"
#include "tools/cli/result_output.h"

namespace {

constexpr int kBaudItems = 8;

TCliOutcome Failed(int exitCode, const QString& error)
{
    TCliOutcome o;
    o.err = QStringLiteral("tarnwick-cli: %1\n").arg(error).toLocal8Bit();
    o.exitCode = exitCode;
    return o;
}

QJsonArray TriedJson(const TFindResult& result)
{
    QJsonArray list;
    for (const TFindAttempt& a : result.tried) {
        QJsonObject o{{QStringLiteral("port"), a.port},
                      {QStringLiteral("baud"), BaudOfItem(a.baudItem)},
                      {QStringLiteral("answered"), a.answered}};
        if (a.answered) o.insert(QStringLiteral("version"), a.version);
        if (!a.error.isEmpty()) o.insert(QStringLiteral("error"), a.error);
        list.append(o);
    }
    return list;
}

}  // namespace

int BaudItemOfRate(int baud)
{
    for (int i = 0; i < kBaudItems; ++i)
        if (BaudOfItem(i) == baud) return i;
    return -1;
}

TCliOutcome RunScan(const TCliOptions& options, bool showProgress)
{
    QElapsedTimer timer;
    timer.start();
    TFindRequest req;
    req.ports = options.ports;
    if (req.ports.isEmpty()) {
        try {
            for (const TPortInfo& p : ListPortInfos()) req.ports << p.path;
        } catch (const EComPort& e) {
            return Failed(cli_exit::ModuleFailed, QStringLiteral("cannot list the serial devices: %1").arg(e.Message()));
        }
    }
    if (req.ports.isEmpty())
        return Failed(cli_exit::PortFailed, QStringLiteral("there is no serial port to search (plug in the adapter, "
                                                           "or name the device with --port)"));
    // The options were checked: --baud is one of the group's rates.
    const int chosen = BaudItemOfRate(options.baud);
    req.baudItems << chosen;
    if (options.allRates)
        for (int i = 0; i < kBaudItems; ++i)
            if (i != chosen) req.baudItems << i;
    req.settings.dataItem = options.dataItem;
    req.settings.parityItem = options.parityItem;
    req.settings.stopItem = options.stopItem;
    req.settings.flowItem = options.flowItem;

    const QString label = QStringLiteral("%1 port(s)").arg(req.ports.size());
    TProgressDisplay display({label}, showProgress);
    TModuleFinder finder(req);
    const QString searching = QStringLiteral("searching");
    finder.OnProgress = [&] { display.Update(0, finder.Done() * 100 / std::max(1, finder.Total()), searching); };
    display.Update(0, 0, searching);
    finder.Start();
    // Ctrl-C: every worker ends after its current attempt.
    while (!finder.WaitFinished(100))
        if (AbortWasRequested()) finder.Abort();
    const TFindResult result = finder.Result();
    display.Update(0, result.found ? 100 : finder.Done() * 100 / std::max(1, finder.Total()),
                   result.found ? QStringLiteral("found") : QStringLiteral("not found"));
    display.Finish();

    bool noneOpened = true;
    for (const TFindAttempt& a : result.tried)
        if (a.error.isEmpty()) noneOpened = false;

    TPortResult r;
    r.port = result.port;
    r.command = options.commandName;
    r.durationMs = timer.elapsed();
    r.data.insert(QStringLiteral("scan"), true);
    r.data.insert(QStringLiteral("tried"), TriedJson(result));
    if (result.found) {
        r.data.insert(QStringLiteral("baud"), BaudOfItem(result.baudItem));
        r.data.insert(QStringLiteral("version"), result.version);
    } else {
        r.exitCode = !result.aborted && noneOpened ? cli_exit::PortFailed : cli_exit::ModuleFailed;
        r.error = (result.aborted ? QStringLiteral("the search was aborted before a Tarnwick module answered")
                                  : QStringLiteral("no Tarnwick module answered")) +
                  QStringLiteral(". Tried: ") + result.TriedLines().join(QStringLiteral("; ")) +
                  QStringLiteral(". The module must be jumpered for command mode and connected to one of these "
                                 "ports%1.")
                      .arg(options.allRates ? QString() : QStringLiteral("; --all-rates tries every rate"));
    }

    TCliOutcome outcome;
    if (options.json) {
        QJsonObject o = ResultJson(r);
        if (!result.found) o.insert(QStringLiteral("port"), QJsonValue(QJsonValue::Null));
        outcome.out = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    } else if (result.found) {
        outcome.out = result.Summary().toLocal8Bit() + '\n';
    }
    if (!r.Ok()) outcome.err = QStringLiteral("tarnwick-cli: %1\n").arg(r.error).toLocal8Bit();
    outcome.exitCode = r.exitCode;
    return outcome;
}
