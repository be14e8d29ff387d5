#pragma once
// tarnwick-cli station: programs every module plugged in, unattended, until
// Ctrl-C. Its own options (--watch, --labels, --print, --label-size,
// --reprogram) are taken out of the command line before the common parse;
// the line options, --port and --json are the common ones.
#include <QString>
#include <QStringList>

struct TCliPlan;
struct TCliRecordOptions;

struct TStationCliOptions {
    QStringList watch;   // --watch DIR, in the order given
    QString labels;      // --labels DIR
    QString printer;     // --print PRINTER
    QString labelSize;   // --label-size WxH (millimetres)
    bool reprogram = false;
    bool Given() const { return !watch.isEmpty() || !labels.isEmpty() || !printer.isEmpty() || !labelSize.isEmpty() || reprogram; }
};

// Takes the station's options out of args. False with *error on a usage error.
bool ExtractStationOptions(QStringList* args, TStationCliOptions* out, QString* error);
QString StationUsage();

// Runs the station until Ctrl-C (a second one stops the running modules)
// and prints its events and summary; the exit status: 0 every module
// passed, 1 one failed, 2 usage, 3 no watched folder or port could be used.
int RunStationCommand(const TCliPlan& plan, const TStationCliOptions& options, const TCliRecordOptions& record);
