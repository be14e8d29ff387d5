#include "module/operation_report.h"

#include <QStringList>

#include "module/memory_operations.h"
#include "module/program_runs.h"

namespace {
std::function<void(const TOperationReport&)> g_sink;  // window thread
}  // namespace

void SetOperationReportSink(std::function<void(const TOperationReport&)> sink) { g_sink = std::move(sink); }

void ReportOperation(const TOperationReport& report)
{
    if (g_sink) g_sink(report);
}

QString DifferenceAddresses(const std::vector<TByteDifference>& differences, int shown)
{
    QStringList out;
    for (size_t i = 0; i < differences.size() && int(i) < shown; ++i)
        out << QStringLiteral("0x%1").arg(differences[i].address, 2, 16, QLatin1Char('0')).toUpper().replace(
                   QStringLiteral("0X"), QStringLiteral("0x"));
    if (int(differences.size()) > shown) out << QStringLiteral("...");
    return out.join(QLatin1Char(' '));
}

TOperationReport ProgramReport(const QString& operation, const QString& port, const QDateTime& started,
                               const std::array<uint8_t, 128>& image, bool configImage, const TProgramRun& run,
                               bool stopRequested)
{
    TOperationReport r;
    r.operation = operation;
    r.port = port;
    r.started = started;
    r.durationMs = started.msecsTo(QDateTime::currentDateTimeUtc());
    r.image.assign(image.begin(), image.end());
    r.configImage = configImage;
    r.ok = run.Ok();
    // A verify that read the whole memory judged it, stop or not.
    const bool cutShort = !run.checked || run.error != TOperationError::None ||
                          (run.verifyRan && run.verify.error != TOperationError::None);
    r.stopped = run.error == TOperationError::Aborted || (stopRequested && cutShort);
    if (run.verifyRan) {
        r.verified = run.verify.Ok() ? QStringLiteral("yes") : QStringLiteral("no");
        r.differences = DifferenceAddresses(run.verify.differences);
    }
    if (r.stopped) r.error = QString::fromLatin1(OperationErrorText(TOperationError::Aborted));
    else if (!run.checked) r.error = QString::fromLatin1(OperationErrorText(TOperationError::NoModule));
    else if (run.error != TOperationError::None) r.error = QString::fromLatin1(OperationErrorText(run.error));
    else if (run.verifyRan && run.verify.error != TOperationError::None)
        r.error = QStringLiteral("the read-back failed: ") + QString::fromLatin1(OperationErrorText(run.verify.error));
    else if (run.verifyRan && !run.verify.differences.empty()) r.error = DifferenceSummary(run.verify.differences);
    return r;
}
