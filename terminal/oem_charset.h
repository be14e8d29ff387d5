#pragma once
// How a terminal byte is shown: the OEM (PC) character set for a font with
// that character set, otherwise Latin-1.
#include <cstdint>

char16_t OemToUnicode(uint8_t c);
char16_t TermCharToUnicode(uint8_t c, bool oem);
