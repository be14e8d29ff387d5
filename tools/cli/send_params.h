#pragma once
// "send COMMAND [PARAM...]": the command by its list text and its
// parameters as the command row takes them, turned into the row's values
// for the panel's encoder. Every text goes through the row's own field
// rules; what a row would refuse is a usage error here.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "commands/command_encoder.h"

// False with *error saying what the command takes.
bool ParseSendCommand(const QStringList& args, TCommandRowValues* row, QString* error);

// What a command takes, for the error texts and the manual.
QString SendParamHelp(int command);

// The tool's judgement of a send's reply (the Command page only logs it):
// the whole reply came in time, and the protocol's fixed bytes are there
// (0x6B after "Connect" and "Disconect", 0x43 first in "Read Version", a
// "Read Flash" header with 010 in its top bits). Empty when it is good.
QString SendReplyProblem(int command, int replyLength, bool complete, const std::vector<uint8_t>& reply);
