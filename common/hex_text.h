#pragma once
// Hexadecimal text helpers shared by the pages and the module operations.
#include <QByteArray>
#include <QString>
#include <cstdint>

// Value of the hex digits at positions start .. start+count-1 of text
// (positions from 1); 0xFFFF when the text is too short or not hex.
uint16_t HexSubstringValue(const QString& text, int start, int count);

// Two upper-case hex digits.
QString HexByte(uint8_t b);
