// The pure parts of the port: the line-settings record and its termios
// mapping, flow-control presets, setters, names, error texts, event masks.
#include <QtTest>

#include "scripted_device_helper.h"
#include "serial/com_port.h"
#include "serial/com_thread.h"
#include "serial/dcb_termios.h"

namespace {

// The Com Port page's four flow choices, as the page applies them.
void RtsCts(TComFlowControl& fc)
{
    fc.SetFlowControl(fcHardware);
    fc.SetControlDTR(dtrEnable);
    fc.SetControlRTS(rtsHandshake);
    fc.SetOutDSRFlow(false);
    fc.SetOutCTSFlow(true);
}

void DtrDsr(TComFlowControl& fc)
{
    fc.SetFlowControl(fcHardware);
    fc.SetControlDTR(dtrHandshake);
    fc.SetControlRTS(rtsEnable);
    fc.SetOutDSRFlow(true);
    fc.SetOutCTSFlow(false);
}

}  // namespace

class TestLineSettings : public QObject {
    Q_OBJECT
private slots:
    void rtsCtsRecord();
    void otherFlowChoicesAndParity();
    void ratesAndBufferSizes();
    void presetsReadOrder();
    void presetsWriteMembersAndApplyOnce();
    void settersCompareFirstAndApplyOnlyWhileOpen();
    void syncMethodRefusedWhileOpen();
    void devicePaths();
    void errorTexts();
    void eventMask();
    void termiosMapping();
    void termiosRejectsImpossibleRecords();
};

void TestLineSettings::rtsCtsRecord()
{
    TComPort port;
    RtsCts(port.FlowControl());
    const TDCBRecord d = port.MakeDCB();
    QCOMPARE(d.DCBlength, 28u);
    QCOMPARE(d.BaudRate, 9600u);
    QCOMPARE(d.Flags, 0x2015u);
    QCOMPARE(int(d.ByteSize), 8);
    QCOMPARE(int(d.Parity), 0);
    QCOMPARE(int(d.StopBits), 0);
    QCOMPARE(int(d.XonLim), 256);
    QCOMPARE(int(d.XoffLim), 256);
    QCOMPARE(d.XonChar, char(0x11));
    QCOMPARE(d.XoffChar, char(0x13));
    QCOMPARE(d.ErrorChar, char(0));
    QCOMPARE(d.EvtChar, char(0));
}

void TestLineSettings::otherFlowChoicesAndParity()
{
    TComPort port;
    DtrDsr(port.FlowControl());
    QCOMPARE(port.MakeDCB().Flags, 0x1029u);

    TComFlowControl& fc = port.FlowControl();
    fc.SetFlowControl(fcCustom);
    fc.SetControlDTR(dtrEnable);
    fc.SetControlRTS(rtsEnable);
    fc.SetOutDSRFlow(false);
    fc.SetOutCTSFlow(false);
    QCOMPARE(port.MakeDCB().Flags, 0x1011u);

    port.Parity().SetBits(prOdd);
    port.Parity().SetCheck(true);
    TDCBRecord d = port.MakeDCB();
    QCOMPARE(int(d.Parity), 1);
    QCOMPARE(d.Flags, 0x1013u);
    // Replacement only counts together with checking.
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    d = port.MakeDCB();
    QCOMPARE(d.Flags & 0x0400u, 0x0400u);
    QCOMPARE(d.ErrorChar, '?');
    port.Parity().SetCheck(false);
    d = port.MakeDCB();
    QCOMPARE(d.Flags & 0x0406u, 0u);
    QCOMPARE(d.ErrorChar, char(0));

    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwoStopBits);
    port.SetDiscardNull(true);
    port.SetEventChar('\r');
    d = port.MakeDCB();
    QCOMPARE(int(d.ByteSize), 7);
    QCOMPARE(int(d.StopBits), 2);
    QCOMPARE(d.Flags & 0x0800u, 0x0800u);
    QCOMPARE(d.EvtChar, '\r');
}

void TestLineSettings::ratesAndBufferSizes()
{
    TComPort port;
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(4800);
    QCOMPARE(port.MakeDCB().BaudRate, 4800u);
    port.SetBaudRate(br256000);
    QCOMPARE(port.MakeDCB().BaudRate, 256000u);
    port.SetBaudRate(br110);
    QCOMPARE(port.MakeDCB().BaudRate, 110u);

    port.Buffer().SetInputSize(1025);
    QCOMPARE(port.Buffer().InputSize(), 1024);
    port.Buffer().SetInputSize(2048);
    QCOMPARE(int(port.MakeDCB().XonLim), 512);
    QCOMPARE(int(port.MakeDCB().XoffLim), 512);
    port.Buffer().SetOutputSize(7);
    QCOMPARE(port.Buffer().OutputSize(), 6);
}

