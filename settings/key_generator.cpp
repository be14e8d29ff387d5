#include "settings/key_generator.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "settings/config_values.h"

namespace {

std::mutex g_sourceMutex;
TRandomSource g_source;

}  // namespace

bool OsRandomBytes(uint8_t* bytes, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = getrandom(bytes + done, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

TRandomSource SetRandomSource(TRandomSource source)
{
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    TRandomSource old = std::move(g_source);
    g_source = std::move(source);
    if (!old) old = OsRandomBytes;
    return old;
}

QString GenerateKey()
{
    TRandomSource source;
    {
        std::lock_guard<std::mutex> lock(g_sourceMutex);
        source = g_source;
    }
    if (!source) source = OsRandomBytes;
    uint8_t bytes[16] = {};
    if (!source(bytes, sizeof bytes)) return {};
    QString key;
    for (uint8_t b : bytes) key += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return key;
}

QString ExampleKey() { return TConfigValues{}.key; }

bool IsExampleKey(const QString& key) { return key.compare(ExampleKey(), Qt::CaseInsensitive) == 0; }

QString WeakKeyReason(const QString& key)
{
    // A short field is filled with zeros in front (as the page settles it
    // and a profile is read); an image fills missing bytes with FF.
    const QString digits = key.trimmed().toUpper().rightJustified(32, QLatin1Char('0'), true);
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    if (bytes.size() != 16) return {};  // not a key the page accepts: its own checks say so
    if (bytes.count(bytes[0]) == bytes.size())
        return bytes[0] == 0 ? QStringLiteral("it is all zeros")
               : uint8_t(bytes[0]) == 0xFF
                   ? QStringLiteral("it is all FF")
                   : QStringLiteral("it is one byte, %1, repeated").arg(QString::fromLatin1(bytes.left(1).toHex().toUpper()));
    // Half the key or more zeros or F at one end: a random key does that once in 2^64.
    for (const QChar pad : {QLatin1Char('0'), QLatin1Char('F')}) {
        qsizetype front = 0, back = 0;
        while (front < 32 && digits[front] == pad) ++front;
        while (back < 32 && digits[31 - back] == pad) ++back;
        if (std::max(front, back) >= 16)
            return QStringLiteral("it has only %1 of 32 hex digits set, and the rest is %2")
                .arg(32 - std::max(front, back))
                .arg(pad == QLatin1Char('0') ? QStringLiteral("zeros") : QStringLiteral("F"));
    }
    return {};
}

QString KeyWarning(const QString& key)
{
    if (IsExampleKey(key)) return QStringLiteral("the example key, which anyone can know");
    const QString weak = WeakKeyReason(key);
    return weak.isEmpty() ? QString() : QStringLiteral("a weak key (%1), which anyone can guess").arg(weak);
}
