#pragma once
// The panel's command line, read before any application object exists, so
// that --help, --version and usage errors need no display.
#include <QString>
#include <QStringList>

struct PanelCommandLine {
    enum class Action { Run, Exit };
    Action action = Action::Run;
    int exitCode = 0;
    QString out;   // for stdout (help, version)
    QString err;   // for stderr (what is wrong, then the usage)

    QString port;        // --port PATH
    bool simulate = false;
    bool resetSettings = false;  // --reset-settings
    QString profile;             // --profile FILE
};

// args as argv, program name first.
PanelCommandLine ParsePanelCommandLine(const QStringList& args);
