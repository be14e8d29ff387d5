#pragma once
// Writing a whole file so that it is replaced only once every byte is on
// disk: an interrupted or failed write leaves any earlier file intact.
//
// Modes: a new file gets 0666 less the umask, a private one (it holds an
// encryption key) 0600. A save over an existing file never widens its mode:
// the usual writer keeps the old mode, the private one keeps only the old
// owner bits. The temporary file is created with its final permissions, so
// no other user can open it in between.
#include <QByteArray>
#include <QString>

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
bool WritePrivateFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// For a file written in place or by another writer (the traffic log, the
// remembered settings): creates it empty with mode 0600 when it is missing,
// else takes every group and other bit off its mode. False with *error.
bool MakeFileOwnerOnly(const QString& path, QString* error = nullptr);

// Reads at most maxBytes (a guard against a wrong file); false with *error.
bool ReadSmallFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error = nullptr);
