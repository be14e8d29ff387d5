#pragma once
#include <QString>
#include <functional>

// The panel's rows in the production record: every report of a finished
// operation (module/operation_report) becomes a row, stored off the window
// thread.
// tell: what the status line should show (rows kept in the spool and why);
// called on the record's writer thread.
void RecordPanelOperations(std::function<void(const QString&)> tell);
// Stores what is still waiting, at most timeoutMs (the program's end).
void FlushPanelRecord(int timeoutMs);
