#pragma once
// The tool's side of the production record: its options (--record URL,
// --no-record, --unit-address-from), a row per port for every operation
// that writes to or tests a module, the unit addresses of a batch, and the
// history command. The options are taken out of the command line before the
// common parse, so the other commands' rules stay where they are.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <vector>

#include "record/production_record.h"
#include "tools/cli/cli_files.h"
#include "tools/cli/port_result.h"

struct TCliPlan;
struct TPairResult;

struct TCliRecordOptions {
    bool enabled = true;        // cleared by --no-record
    QString location;           // --record URL (empty: the local SQLite file)
    QString unitFrom;           // --unit-address-from: 4 hex digits, "next" or a FILE of "BY-ID ADDRESS" lines
    bool history = false;       // the history command
    TRecordQuery query;         // history's --since, --failed, --port, --pair
    enum { Text, Csv, Json } format = Text;
};

// Takes the record's options (and, for history, every option) out of args.
// False with *error on a usage error.
bool ExtractRecordOptions(QStringList* args, TCliRecordOptions* out, QString* error);
// The options for this run (set once by main before the run).
void SetCliRecordOptions(const TCliRecordOptions& options);
// The run's exit status, cli_exit::NotRecorded instead of Ok when a row of
// the run could not be stored (it waits in the spool).
int WithRecordStatus(int exitCode);
// A warning for stderr about the options (a password in the URL), or empty.
QString RecordWarning(const TCliRecordOptions& options);
// The help's section on the record.
QString RecordUsage();

// history: the rows on stdout; the exit status.
int RunHistory(const TCliRecordOptions& options, QByteArray* out, QByteArray* err);

// Before anything is sent: the unit address of each port of a
// program-config batch (from the record for "next"). False with *error
// (exit status 2) when they cannot be given.
bool PrepareUnitAddresses(const TCliPlan& plan, QString* error);
// The image a port gets: with its unit address when the batch gives one.
TMemoryBlock ImageForPort(const TMemoryBlock& image, const QString& port);

// The rows of a finished run stored; what the station must be told, for stderr.
QByteArray RecordResults(const TCliPlan& plan, const std::vector<TPortResult>& results);
QByteArray RecordPair(const TCliPlan& plan, const TPairResult& pair, qint64 durationMs);
// A link test's rows, one per port, as the panel records them: outcome
// "ok", "failed", "stopped" or "lost", and the reason in words.
QByteArray RecordLinkTest(const QStringList& ports, const QDateTime& started, qint64 durationMs, const QString& outcome,
                          int exitStatus, const QString& reason);
