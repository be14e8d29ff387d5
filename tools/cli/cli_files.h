#pragma once
// The tool's files: input images checked before anything is sent, and
// output written only after the whole operation succeeded, atomically.
#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

using TMemoryBlock = std::array<uint8_t, 128>;

// A raw image of exactly 128 bytes; false with *error saying what is wrong.
bool LoadRawImage(const QString& path, TMemoryBlock* image, QString* error);

// Writes beside the target and renames over it: a reader never sees half a
// file, and a failed write leaves an earlier file as it was.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);
