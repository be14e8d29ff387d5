#pragma once
// The panel's rows in the production record: every report of a finished
// operation (module/operation_report) becomes a row, stored off the window
// thread.
void RecordPanelOperations();
// Stores what is still waiting, at most timeoutMs (the program's end).
void FlushPanelRecord(int timeoutMs);
