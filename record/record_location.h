#pragma once
// The panel's choice of record: empty for the local SQLite file, or the
// URL of a shared PostgreSQL record. Kept in its own small file of the
// user's configuration folder ($XDG_CONFIG_HOME/tarnwick/record-location).
#include <QString>

QString SavedRecordLocation();
// Keeps a shared URL without its password (never stored in clear).
bool SaveRecordLocation(const QString& location, QString* error);