void TestLineSettings::presetsReadOrder()
{
    TComPort port;
    TComFlowControl& fc = port.FlowControl();
    QCOMPARE(fc.FlowControl(), fcNone);  // the defaults
    // The form's stored settings: DTR plays no part.
    fc.SetOutCTSFlow(true);
    fc.SetControlDTR(dtrHandshake);
    fc.SetControlRTS(rtsHandshake);
    QCOMPARE(fc.FlowControl(), fcHardware);
    fc.SetOutDSRFlow(true);
    fc.SetDSRSensitivity(true);
    QCOMPARE(fc.FlowControl(), fcHardware);
    fc.SetXonXoffIn(true);
    QCOMPARE(fc.FlowControl(), fcCustom);

    fc.SetOutCTSFlow(false);
    fc.SetControlRTS(rtsDisable);
    QCOMPARE(fc.FlowControl(), fcCustom);  // only one direction of XON/XOFF
    fc.SetXonXoffOut(true);
    QCOMPARE(fc.FlowControl(), fcSoftware);
    fc.SetControlRTS(rtsEnable);
    QCOMPARE(fc.FlowControl(), fcCustom);
}

void TestLineSettings::presetsWriteMembersAndApplyOnce()
{
    TScriptedLine line;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    port.SetEvents(0);
    TComFlowControl& fc = port.FlowControl();
    fc.SetControlDTR(dtrHandshake);
    fc.SetOutDSRFlow(true);
    fc.SetXonChar(0x01);
    port.OpenPort();
    const size_t base = line.Applied().size();

    fc.SetFlowControl(fcSoftware);
    QCOMPARE(line.Applied().size(), base + 1);
    QCOMPARE(fc.ControlRTS(), rtsDisable);
    QVERIFY(!fc.OutCTSFlow());
    QVERIFY(fc.XonXoffIn() && fc.XonXoffOut());
    // DTR, DSR and the characters are never touched by a preset.
    QCOMPARE(fc.ControlDTR(), dtrHandshake);
    QVERIFY(fc.OutDSRFlow());
    QCOMPARE(fc.XonChar(), char(0x01));

    fc.SetFlowControl(fcHardware);
    QCOMPARE(fc.ControlRTS(), rtsHandshake);
    QVERIFY(fc.OutCTSFlow());
    QVERIFY(!fc.XonXoffIn() && !fc.XonXoffOut());
    fc.SetFlowControl(fcHardware);  // already in force: applied again all the same
    QCOMPARE(line.Applied().size(), base + 3);
    QCOMPARE(line.Applied().back().Flags & 0x3004u, 0x2004u);

    fc.SetFlowControl(fcCustom);  // changes nothing but re-applies
    QCOMPARE(fc.FlowControl(), fcHardware);
    QCOMPARE(line.Applied().size(), base + 4);

    fc.SetFlowControl(fcNone);
    QCOMPARE(fc.FlowControl(), fcNone);
    QCOMPARE(fc.ControlDTR(), dtrHandshake);
    port.ClosePort();
}

