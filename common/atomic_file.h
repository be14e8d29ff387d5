#pragma once
// Writing a whole file so that it is replaced only once every byte is on
// disk: an interrupted or failed write leaves any earlier file intact.
//
// Modes: a new file gets 0666 less the umask, a private one (it holds an
// encryption key) 0600. A save over an existing file never widens its mode:
// the usual writer keeps the old mode, the private one keeps only the old
// owner bits. The temporary file is created with its final permissions, so
// no other user can open it in between.
//
// Links: a link is written through (its target replaced, the link kept)
// only where the kernel itself would follow it in a sticky folder: a link in
// a sticky, world-writable folder (/tmp) is followed only when it belongs to
// the user or to the folder's owner. Any other is refused with the reason
// and nothing is written. Every writer here applies the rule.
#include <QByteArray>
#include <QString>

// The file a write to path reaches: path itself, or where its links lead
// when every link in the chain may be followed. False with *error (and
// nothing to write to) for a link another user planted in a shared folder.
// For any file written in place (a log, a spool): open *target, not path.
bool ResolveWritableLink(const QString& path, QString* target, QString* error = nullptr);

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
bool WritePrivateFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// For a file written in place or by another writer (the traffic log, the
// remembered settings): creates it empty with mode 0600 when it is missing,
// else takes every group and other bit off its mode. False with *error.
bool MakeFileOwnerOnly(const QString& path, QString* error = nullptr);

// Reads a regular file of at most maxBytes (a guard against a wrong file):
// a pipe, a device or a folder is refused at once, without waiting for a
// writer or reading endless bytes. False with *error.
bool ReadSmallFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error = nullptr);
// The first count bytes of a regular file (all of a shorter one), refused as
// above; *more says whether the file goes on.
bool ReadFileHead(const QString& path, qint64 count, QByteArray* bytes, bool* more, QString* error = nullptr);
