#pragma once
// tarnwick-cli link-test: the panel's Link Test for scripts, with options of
// its own; parsed apart from the other commands' options.
#include <QString>
#include <QStringList>

#include "module/link_test.h"

struct TLinkTestOptions {
    TLinkTestRequest request;
    bool json = false;
    bool quiet = false;
    bool help = false;
    QString csv;  // --csv FILE: the per-second figures
};

// True when the command line names the link-test command.
bool IsLinkTestCommand(const QStringList& args);
// args without the program name; false with *error on a usage error.
bool ParseLinkTestOptions(const QStringList& args, TLinkTestOptions* out, QString* error);
QString LinkTestUsage();
// The exit status of a verdict: 0 passed, 1 failed, 3 a port did not open,
// 5 stopped, 6 a port went away (2: usage, before the run).
int LinkTestExitStatus(TLinkVerdict v);
// Runs the test, prints and records; returns the exit status.
int RunLinkTestCommand(const QStringList& args);