void TestLineSettings::settersCompareFirstAndApplyOnlyWhileOpen()
{
    TScriptedLine line;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    port.SetEvents(0);
    port.SetBaudRate(br19200);  // closed: stored only
    QCOMPARE(line.Applied().size(), size_t(0));
    port.OpenPort();
    QCOMPARE(line.Applied().size(), size_t(1));
    QCOMPARE(line.Applied().back().BaudRate, 19200u);

    port.SetBaudRate(br19200);
    port.Parity().SetBits(prNone);
    port.FlowControl().SetXoffChar(0x13);
    port.SetDataBits(dbEight);
    QCOMPARE(line.Applied().size(), size_t(1));

    port.SetBaudRate(br57600);
    QCOMPARE(line.Applied().size(), size_t(2));
    QCOMPARE(line.Applied().back().BaudRate, 57600u);
    port.Parity().SetBits(prEven);
    QCOMPARE(line.Applied().size(), size_t(3));

    // Assigning a whole object copies every member and applies once.
    TComPort other;
    other.FlowControl().SetXonXoffIn(true);
    other.FlowControl().SetXonXoffOut(true);
    port.FlowControl().Assign(other.FlowControl());
    QCOMPARE(line.Applied().size(), size_t(4));
    QCOMPARE(port.FlowControl().FlowControl(), fcSoftware);

    // A refused re-apply keeps the new value and raises code 7.
    line.SetApplyError(EINVAL);
    try {
        port.SetStopBits(sbTwoStopBits);
        QFAIL("no exception");
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), 7);
        QCOMPARE(e.SystemError(), EINVAL);
    }
    QCOMPARE(port.StopBits(), sbTwoStopBits);
    QVERIFY(port.Connected());
    line.SetApplyError(0);
    port.ClosePort();

    // A refusal at open closes the device again.
    line.SetApplyError(EIO);
    bool before = false, after = false;
    port.OnBeforeOpen = [&](TCustomComPort*) { before = true; };
    port.OnAfterOpen = [&](TCustomComPort*) { after = true; };
    QVERIFY_THROWS_EXCEPTION(EComPort, port.OpenPort());
    QVERIFY(before);
    QVERIFY(!after);
    QVERIFY(!port.Connected());
    QCOMPARE(line.Closes(), line.Opens());
}

void TestLineSettings::syncMethodRefusedWhileOpen()
{
    TScriptedLine line;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    port.SetSyncMethod(smNone);
    port.SetSyncMethod(smThreadSync);
    port.OpenPort();
    port.SetSyncMethod(smThreadSync);  // the value in force: accepted silently
    try {
        port.SetSyncMethod(smWindowSync);
        QFAIL("no exception");
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), 14);
        QCOMPARE(e.SystemError(), -1);
        QCOMPARE(QString::fromLatin1(e.what()), QStringLiteral("Cannot set property while connected"));
    }
    QCOMPARE(port.SyncMethod(), smThreadSync);
    port.ClosePort();
}

