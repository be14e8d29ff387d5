#pragma once
// The configuration memory as the panel's profile, both ways: an image read
// from a module decoded into the Config Memory page's values and written as
// a profile, and a profile file checked with the page's rules and built
// into the image "Program Config" writes.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include "settings/config_values.h"
#include "tools/cli/cli_files.h"

struct TProfileFromImage {
    QByteArray bytes;         // the profile file
    QJsonObject json;         // the same, parsed
    QJsonArray notInProfile;  // bytes the page cannot express: {offset, address, found, written, why}
    QStringList warnings;     // what to tell the user about those bytes
};
TProfileFromImage ProfileFromImage(const TMemoryBlock& image);

// Why the profile file path is not written for an image with bytes the
// profile cannot hold: how many, their addresses (the first 16), and the
// .bin name that keeps an exact copy.
QString ProfileRefusal(const QString& path, const TProfileFromImage& profile);

// False with *error listing every problem of the file; *warnings gets the
// members it ignored.
bool LoadProfileImage(const QString& path, TMemoryBlock* image, QString* error, QStringList* warnings);
// The profile's values, read and checked as the panel loads them.
bool LoadProfileValues(const QString& path, TConfigValues* values, QString* error, QStringList* warnings);
