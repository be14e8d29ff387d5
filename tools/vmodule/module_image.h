#pragma once
// The virtual module's memory image file: its 256 bytes, raw, address 0 first.
#include <array>
#include <cstdint>
#include <string>

using TModuleImage = std::array<uint8_t, 256>;
// The configuration memory alone (addresses 0x80-0xFF), as the panel's
// Export Image writes it.
using TConfigMemory = std::array<uint8_t, 128>;

enum class TImageLoad { Loaded, Missing, Failed };

// Missing when the file does not exist (the memory stays as it is). Failed,
// with *error set, when it cannot be read, is no regular file or is not
// exactly 256 bytes long:
// a file of another shape is refused so that saving never overwrites it.
TImageLoad LoadModuleImage(const std::string& path, TModuleImage* image, std::string* error);
// A configuration memory file: exactly 128 bytes; a missing file is a failure.
bool LoadConfigMemory(const std::string& path, TConfigMemory* memory, std::string* error);
// Writes a temporary file beside the target (mode 0600, opened exclusively:
// the image holds the key) and renames it over, so an interrupted save
// leaves the old image whole.
bool SaveModuleImage(const std::string& path, const TModuleImage& image, std::string* error);
