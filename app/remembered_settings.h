#pragma once
// What the panel remembers between runs, as a plain record, and its file:
// Qt's settings in INI form in the user's XDG config folder. Every entry is
// checked on reading; one that is missing or unusable keeps its start value,
// so a missing, unreadable or corrupt file only means the start values.
// Widget-free (window_settings puts the record onto the window).
#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <QString>
#include <optional>
#include <vector>

#include "commands/command_encoder.h"
#include "module/port_setup.h"
#include "settings/config_values.h"

struct TRememberedSettings {
    // The port as chosen: its stable /dev/serial/by-id name when it has one.
    QString port;
    TPortChoices choices;  // the Com Port page's groups (its port member unused)
    int page = 0;          // page last shown
    QByteArray geometry;   // window position (QWidget::saveGeometry)
    QMap<QString, bool> checks;      // remembered check boxes by name ("localEcho", ...)
    QMap<QString, QString> folders;  // last folder of each file chooser, by title
    std::optional<TConfigValues> config;                   // the Config Memory page
    std::optional<std::vector<TCommandRowValues>> rows;    // the nine command rows
    // A stored page or the rows that could not be restored: the message
    // lines that say so (the rest of the file is read as usual).
    QStringList lost;
};

// $XDG_CONFIG_HOME/tarnwick/tarnwick-panel.conf (~/.config when unset).
QString SettingsFilePath();

TRememberedSettings ReadRememberedSettings(const QString& path);
// Written atomically (Qt writes a temporary file and renames it).
bool WriteRememberedSettings(const QString& path, const TRememberedSettings& s);
// Forgets what was stored; true when nothing is left behind.
bool ForgetRememberedSettings(const QString& path);

// The name under byIdDir whose link leads to the device at path, else path;
// the path for a USB adapter without a serial number (its by-id name is
// shared by every adapter of its make).
QString StableDeviceName(const QString& path, const QString& byIdDir = QStringLiteral("/dev/serial/by-id"));
