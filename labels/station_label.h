#pragma once
// The station's label step: what the tool's --labels/--print and the
// Station window hand to TStationSetup::label. Draws the passed module's
// label from the profile's values and the module's unit address and row,
// writes it to the labels folder and prints it on the printer, when named.
#include <QString>

#include "labels/module_label.h"
#include "settings/config_values.h"
#include "station/station_events.h"

struct TStationLabelSetup {
    QString dir;      // where the labels go; empty: none kept (only printed)
    QString printer;  // the CUPS printer; empty: not printed
    TLabelSize size;  // the profile's label size, or --label-size
    QString profileName;
    TConfigValues profile;  // mode, channel, rate and role for the label
    int timeoutMs = 30000;  // for lp
    bool IsSet() const { return !dir.isEmpty() || !printer.isEmpty(); }
};

// What the label of this module shows.
TLabelContent StationLabelContent(const TStationLabelRequest& request, const TStationLabelSetup& setup);

// The label step itself (any thread). ok with file (the PNG, when kept) on
// success; else the error says what failed: "cannot print on line-3: ...",
// "cannot write the label: ...".
TStationLabelOutcome MakeStationLabel(const TStationLabelRequest& request, const TStationLabelSetup& setup);
