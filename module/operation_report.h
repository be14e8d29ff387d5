#pragma once
// What a finished panel operation that wrote to or tested a module tells
// the production record. The operations know nothing of the record: the
// program sets the sink (a row per report), tests set their own.
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

struct TOperationReport {
    QString operation;           // "program-flash", "program-config", "pair", "read-config", "compare", "link-test"
    QString port;                // the device path used
    QDateTime started;           // UTC
    qint64 durationMs = 0;
    std::vector<uint8_t> image;  // what was programmed (the record keeps a hash with the key zeroed)
    bool configImage = false;    // the image is a configuration memory (it holds a key)
    QString verified = QStringLiteral("skipped");  // "yes", "no", "skipped"
    QString differences;         // the differing addresses, "0x25 0x40"
    bool ok = false;
    bool stopped = false;        // asked to stop before its end: not judged
    QString outcome;             // the record's outcome when not "ok"/"failed" (a Link Test "stopped", "lost")
    QString error;               // the failure in plain words
    QString moduleVersion;
    QString pairId;              // shared by the two reports of a pair
    QString role;                // a pair's report: "A" (Point A) or "B" (Point B)
};

void SetOperationReportSink(std::function<void(const TOperationReport&)> sink);
// Window thread, once per module an operation wrote to or tested.
void ReportOperation(const TOperationReport& report);

// The differing addresses of a verify or compare, as the record keeps them.
struct TByteDifference;
QString DifferenceAddresses(const std::vector<TByteDifference>& differences, int shown = 16);

// The report of a programming run (module/program_runs) on port that began
// at started; image is what was programmed. stopRequested: the run was asked
// to stop (Close Port, closing the window, a signal); a run it cut short is
// stopped, whatever its waits returned after the stop, never a module that
// did not answer.
struct TProgramRun;
TOperationReport ProgramReport(const QString& operation, const QString& port, const QDateTime& started,
                               const std::array<uint8_t, 128>& image, bool configImage, const TProgramRun& run,
                               bool stopRequested = false);
