#pragma once
// What a socket's tile and the window's counters say, as plain texts: the
// Station window paints them, its tests read them, screen readers get the
// accessible name (which carries the state).
#include <QString>

#include "station/station_events.h"

struct TTileText {
    QString headline;        // "PASS", "FAIL", the running step, "Empty"
    QString detail;          // the unit address, the reason and what to do, the socket
    QString accessibleName;  // "Socket 2 (usb-FTDI_A1): PASS, unit 0101"
    bool progress = false;   // a step runs: show percent
    int percent = 0;
};
TTileText SocketTileText(const TSocketView& view);

// One line of the last results: "12:03:04  usb-FTDI_A1  PASS 0101".
QString StationResultLine(const QString& socketName, const TStationModuleResult& result, const QDateTime& when);

// "Passed 3   Failed 1   Yield 75.0 %   120 modules per hour"
struct TSumsText {
    QString passed, failed, yield, perHour;
};
TSumsText StationSumsText(const TStationSums& sums);
