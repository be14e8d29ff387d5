#include "module/line_claims.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QDir>
#include <QFileInfo>
#include <map>
#include <mutex>

#include "serial/com_port.h"

namespace {

std::mutex g_m;
std::map<QString, QString> g_holders;  // device key -> holder

}  // namespace

QString TLineClaim::DeviceKey(const QString& name)
{
    // The name as opening resolves it: "pts/3" is /dev/pts/3.
    const QString path = TCustomComPort::DevicePath(name);
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) == 0 && S_ISCHR(st.st_mode))
        return QStringLiteral("dev:%1:%2").arg(quint64(major(st.st_rdev))).arg(quint64(minor(st.st_rdev)));
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

TLineClaim::TLineClaim(const QString& path, const QString& holder) : key_(DeviceKey(path))
{
    std::lock_guard<std::mutex> lock(g_m);
    auto it = g_holders.find(key_);
    if (it != g_holders.end()) {
        refusal_ = QStringLiteral("%1 is in use by %2").arg(path, it->second);
        return;
    }
    g_holders.emplace(key_, holder);
    ok_ = true;
}

TLineClaim::~TLineClaim()
{
    if (!ok_) return;
    std::lock_guard<std::mutex> lock(g_m);
    g_holders.erase(key_);
}

bool TLineClaim::Claimed(const QString& path)
{
    const QString key = DeviceKey(path);
    std::lock_guard<std::mutex> lock(g_m);
    return g_holders.count(key) != 0;
}
