// tarnwick-cli: the module operations of the panel from scripts, on one or
// many serial ports at once.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>

#include "tools/cli/cli_commands.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/cli_record.h"
#include "tools/cli/link_test_command.h"

namespace {

void Write(FILE* f, const QByteArray& bytes)
{
    if (!bytes.isEmpty()) std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
    std::fflush(f);
}

int UsageError(const QString& error)
{
    Write(stderr, QStringLiteral("tarnwick-cli: %1\n\n%2%3").arg(error, CliUsage(), RecordUsage()).toLocal8Bit());
    return cli_exit::Usage;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-cli"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (IsLinkTestCommand(args)) return WithRecordStatus(RunLinkTestCommand(args));
    TCliOptions options;
    QString error;
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
        Write(stdout, (CliUsage() + RecordUsage()).toLocal8Bit());
        return cli_exit::Ok;
    }
    if (options.version) {
        Write(stdout, CliVersionText().toLocal8Bit());
        return cli_exit::Ok;
    }

    TCliPlan plan;
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
