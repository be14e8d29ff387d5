#pragma once
// The tool's commands: the input checked before anything is sent, then the
// command run on every port at once with the panel's own operations, and
// the results turned into output and one exit status.
#include <QByteArray>

#include "commands/command_encoder.h"
#include "settings/config_values.h"
#include "tools/cli/cli_files.h"
#include "tools/cli/cli_options.h"

struct TCliPlan {
    TCliOptions options;
    TMemoryBlock flash{};   // program-flash: the image to write
    TMemoryBlock config{};  // program-config: the image to write
    TCommandRowValues row;  // send: the row's values
    TConfigValues pair;     // pair: the profile's values (the new key in place with --new-key)
    QStringList warnings;   // about the input, for stderr before the run
};

// Reads and checks the input files and the send parameters. False with
// *error when the run must not start (exit status 2; nothing is sent).
bool PrepareRun(const TCliOptions& options, TCliPlan* plan, QString* error);

struct TCliOutcome {
    QByteArray out;
    QByteArray err;
    int exitCode = 0;
};
// Runs the plan (every port at once) and prints; progress on stderr when
// showProgress.
TCliOutcome RunPlan(const TCliPlan& plan, bool showProgress);

// The line settings the Com Port page would apply for the same choices,
// path included. May throw EComPort.
class TCustomComPort;
void SetUpPort(TCustomComPort& port, const TCliOptions& o, const QString& path);

// Ctrl-C asks every running operation to stop where it safely can; a
// second one ends the program at once.
void InstallAbortOnInterrupt();
void RequestAbort();
bool AbortWasRequested();
