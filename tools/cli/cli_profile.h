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
    bool erased = false;      // every byte FF: a module never programmed
};
TProfileFromImage ProfileFromImage(const TMemoryBlock& image);

// Why the profile file path is not written for an image with bytes the
// profile cannot hold: how many, their addresses (the first 16), and the
// .bin name that keeps an exact copy.
QString ProfileRefusal(const QString& path, const TProfileFromImage& profile);

// The profile's values, read and checked as the panel loads them. False
// with *error listing every problem of the file; *warnings gets the members
// it ignored.
bool LoadProfileValues(const QString& path, TConfigValues* values, QString* error, QStringList* warnings);

// The input of program-config and pair: a profile (.json) or a raw image
// (.bin), both as values and as the image they make (a raw image as it
// is, its values as the page decodes them). False with *error saying what
// the file should be.
bool LoadConfigInput(const QString& command, const QString& path, TConfigValues* values, TMemoryBlock* image,
                     QString* error, QStringList* warnings);
