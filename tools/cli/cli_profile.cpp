#include "tools/cli/cli_profile.h"

#include <QFile>
#include <QJsonDocument>

#include "module/config_decoder.h"
#include "module/config_image.h"
#include "settings/config_profile.h"

TProfileFromImage ProfileFromImage(const TMemoryBlock& image)
{
    TProfileFromImage p;
    const TConfigDecoding decoding = DecodeConfigImage(image);
    p.bytes = WriteConfigProfile(decoding.values);
    p.json = QJsonDocument::fromJson(p.bytes).object();
    for (const TConfigDifference& d : decoding.differences) {
        p.notInProfile.append(QJsonObject{{QStringLiteral("offset"), d.offset},
                                          {QStringLiteral("address"), 0x80 + d.offset},
                                          {QStringLiteral("found"), int(d.found)},
                                          {QStringLiteral("written"), int(d.written)},
                                          {QStringLiteral("why"), DecodeReasonText(d.reason)}});
    }
    if (!decoding.differences.empty()) {
        p.warnings = DifferenceMessageLines(decoding.differences);
        p.warnings << QStringLiteral("For an exact copy of the memory, read it with -o FILE.bin.");
    }
    return p;
}

bool LoadProfileImage(const QString& path, TMemoryBlock* image, QString* error, QStringList* warnings)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    const TConfigProfileRead read = ReadConfigProfile(f.readAll());
    if (!read.check.ok) {
        *error = QStringLiteral("%1 is not a usable profile: %2").arg(path, read.check.problems.join(QStringLiteral("; ")));
        return false;
    }
    for (const QString& name : read.check.unknown)
        *warnings << QStringLiteral("%1: member %2 is not part of the profile and was ignored").arg(path, name);
    // The reader held every value to the page's rules: nothing to replace.
    *image = ConfigImage(read.values);
    return true;
}
