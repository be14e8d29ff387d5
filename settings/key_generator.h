#pragma once
// Encryption keys from the operating system's cryptographic random source.
// A time-seeded generator would make keys that anyone can recompute, so the
// bytes come from getrandom(2) only; the source is swappable so that a test
// can see it is the one used.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>

// Fills count bytes; false when the source failed.
using TRandomSource = std::function<bool(uint8_t* bytes, size_t count)>;

// getrandom(2), retried on interruption and short reads.
bool OsRandomBytes(uint8_t* bytes, size_t count);

// Puts source in place (an empty one restores getrandom) and gives back the
// one it replaced.
TRandomSource SetRandomSource(TRandomSource source);

// 32 upper-case hex digits (128 bits); empty when the source failed.
QString GenerateKey();

// The page's initial key, which anyone who has the program knows.
QString ExampleKey();
bool IsExampleKey(const QString& key);

// Why a key is weak, "" when it is not: a short field padded with zeros
// (half the digits or more zeros at its end), all zeros, all FF, or one
// byte repeated.
// Anyone can guess such a key.
QString WeakKeyReason(const QString& key);
// What to tell the user before a key goes into a file or a module: "the
// example key, ..." or "a weak key (why), ...", "" for a private key.
QString KeyWarning(const QString& key);
