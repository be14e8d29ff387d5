// The production record's costs: what recording adds to one operation on
// SQLite (in the process: a record opened, one row stored, closed; and a
// whole tool run with and without the record), and the History window
// opening on a record of 100,000 rows.
//
// Usage: bench_record [--cli PATH] [--rows N]
// Exit status: 0 goals met, 2 a goal missed, 1 it could not run.
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/history_window.h"
#include "record/history_model.h"
#include "record/production_record.h"

namespace {

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

TRecordEntry Row(int i)
{
    TRecordEntry e = NewRecordEntry(QStringLiteral("tarnwick-cli 1.17"), i % 3 ? QStringLiteral("program-config") : QStringLiteral("pair"));
    e.timeUtc = e.timeUtc.addSecs(-i * 7);
    e.station = QStringLiteral("station-%1").arg(i % 6);
    e.port = QStringLiteral("/dev/ttyUSB%1").arg(i % 8);
    e.portById = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A%1-if00-port0").arg(i % 97, 6, 10, QLatin1Char('0'));
    e.profile = QStringLiteral("line.json");
    e.imageSha256 = QString(64, QLatin1Char('a' + i % 6));
    e.keyFingerprint = QStringLiteral("%1").arg(i * 2654435761u % 0xFFFFFFFFu, 8, 16, QLatin1Char('0'));
    e.verified = QStringLiteral("yes");
    e.outcome = i % 50 ? QStringLiteral("ok") : QStringLiteral("failed");
    e.durationMs = 4900 + i % 200;
    e.unitAddress = QStringLiteral("%1").arg(i % 0xFFFF, 4, 16, QLatin1Char('0')).toUpper();
    if (i % 3 == 0) e.pairId = QStringLiteral("pair-%1").arg(i / 6);
    return e;
}

double RunMs(const QString& cli, const QStringList& args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(cli, args);
    p.waitForFinished(30000);
    return double(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    // Everything under the temporary folder: the record and the saved choice.
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    QString cli = QStringLiteral(TW_CLI_EXE);
    int rowCount = 100000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--cli")) cli = args[++i];
        else if (args[i] == QLatin1String("--rows")) rowCount = args[++i].toInt();
    }
    int status = 0;

    // 1. In the process: open, store one row, close; as a tool run does.
    std::vector<double> append;
    const QString path = TProductionRecord::DefaultLocalPath();
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        TProductionRecord record;
        if (!record.Append({Row(i)}).ok) return 1;
        append.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double appendMs = Median(append);
    std::printf("BENCH\trecord: open, one row, close (median of 200)\t%.2f ms\t<= 5 ms\n", appendMs);

    // 2. A whole tool run with and without its row (a port that does not
    // open: the run is then the program and the record alone).
    std::vector<double> with, without;
    const QString port = dir.filePath(QStringLiteral("ttyNONE"));
    for (int i = 0; i < 40; ++i) {
        with.push_back(RunMs(cli, {QStringLiteral("-q"), QStringLiteral("--port"), port, QStringLiteral("read-config")}));
        without.push_back(RunMs(cli, {QStringLiteral("-q"), QStringLiteral("--no-record"), QStringLiteral("--port"), port,
                                      QStringLiteral("read-config")}));
    }
    const double added = Median(with) - Median(without);
    std::printf("BENCH\ttool run: added by its row (median of 40, %.1f vs %.1f ms)\t%.2f ms\t<= 5 ms\n", Median(with),
                Median(without), added);
    if (appendMs > 5 || added > 5) status = 2;

    // 3. The History window on a record of rowCount rows.
    {
        TProductionRecord record;
        TRecordEntries rows;
        rows.reserve(size_t(rowCount));
        for (int i = 0; i < rowCount; ++i) rows.push_back(Row(i));
        if (!record.Append(rows).ok) return 1;
    }
    {
        // Where the opening's time goes: the read, then the table's rows.
        QElapsedTimer t;
        t.start();
        TProductionRecord record;
        TRecordEntries rows;
        QString error;
        record.Select({}, &rows, &error);
        const double readMs = double(t.nsecsElapsed()) / 1e6;
        t.restart();
        THistoryModel model;
        model.SetRows(std::move(rows));
        std::printf("BENCH\tHistory: read %d rows | model built\t%.0f | %.0f ms\t-\n", rowCount, readMs,
                    double(t.nsecsElapsed()) / 1e6);
    }
    // Wall time, and the thread's CPU time (what a busy machine's wait for a
    // core does not inflate); the goal is judged on the best CPU time.
    std::vector<double> open, openCpu;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        const double cpu0 = ThreadCpuMs();
        THistoryWindow window;
        window.show();
        QApplication::processEvents();
        window.HistoryTable->viewport()->repaint();
        open.push_back(double(t.nsecsElapsed()) / 1e6);
        openCpu.push_back(ThreadCpuMs() - cpu0);
        if (window.Model().rowCount() < rowCount) {
            std::fprintf(stderr, "the window shows %d rows\n", window.Model().rowCount());
            return 1;
        }
    }
    const double openCpuMs = *std::min_element(openCpu.begin(), openCpu.end());
    std::printf("BENCH\tHistory window: open on %d rows, painted (best CPU time of 3; wall median %.0f ms)\t%.0f ms\t< 500 ms\n",
                rowCount, Median(open), openCpuMs);
    if (openCpuMs >= 500) status = 2;
    {
        THistoryWindow window;
        QElapsedTimer t;
        t.start();
        window.Model().sort(THistoryModel::Port, Qt::AscendingOrder);
        std::printf("BENCH\tHistory window: sort %d rows by port\t%.0f ms\t-\n", rowCount, double(t.nsecsElapsed()) / 1e6);
        t.restart();
        window.SearchText->setText(QStringLiteral("A000042"));
        std::printf("BENCH\tHistory window: text filter over %d rows\t%.0f ms\t-\n", rowCount, double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("record file: %s\n", qPrintable(path));
    return status;
}
