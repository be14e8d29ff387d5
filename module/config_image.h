#pragma once
// The module's 128-byte configuration record (addresses 0x80-0xFF), built
// from the Config Memory page's values over the fixed template.
#include <array>
#include <cstdint>

struct TConfigValues;

using TConfigImage = std::array<uint8_t, 128>;

// The template the image starts from: the fixed channel table 0-11 and the
// constant bytes; everything else 0x00.
const TConfigImage& ConfigTemplate();

// Builds the image. The field texts are converted on copies (channel steps,
// temperature offset, custom baud); *rejected counts the values that were
// out of range and replaced, each of which the caller answers with a beep.
TConfigImage ConfigImage(const TConfigValues& values, int* rejected = nullptr);

// Power-up bytes by themselves (exposed for the tables they follow).
uint8_t PowerUpRateRoleByte(int mode, int rfDataRateItem, int masterSlaveItem);  // 0x56
uint8_t PowerUpUARTByte(int mode, int baudItem, int bitsItem, int uartEnableItem);  // 0x57
uint8_t PowerUpModeCode(int mode);                                                // 0x66

// The unit address in an image: as the Config Memory page writes it, low
// byte then high byte, at 0x5E and again at 0x60.
void SetImageUnitAddress(TConfigImage& image, int address);
// The address an image holds at 0x5E; -1 when its second copy differs.
int ImageUnitAddress(const TConfigImage& image);
