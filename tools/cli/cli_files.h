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

// Output files are written by the panel's one atomic writer.
#include "common/atomic_file.h"
