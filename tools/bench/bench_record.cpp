// The production record's costs: what recording adds to one operation on
// SQLite (in the process: a record opened, one row stored, closed; and a
// whole tool run with and without the record), and the History window on
// a record of 1,000,000 rows: its first screen, its memory, a search typed
// key by key.
//
// Usage: bench_record [--cli PATH] [--rows N]
// Exit status: 0 goals met, 2 a goal missed, 1 it could not run.
#include <QApplication>
#include <QFile>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "app/history_window.h"
#include "record/history_model.h"
#include "record/production_record.h"
#include "tools/bench/bench_support.h"

namespace {

long PeakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
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

// The child: opens the History window on the record made by the parent
// and measures the first screen, the memory and a search typed key by key.
int OpenHistory(int rowCount)
{
    int status = 0;
    QElapsedTimer t;
    t.start();
    auto window = std::make_unique<THistoryWindow>();
    window->show();
    THistoryModel& model = window->Model();
    auto waitFor = [](const std::function<bool()>& done) {
        QElapsedTimer w;
        w.start();
        while (!done() && w.elapsed() < 120000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return done();
    };
    if (!waitFor([&] { return model.CurrentState() == THistoryModel::State::Idle && model.rowCount() > 0; })) return 1;
    window->HistoryTable->viewport()->repaint();
    const double firstMs = double(t.nsecsElapsed()) / 1e6;
    const long peakKb = PeakRssKb();
    std::printf("BENCH\tHistory window: first screen on %d rows (painted)\t%.0f ms\t< 300 ms\n", rowCount, firstMs);
    std::printf("BENCH\tHistory window: peak memory of the process at its first screen\t%.0f MB\t< 100 MB\n",
                double(peakKb) / 1024);
    if (firstMs >= 300 || peakKb >= 100 * 1024) status = 2;
    waitFor([&] { return model.MatchingRows() >= 0; });
    std::printf("BENCH\tHistory window: rows counted in the database\t%.0f ms\t-\n", double(t.nsecsElapsed()) / 1e6);

    // A search typed key by key: what each key costs the window thread,
    // then when the result's first screen is there.
    const QString typed = QStringLiteral("A000042");
    double worstKeyMs = 0;
    for (int i = 1; i <= typed.size(); ++i) {
        QElapsedTimer key;
        key.start();
        window->SearchText->setText(typed.left(i));
        QCoreApplication::processEvents();
        worstKeyMs = std::max(worstKeyMs, double(key.nsecsElapsed()) / 1e6);
    }
    t.restart();
    waitFor([&] {
        return model.CurrentState() == THistoryModel::State::Idle && model.rowCount() > 0
               && model.EntryAt(0).portById.contains(typed);
    });
    window->HistoryTable->viewport()->repaint();
    const double searchMs = double(t.nsecsElapsed()) / 1e6;
    std::printf("BENCH\tHistory window: search, worst key of %lld on the window thread\t%.1f ms\t<= 50 ms\n",
                qlonglong(typed.size()), worstKeyMs);
    std::printf("BENCH\tHistory window: search result's first screen after the last key (pause 250 ms included)\t%.0f ms\t-\n",
                searchMs);
    if (worstKeyMs > 50) status = 2;
    t.restart();
    window->SearchText->clear();
    window->Model().sort(THistoryModel::Port, Qt::AscendingOrder);
    waitFor([&] { return model.CurrentState() == THistoryModel::State::Idle; });
    std::printf("BENCH\tHistory window: sorted by port, first screen\t%.0f ms\t-\n", double(t.nsecsElapsed()) / 1e6);
    window.reset();
    return status;
}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--open-history") == 0) {
        QApplication app(argc, argv);
        return OpenHistory(std::atoi(argv[2]));
    }
    QTemporaryDir dir;
    // Everything under the temporary folder: the record and the saved choice.
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    QString cli = QStringLiteral(TW_CLI_EXE);
    int rowCount = 1000000;
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

    // 3. The History window on a record of rowCount rows, in a process of
    // its own so that its memory is the window's alone.
    {
        TProductionRecord record;
        constexpr int kChunk = 20000;
        for (int first = 0; first < rowCount; first += kChunk) {
            TRecordEntries rows;
            rows.reserve(size_t(kChunk));
            for (int i = first; i < std::min(rowCount, first + kChunk); ++i) rows.push_back(Row(i));
            if (!record.Append(rows).ok) return 1;
        }
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open-history"), QString::number(rowCount)});
    if (!child.waitForFinished(600000) || child.exitCode() == 1) return 1;
    std::fputs(child.readAllStandardOutput().constData(), stdout);
    if (child.exitCode() != 0) status = 2;
    std::printf("record file: %s\n", qPrintable(path));
    return status;
}
