#pragma once
// What the record keeps of an image and a key: enough to tell which image
// went where and which two modules share a key, nothing to recover the key.
#include <QByteArray>
#include <QString>
#include <cstdint>

// SHA-256 (hex) of a configuration image with its 16 key bytes zeroed.
QString ConfigImageHashWithoutKey(const uint8_t* image, int size);
// SHA-256 (hex) of a flash image (it holds no key).
QString ImageHash(const uint8_t* image, int size);
// The first 8 hex digits of SHA-256 of the 16 key bytes of a configuration
// image; empty when the image is too short.
QString ConfigKeyFingerprint(const uint8_t* image, int size);
// The same for a key given as bytes.
QString KeyFingerprint(const QByteArray& keyBytes);