void TestLineSettings::devicePaths()
{
    QCOMPARE(TCustomComPort::DevicePath("COM1"), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(TCustomComPort::DevicePath("COM12"), QStringLiteral("/dev/ttyS11"));
    QCOMPARE(TCustomComPort::DevicePath("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(TCustomComPort::DevicePath("/dev/pts/7"), QStringLiteral("/dev/pts/7"));
    QCOMPARE(TCustomComPort::DevicePath("COM0"), QStringLiteral("/dev/COM0"));
    QCOMPARE(TCustomComPort::DevicePath("COM01"), QStringLiteral("/dev/COM01"));
    QCOMPARE(TCustomComPort::DevicePath("com3"), QStringLiteral("/dev/com3"));

    TScriptedLine line;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    port.SetPort("COM3");
    port.OpenPort();
    QCOMPARE(QString::fromStdString(line.OpenedPath()), QStringLiteral("/dev/ttyS2"));
    port.SetPort("COM3");  // same name: nothing happens
    QCOMPARE(line.Opens(), 1);
    port.SetPort("ttyACM0");  // a new name while open: close and reopen
    QCOMPARE(line.Opens(), 2);
    QVERIFY(port.Connected());
    QCOMPARE(QString::fromStdString(line.OpenedPath()), QStringLiteral("/dev/ttyACM0"));
    port.ClosePort();
    port.SetPort("COM2");  // closed: stored only
    QCOMPARE(line.Opens(), 2);
}

void TestLineSettings::errorTexts()
{
    const EComPort open(1, 2);
    QCOMPARE(QString::fromLatin1(open.what()), QStringLiteral("Unable to open com port (win error code: 2)"));
    QCOMPARE(open.PortError(), 1);
    QCOMPARE(open.SystemError(), 2);
    QCOMPARE(open.Message(), QStringLiteral("Unable to open com port (win error code: 2)"));
    QCOMPARE(QString::fromLatin1(EComPort(10, 6).what()),
             QStringLiteral("ClearCommError function failed (win error code: 6)"));
    QCOMPARE(QString::fromLatin1(EComPort(18, -1).what()), QStringLiteral("Link (un)registration failed"));
    QCOMPARE(EComPort::ErrorText(19), QStringLiteral("Cannot change led state if ComPort is selected"));
    QCOMPARE(EComPort::ErrorText(23), QStringLiteral("Registry error"));
    QCOMPARE(EComPort::ErrorText(8), QStringLiteral("SetCommTimeouts failed"));
    QCOMPARE(EComPort::ErrorText(11), QStringLiteral("GetCommModemStatus function failed"));
}

void TestLineSettings::eventMask()
{
    QCOMPARE(EventsToMask(AllComEvents), 0x05FFu);
    QCOMPARE(EventsToMask(EventBit(evRing)), 0x0100u);
    QCOMPARE(EventsToMask(EventBit(evRx80Full) | EventBit(evRxFlag)), 0x0402u);
    QCOMPARE(MaskToEvents(0x05FF), AllComEvents);
    QCOMPARE(MaskToEvents(0x0020 | 0x0200 | 0x0800), TComEvents(EventBit(evRLSD)));  // unknown bits dropped
    for (int e = 0; e < 10; ++e) {
        const TComEvents one = EventBit(TComEvent(e));
        QCOMPARE(MaskToEvents(EventsToMask(one)), one);
    }
}

void TestLineSettings::termiosMapping()
{
    TComPort port;
    RtsCts(port.FlowControl());
    TTermiosSettings s;
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    QCOMPARE(s.speed, speed_t(B9600));
    QCOMPARE(cfgetospeed(&s.tio), speed_t(B9600));
    QCOMPARE(s.tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(s.tio.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
    QVERIFY(s.tio.c_cflag & CRTSCTS);
    QVERIFY(s.tio.c_cflag & CLOCAL);
    QVERIFY(s.tio.c_cflag & CREAD);
    QCOMPARE(s.tio.c_iflag & (IXON | IXOFF | INPCK | ICRNL), tcflag_t(0));
    QCOMPARE(s.tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(s.tio.c_oflag & OPOST, tcflag_t(0));
    QVERIFY(s.dtr);
    QVERIFY(s.rts);

    DtrDsr(port.FlowControl());  // RTS enable, no CTS flow
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prEven);
    port.Parity().SetCheck(true);
    port.SetStopBits(sbTwoStopBits);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    QCOMPARE(s.tio.c_cflag & CSIZE, tcflag_t(CS7));
    QCOMPARE(s.tio.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB), tcflag_t(PARENB | CSTOPB));
    QVERIFY(!(s.tio.c_cflag & CRTSCTS));
    // Checked parity without replacement keeps the byte as received.
    QVERIFY(!(s.tio.c_iflag & INPCK));
    port.Parity().SetReplace(true);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    QVERIFY(s.tio.c_iflag & INPCK);

    port.Parity().SetBits(prOdd);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    QCOMPARE(s.tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | PARODD));
    port.Parity().SetBits(prMark);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    QCOMPARE(s.tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | PARODD | CMSPAR));
    port.Parity().SetBits(prSpace);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    QCOMPARE(s.tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | CMSPAR));

    port.FlowControl().SetFlowControl(fcSoftware);
    port.FlowControl().SetXonChar('a');
    port.FlowControl().SetXoffChar('b');
    port.FlowControl().SetControlDTR(dtrDisable);
    port.SetDataBits(dbFive);
    port.SetBaudRate(br256000);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    QCOMPARE(s.tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    QCOMPARE(s.tio.c_cc[VSTART], cc_t('a'));
    QCOMPARE(s.tio.c_cc[VSTOP], cc_t('b'));
    QCOMPARE(s.tio.c_cflag & CSIZE, tcflag_t(CS5));
    QCOMPARE(s.speed, speed_t(0));  // not a standard rate: BOTHER
    QCOMPARE(s.baud, 256000u);
    QVERIFY(!s.dtr);
    QVERIFY(!s.rts);
    QCOMPARE(StandardSpeed(115200), speed_t(B115200));
    QCOMPARE(StandardSpeed(14400), speed_t(0));
}

void TestLineSettings::termiosRejectsImpossibleRecords()
{
    TComPort port;
    TTermiosSettings s;
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(0);  // B0 would hang the line up
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), EINVAL);
    port.SetCustomBaudRate(-5);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), EINVAL);
    port.SetCustomBaudRate(31250);
    QCOMPARE(DcbToTermios(port.MakeDCB(), &s), 0);
    TDCBRecord d = port.MakeDCB();
    d.ByteSize = 9;
    QCOMPARE(DcbToTermios(d, &s), EINVAL);
}

QTEST_GUILESS_MAIN(TestLineSettings)
#include "test_line_settings.moc"
