#pragma once
// The virtual module's memory image file: its 256 bytes, raw, address 0 first.
#include <array>
#include <cstdint>
#include <string>

using TModuleImage = std::array<uint8_t, 256>;

enum class TImageLoad { Loaded, Missing, Failed };

// Missing when the file does not exist (the memory stays as it is). Failed,
// with *error set, when it cannot be read or is not exactly 256 bytes long:
// a file of another shape is refused so that saving never overwrites it.
TImageLoad LoadModuleImage(const std::string& path, TModuleImage* image, std::string* error);
// Writes a temporary file beside the target and renames it over, so an
// interrupted save leaves the old image whole.
bool SaveModuleImage(const std::string& path, const TModuleImage& image, std::string* error);
