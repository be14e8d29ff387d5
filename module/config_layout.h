#pragma once
// Where the fields sit in the 128-byte configuration image: shared by the
// image the page builds and the decoder that reads one back.

namespace config_layout {

constexpr int kOffChannels12 = 0x30;
constexpr int kOffKey = 0x40;
constexpr int kOffPinsLow = 0x52;
constexpr int kOffPinsHigh = 0x53;
constexpr int kOffChannel = 0x55;
constexpr int kOffRateRole = 0x56;
constexpr int kOffUART = 0x57;
constexpr int kOffFlow = 0x5C;
constexpr int kOffAddress = 0x5E;
constexpr int kOffAddressAgain = 0x60;
constexpr int kOffTemperature = 0x62;
constexpr int kOffMode = 0x66;
constexpr int kOffDivisor = 0x7A;

}  // namespace config_layout
