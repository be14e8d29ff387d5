#pragma once
// Writing a whole file so that it is replaced only once every byte is on
// disk: an interrupted or failed write leaves any earlier file intact.
#include <QByteArray>
#include <QString>

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
// Reads at most maxBytes (a guard against a wrong file); false with *error.
bool ReadSmallFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error = nullptr);
