#pragma once
// Configuration profiles: the Config Memory page's values as a JSON file a
// person can read and diff. Members are named after the page's fields and
// hold the texts as typed and the items as chosen. Reading checks every
// member with the page's own rules and gives all values or none. Widget-free:
// the panel and the command-line tool share it.
#include <QByteArray>
#include <QString>

#include "settings/config_values.h"
#include "settings/profile_json.h"

namespace configprofile {
inline const QString kFormat = QStringLiteral("tarnwick-config-profile");
constexpr int kVersion = 1;
}  // namespace configprofile

// The texts as leaving each field would leave them (what "Program Config"
// reads): channels at their step's frequency, fallbacks for invalid texts,
// hex fields zero-filled; a typed UART enable text naming no item counts as
// "UART Disable", as it does for the image.
TConfigValues SettledConfigValues(const TConfigValues& values);

// The settled values as a profile.
QByteArray WriteConfigProfile(const TConfigValues& values);

struct TConfigProfileRead {
    TProfileCheck check;   // check.ok: values holds the profile's values
    TConfigValues values;  // the page's start values when not ok
};
TConfigProfileRead ReadConfigProfile(const QByteArray& bytes);
// A profile is a few hundred bytes; anything far larger is no profile.
constexpr qint64 kMaxProfileBytes = 1 << 20;

// Field rules of the page, for one text; empty when the text is accepted,
// else why not. *settled gets the text the field shows after leaving it.
QString CheckHexField(const QString& text, int maxLength, QString* settled);
QString CheckChannelField(const QString& text, QString* settled);
QString CheckTemperatureField(const QString& text, QString* settled);
QString CheckCustomBaudField(const QString& text, QString* settled);
