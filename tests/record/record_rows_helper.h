#pragma once
// A record row for the record's tests: this port and outcome, in a pair or
// not, some minutes ago.
#include "record/record_entry.h"

TRecordEntry Row(const QString& port, const QString& outcome, const QString& pair = {}, int minutesAgo = 0);
