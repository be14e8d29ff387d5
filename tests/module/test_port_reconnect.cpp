// TPortReconnector without the window: an adapter known by its by-id name
// comes back under another device name and is reopened there, with the
// port's settings; a port closed by hand is not awaited; an operation
// running holds the reopen back.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "module/line_claims.h"
#include "module/port_reconnect.h"
#include "serial/com_port.h"
#include "tools/vmodule/virtual_module.h"

class TestPortReconnect : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    TPortRoots roots_;
    QString byId_;

    // udev's by-id name for the adapter, pointing at the module's pty.
    bool LinkById(const TVirtualModule& vm)
    {
        QFile::remove(byId_);
        return QFile::link(QString::fromStdString(vm.SlavePath()), byId_);
    }

private slots:
    void initTestCase()
    {
        roots_ = {tmp_.path() + QLatin1String("/sys"), tmp_.path() + QLatin1String("/dev")};
        QVERIFY(QDir().mkpath(roots_.dev + QLatin1String("/serial/by-id")));
        byId_ = roots_.dev + QLatin1String("/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    }

    void comesBackUnderAnotherNameByItsById()
    {
        auto first = std::make_unique<TVirtualModule>();
        std::string err;
        QVERIFY2(first->Start(&err), err.c_str());
        QVERIFY(LinkById(*first));
        TComPort port;
        TPortReconnector r(port);
        r.SetRoots(roots_);
        r.SetEnabled(true);
        std::vector<TPortReconnector::TState> states;
        r.OnStateChange = [&](TPortReconnector::TState s, const QString&) { states.push_back(s); };
        port.SetPort(QString::fromStdString(first->SlavePath()));
        port.SetBaudRate(br19200);
        port.OpenPort();
        QVERIFY(port.Connected());

        // Pulled: the device and its by-id name go.
        first->Stop();
        QTRY_VERIFY(r.Waiting());
        QCOMPARE(r.AwaitedName(), byId_);
        QTRY_VERIFY(!port.Connected());
        QFile::remove(byId_);

        // Plugged in again: another device, the same by-id name. Another
        // module is started first so the old pty number is not reused.
        TVirtualModule other;
        QVERIFY(other.Start(&err));
        TVirtualModule second;
        QVERIFY2(second.Start(&err), err.c_str());
        first.reset();
        QVERIFY(LinkById(second));
        QTRY_VERIFY_WITH_TIMEOUT(port.Connected(), 10000);
        QCOMPARE(port.Port(), QString::fromStdString(second.SlavePath()));
        QCOMPARE(r.State(), TPortReconnector::rsReopened);
        QTRY_COMPARE(second.LineBaud(), 19200L);
        QCOMPARE(states, (std::vector<TPortReconnector::TState>{TPortReconnector::rsWaiting,
                                                                 TPortReconnector::rsReopened}));
        // The reopened line works.
        port.WriteText(QByteArray(1, char(0x0F)));
        QVERIFY(port.WaitForInput(5, 5000));
        port.ClosePort();
    }

    void deviceClaimedByAnOperationHoldsTheReopenBack()
    {
        TVirtualModule vm;
        const QString link = tmp_.path() + QLatin1String("/claimed-line");
        vm.SetLinkPath(link.toStdString());
        std::string err;
        QVERIFY2(vm.Start(&err), err.c_str());
        TComPort port;
        TPortReconnector r(port);
        r.SetRoots(roots_);
        r.SetEnabled(true);
        port.SetPort(link);
        port.OpenPort();
        vm.Stop();
        QTRY_VERIFY(r.Waiting());
        QTRY_VERIFY(!port.Connected());
        QVERIFY2(vm.Start(&err), err.c_str());
        const QString node = QString::fromStdString(vm.SlavePath());
        for (const QString& name : {node, node.mid(5)}) {
            // Program Pair (say) is using the device that came back, under
            // its own name: its node, or its name under /dev ("pts/3").
            const TLineClaim held(name, QStringLiteral("Program Pair (Point A)"));
            QVERIFY(held.Ok() && TLineClaim::Claimed(link));
            r.TryReopen();
            QVERIFY(!port.Connected());
            QVERIFY(r.Waiting());
        }
        r.TryReopen();
        QTRY_COMPARE(r.State(), TPortReconnector::rsReopened);
        port.ClosePort();
    }

    void busyHoldsTheReopenBack()
    {
        TVirtualModule vm;
        const QString link = tmp_.path() + QLatin1String("/busy-line");
        vm.SetLinkPath(link.toStdString());
        std::string err;
        QVERIFY2(vm.Start(&err), err.c_str());
        TComPort port;
        TPortReconnector r(port);
        r.SetRoots(roots_);
        r.SetRetryMs(20);
        r.SetEnabled(true);
        bool busy = true;
        r.Busy = [&] { return busy; };
        port.SetPort(link);
        port.OpenPort();
        vm.Stop();
        QTRY_VERIFY(r.Waiting());
        // While the operation runs, the dead port stays as it is.
        QVERIFY(port.Connected());
        QVERIFY2(vm.Start(&err), err.c_str());
        QVERIFY(port.Connected());
        QVERIFY(r.Waiting());
        busy = false;  // the operation ended (and failed)
        QTRY_COMPARE(r.State(), TPortReconnector::rsReopened);
        QVERIFY(port.Connected());

        // A wait ended by hand stays ended.
        vm.Stop();
        QTRY_VERIFY(r.Waiting());
        QTRY_VERIFY(!port.Connected());
        r.Cancel();
        QVERIFY2(vm.Start(&err), err.c_str());
        r.TryReopen();
        QVERIFY(!port.Connected());
        QCOMPARE(r.State(), TPortReconnector::rsIdle);
    }
};

QTEST_MAIN(TestPortReconnect)
#include "test_port_reconnect.moc"
