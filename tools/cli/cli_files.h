#pragma once
// The tool's files: input images checked before anything is sent, and
// output written only after the whole operation succeeded, atomically
// (common/atomic_file), to a target checked before anything is sent.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "common/atomic_file.h"

using TMemoryBlock = std::array<uint8_t, 128>;

// A raw image of exactly 128 bytes; false with *error saying what is wrong.
bool LoadRawImage(const QString& path, TMemoryBlock* image, QString* error);

// Whether -o gives each port a file of its own: two ports whose names end
// alike (d1/mod, d2/mod) would write one file. False with *error naming both.
bool CheckOutputsDistinct(const QString& pattern, const QStringList& ports, QString* error);

// Whether the output file can be written where it is to go: not a folder,
// not a file that refuses writing, and a folder that takes the new file the
// atomic write puts beside it. False with *error ("cannot write PATH: why").
bool CheckOutputWritable(const QString& path, QString* error);

// Output files are written by the panel's one atomic writer.
#include "common/atomic_file.h"
