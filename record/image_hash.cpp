#include "record/image_hash.h"

#include <QCryptographicHash>

#include "module/config_layout.h"

namespace {
constexpr int kKeyBytes = 16;
}

QString ImageHash(const uint8_t* image, int size)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(image, size), QCryptographicHash::Sha256).toHex());
}

QString ConfigImageHashWithoutKey(const uint8_t* image, int size)
{
    QByteArray copy(reinterpret_cast<const char*>(image), size);
    if (size >= config_layout::kOffKey + kKeyBytes)
        for (int i = 0; i < kKeyBytes; ++i) copy[config_layout::kOffKey + i] = 0;
    return ImageHash(reinterpret_cast<const uint8_t*>(copy.constData()), int(copy.size()));
}

QString KeyFingerprint(const QByteArray& keyBytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(keyBytes, QCryptographicHash::Sha256).toHex().left(8));
}

QString ConfigKeyFingerprint(const uint8_t* image, int size)
{
    if (size < config_layout::kOffKey + kKeyBytes) return {};
    return KeyFingerprint(QByteArray(reinterpret_cast<const char*>(image) + config_layout::kOffKey, kKeyBytes));
}
