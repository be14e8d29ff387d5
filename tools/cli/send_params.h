#pragma once
// "send COMMAND [PARAM...]": the command by its list text and its
// parameters as the command row takes them, turned into the row's values
// for the panel's encoder. Every text goes through the row's own field
// rules; what a row would refuse is a usage error here.
#include <QString>
#include <QStringList>

#include "commands/command_encoder.h"

// False with *error saying what the command takes.
bool ParseSendCommand(const QStringList& args, TCommandRowValues* row, QString* error);

// What a command takes, for the error texts and the manual.
QString SendParamHelp(int command);
