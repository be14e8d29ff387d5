#pragma once
// Bits of TDCBRecord::Flags, at the positions of the Win32 DCB bit fields.
#include <cstdint>

namespace dcb {
constexpr uint32_t Binary = 0x0001;
constexpr uint32_t Parity = 0x0002;
constexpr uint32_t OutxCtsFlow = 0x0004;
constexpr uint32_t OutxDsrFlow = 0x0008;
constexpr uint32_t DtrControlMask = 0x0030;  // 0x10 enable, 0x20 handshake
constexpr uint32_t DsrSensitivity = 0x0040;
constexpr uint32_t TxContinueOnXoff = 0x0080;
constexpr uint32_t OutX = 0x0100;
constexpr uint32_t InX = 0x0200;
constexpr uint32_t ErrorChar = 0x0400;
constexpr uint32_t Null = 0x0800;
constexpr uint32_t RtsControlMask = 0x3000;  // 0x1000 enable, 0x2000 handshake, 0x3000 toggle
constexpr uint32_t AbortOnError = 0x4000;
}  // namespace dcb
