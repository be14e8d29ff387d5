// tarnwick-cli: the module operations of the panel from scripts, on one or
// many serial ports at once.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/cli/cli_commands.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/cli_record.h"
#include "labels/module_label.h"
#include "tools/cli/link_test_command.h"
#include "tools/cli/station_command.h"

namespace {

void Write(FILE* f, const QByteArray& bytes)
{
    if (!bytes.isEmpty()) std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
    std::fflush(f);
}

int UsageError(const QString& error)
{
    Write(stderr, QStringLiteral("tarnwick-cli: %1\n\n%2%3%4").arg(error, CliUsage(), RecordUsage(), StationUsage()).toLocal8Bit());
    return cli_exit::Usage;
}

// Only a station that makes labels draws: it alone gets the (offscreen)
// GUI application; every other run stays QtCore.
bool DrawsLabels(int argc, char** argv)
{
    bool station = false, labels = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "station") == 0) station = true;
        if (std::strncmp(argv[i], "--labels", 8) == 0 || std::strncmp(argv[i], "--print", 7) == 0) labels = true;
    }
    return station && labels;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::unique_ptr<QCoreApplication> app =
        DrawsLabels(argc, argv) ? MakeLabelApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-cli"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (IsLinkTestCommand(args)) return WithRecordStatus(RunLinkTestCommand(args));
    TCliOptions options;
    QString error;
    TStationCliOptions station;
    if (!ExtractStationOptions(&args, &station, &error)) return UsageError(error);
    TCliRecordOptions record;
    if (!ExtractRecordOptions(&args, &record, &error)) return UsageError(error);
    SetCliRecordOptions(record);
    if (const QString w = RecordWarning(record); !w.isEmpty())
        Write(stderr, QStringLiteral("tarnwick-cli: warning: %1\n").arg(w).toLocal8Bit());
    if (record.history) {
        QByteArray out, err;
        const int status = RunHistory(record, &out, &err);
        Write(stdout, out);
        Write(stderr, err);
        return status;
    }
    if (!ParseCliOptions(args, &options, &error)) return UsageError(error);
    if (options.help) {
        Write(stdout, (CliUsage() + RecordUsage() + StationUsage()).toLocal8Bit());
        return cli_exit::Ok;
    }
    if (options.version) {
        Write(stdout, CliVersionText().toLocal8Bit());
        return cli_exit::Ok;
    }

    if (station.Given() && options.command != TCliCommand::Station)
        return UsageError(QStringLiteral("--watch, --labels, --print, --label-size and --reprogram go with station"));

    TCliPlan plan;
    if (options.command == TCliCommand::Station) {
        if (!PrepareRun(options, &plan, &error)) {
            Write(stderr, QStringLiteral("tarnwick-cli: %1\n").arg(error).toLocal8Bit());
            return cli_exit::Usage;
        }
        for (const QString& w : plan.warnings) Write(stderr, QStringLiteral("tarnwick-cli: warning: %1\n").arg(w).toLocal8Bit());
        return RunStationCommand(plan, station, record);
    }
    // Every input is checked before the first byte goes to any module.
    if (!PrepareRun(options, &plan, &error) || !PrepareUnitAddresses(plan, &error)) {
        Write(stderr, QStringLiteral("tarnwick-cli: %1\n").arg(error).toLocal8Bit());
        return cli_exit::Usage;
    }
    for (const QString& w : plan.warnings) Write(stderr, QStringLiteral("tarnwick-cli: warning: %1\n").arg(w).toLocal8Bit());
    InstallAbortOnInterrupt();
    const bool progress = !options.quiet && isatty(STDERR_FILENO);
    const TCliOutcome outcome = RunPlan(plan, progress);
    Write(stdout, outcome.out);
    Write(stderr, outcome.err);
    return WithRecordStatus(outcome.exitCode);
}
