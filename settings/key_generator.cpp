#include "settings/key_generator.h"

#include <sys/random.h>

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
