#pragma once
// How the results reach stdout: one JSON object per port (one line each)
// with --json, plain text otherwise; errors go to stderr, one line per port.
#include <QByteArray>
#include <QJsonObject>
#include <vector>

#include "tools/cli/port_result.h"

// {"port", "command", "ok", "error", "duration_ms", ...data}; error is null when ok.
QJsonObject ResultJson(const TPortResult& r);

struct TPrintedResults {
    QByteArray out;  // for stdout
    QByteArray err;  // for stderr
};
// Text: with one port its lines as they are; with several, each line
// prefixed by the port. Failures name the port and say what to do.
TPrintedResults PrintResults(const std::vector<TPortResult>& results, bool json);

// The 128 bytes as a hex dump: address, 16 bytes, their printable characters.
QStringList HexDump(const uint8_t* bytes, int count, int firstAddress = 0);
