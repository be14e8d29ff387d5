#include "station/station_tile.h"

#include <QDateTime>

TTileText SocketTileText(const TSocketView& view)
{
    TTileText t;
    const QString socket = QStringLiteral("Socket %1 (%2)").arg(view.socket + 1).arg(view.name);
    const TStationModuleResult& r = view.last;
    switch (view.state) {
    case TSocketState::Empty:
        t.headline = QStringLiteral("Empty");
        t.detail = QStringLiteral("plug a module");
        t.accessibleName = socket + QStringLiteral(": empty");
        break;
    case TSocketState::Running:
        t.headline = view.step == TStationStep::None ? QStringLiteral("Plugged") : StationStepName(view.step);
        t.detail = QStringLiteral("running, do not pull");
        t.progress = true;
        t.percent = qBound(0, view.percent, 100);
        t.accessibleName = QStringLiteral("%1: running %2, %3 %").arg(socket, t.headline).arg(t.percent);
        break;
    case TSocketState::Passed:
        t.headline = QStringLiteral("PASS");
        t.detail = r.unitAddress.isEmpty() ? QString() : QStringLiteral("Unit %1").arg(r.unitAddress);
        if (r.alreadyProgrammed) t.detail += QStringLiteral(" (already programmed)");
        if (r.rowWaits) t.detail += QStringLiteral(", row waits in the spool");
        t.accessibleName = QStringLiteral("%1: PASS, unit %2%3")
                               .arg(socket, r.unitAddress, r.alreadyProgrammed ? QStringLiteral(", already programmed") : QString());
        break;
    case TSocketState::Failed:
        // Stopped by the station: not judged, not failed.
        t.headline = r.stopped ? QStringLiteral("STOPPED") : QStringLiteral("FAIL");
        t.detail = r.error.isEmpty() ? QStringLiteral("failed") : r.error;
        t.accessibleName = QStringLiteral("%1: %2, %3").arg(socket, t.headline, t.detail);
        break;
    }
    return t;
}

QString StationResultLine(const QString& socketName, const TStationModuleResult& result, const QDateTime& when)
{
    QString line = when.toLocalTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + socketName + QStringLiteral("  ");
    if (result.ok)
        line += QStringLiteral("PASS %1").arg(result.unitAddress) +
                (result.alreadyProgrammed ? QStringLiteral(" (already programmed)") : QString());
    else
        line += QStringLiteral("%1: %2").arg(result.stopped ? QStringLiteral("STOPPED") : QStringLiteral("FAIL"), result.error);
    // Rows kept locally or not recorded: the window's one place for it.
    if (!result.recordNotice.isEmpty()) line += QStringLiteral("  (record: %1)").arg(result.recordNotice);
    return line;
}

TSumsText StationSumsText(const TStationSums& sums)
{
    TSumsText t;
    t.passed = QStringLiteral("Passed %1").arg(sums.passed);
    t.failed = QStringLiteral("Failed %1").arg(sums.failed);
    if (sums.stopped) t.failed += QStringLiteral(", stopped %1").arg(sums.stopped);
    t.yield = sums.passed + sums.failed ? QStringLiteral("Yield %1 %").arg(sums.Yield() * 100.0, 0, 'f', 1)
                                        : QStringLiteral("Yield -");
    t.perHour = QStringLiteral("%1 modules per hour").arg(qRound(sums.ModulesPerHour()));
    return t;
}
