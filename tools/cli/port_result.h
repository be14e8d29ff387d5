#pragma once
// What one port's run gives back: the exit status it counts for, the error
// in plain words, the time it took, the data of its command (for --json)
// and the text it prints otherwise.
#include <QJsonObject>
#include <QString>
#include <QStringList>

struct TPortResult {
    QString port;
    QString command;
    int exitCode = 0;   // cli_exit::*
    QString error;      // empty when ok
    qint64 durationMs = 0;
    QJsonObject data;   // the command's data, merged into the JSON object
    QStringList text;   // lines printed on stdout without --json
    QStringList warnings;  // to stderr, whatever the outcome
    bool Ok() const { return exitCode == 0; }
};
