#include "settings/jumper_table.h"

namespace {

using Pair = std::array<THeaderState, 2>;

constexpr THeaderState U = hsUpper, L = hsLower, R = hsRemoved;

THeaderState RFDataRateState(TDunmereRFDataRate r)
{
    switch (r) {
    case dr76800: return L;
    case dr19200: return R;
    case dr4800: return U;
    }
    return R;
}

Pair BaudStates(TDunmereBaudRate b)
{
    switch (b) {
    case bd115200: return {R, U};
    case bd57600: return {L, L};
    case bd38400: return {L, R};
    case bd19200: return {U, R};
    case bd9600: return {R, L};
    case bd2400: return {U, L};
    case bd1200: return {R, R};
    case bdCustom: return {L, U};
    }
    return {R, R};
}

Pair ChannelStates(int item)
{
    static constexpr Pair kTable[] = {
        {L, L}, {L, R}, {R, L}, {R, R}, {L, U}, {R, U}, {U, L}, {U, R}, {U, U},
    };
    if (item < 0 || item > kChannel15Item) return {R, R};
    return kTable[item];
}

THeaderState PointState(TDunmerePoint p) { return p == ptPointB ? U : L; }

std::array<THeaderState, kHeaderPositions> HeaderStates(const TJumperSelections& s)
{
    const Pair baud = s.Mode == dmDemo ? Pair{U, U} : BaudStates(s.BaudRate);
    const Pair channel = ChannelStates(s.RFChannel);
    return {
        s.Mode == dmCommand ? U : L,
        RFDataRateState(s.RFDataRate),
        baud[0],
        baud[1],
        channel[0],
        channel[1],
        s.Mode == dmCommand ? L : PointState(s.MasterSlave),
    };
}

void DrawDb9Part(const TJumperSelections& s, TJumperDrawing& d)
{
    if (s.RS232Serial == dsTx2Rx3) {
        d.Db9Marks[jmSerialStraight1] = d.Db9Marks[jmSerialStraight2] = true;
        d.Labels[lbR] = QStringLiteral("TX");
        d.Labels[lbS] = QStringLiteral("RX");
    } else {
        d.Db9Marks[jmSerialCrossed1] = d.Db9Marks[jmSerialCrossed2] = true;
        d.Labels[lbS] = QStringLiteral("TX");
        d.Labels[lbR] = QStringLiteral("RX");
    }

    TLabelBox fi = lbP, fo = lbQ;
    switch (s.FlowControl) {
    case dfFi7Fo8:
        d.Db9Marks[jmFlowVertical1] = d.Db9Marks[jmFlowVertical2] = true;
        d.Overlay = ovHide;
        break;
    case dfFi8Fo7:
        d.Db9Marks[jmFlowPairA1] = d.Db9Marks[jmFlowPairA2] = true;
        d.Overlay = ovHide;
        fi = lbQ, fo = lbP;
        break;
    case dfFi4Fo6:
        d.Db9Marks[jmFlowVertical3] = d.Db9Marks[jmFlowVertical4] = true;
        d.Overlay = ovShow;
        fi = lbQ, fo = lbP;
        break;
    case dfFi6Fo4:
        d.Db9Marks[jmFlowPairB1] = d.Db9Marks[jmFlowPairB2] = true;
        d.Overlay = ovShow;
        break;
    }
    d.Labels[fi] = QStringLiteral("FI");
    d.Labels[fo] = QStringLiteral("FO");
}

}  // namespace

TJumperDrawing DecideJumpers(const TJumperSelections& s)
{
    TJumperDrawing d;
    bool header = false, db9 = false;
    if (s.LoadFromFlash) {
        db9 = s.Mode == dmCableLink || s.Mode == dmCommand || s.Mode == dmPeripheral;
    } else {
        switch (s.Mode) {
        case dmDemo: header = true; break;
        case dmCableLink:
        case dmCommand: header = db9 = true; break;
        case dmPeripheral:
        case dmATCommand: db9 = true; break;
        case dmRC: break;
        }
    }
    if (header) d.Header = HeaderStates(s);
    if (db9) DrawDb9Part(s, d);
    return d;
}

TJumperControls ModeControls(TDunmereMode mode)
{
    TJumperControls c;
    switch (mode) {
    case dmDemo:
        c.RFDataRate = c.RFChannel = c.MasterSlave = true;
        c.PointNotes = true;
        break;
    case dmCableLink:
        c.RFDataRate = c.BaudRate = c.RFChannel = c.MasterSlave = c.RS232Serial = c.FlowControl = true;
        c.SerialDefaultLabel = c.PointNotes = c.LoadFromFlash = true;
        break;
    case dmCommand:
        c.RFDataRate = c.BaudRate = c.RFChannel = c.RS232Serial = c.FlowControl = true;
        c.SerialDefaultLabel = c.LoadFromFlash = true;
        break;
    case dmPeripheral:
    case dmATCommand:
        c.RS232Serial = c.FlowControl = true;
        break;
    case dmRC:
        c.PointNotes = true;
        break;
    }
    return c;
}

TJumperControls LoadFromFlashControls(TDunmereMode mode, bool checked)
{
    if (!checked) return ModeControls(mode);
    // The module takes RF, baud and role from its configuration memory:
    // only the DB9 wiring is still set by jumpers.
    TJumperControls c;
    c.RS232Serial = c.FlowControl = true;
    c.LoadFromFlash = true;
    c.PointNotes = mode == dmCableLink;
    return c;
}

QRect ShuntMarkRect(TShuntMark mark, THeaderState state)
{
    switch (mark) {
    case jmSerialStraight1: return {149, 82, 14, 30};
    case jmSerialStraight2: return {165, 82, 14, 30};
    case jmSerialCrossed1: return {149, 82, 30, 14};
    case jmSerialCrossed2: return {149, 98, 30, 14};
    case jmFlowVertical1: return {85, 82, 14, 30};
    case jmFlowVertical2: return {101, 82, 14, 30};
    case jmFlowVertical3: return {117, 82, 14, 30};
    case jmFlowVertical4: return {133, 82, 14, 30};
    case jmFlowPairA1: return {85, 82, 30, 14};
    case jmFlowPairA2: return {85, 98, 30, 14};
    case jmFlowPairB1: return {117, 82, 30, 14};
    case jmFlowPairB2: return {117, 98, 30, 14};
    default: break;
    }
    const int position = mark - jmHeader1;
    const int top = state == hsLower ? kHeaderLowerTop : kHeaderUpperTop;
    return {22 + 16 * position, top, 14, 30};
}

QRect LabelBoxRect(TLabelBox box)
{
    switch (box) {
    case lbP: return QRect(QPoint(54, 6), QPoint(80, 31) - QPoint(1, 1));
    case lbQ: return QRect(QPoint(208, 6), QPoint(240, 31) - QPoint(1, 1));
    case lbR: return QRect(QPoint(54, 48), QPoint(80, 65) - QPoint(1, 1));
    case lbS: return QRect(QPoint(208, 48), QPoint(240, 65) - QPoint(1, 1));
    }
    return {};
}
