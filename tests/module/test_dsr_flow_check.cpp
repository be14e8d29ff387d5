// The communication check over "DTR/DSR" flow control on a line with modem
// lines (the scripted device of the serial tests, answering as a module).
#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "module/port_setup.h"
#include "module/session.h"
#include "module/stop_flag.h"
#include "serial/com_port.h"
#include "serial/scripted_device_helper.cpp"  // the serial tests' scripted line, built in here

namespace {

// Answers Read Version once 0x0F went out, as a module would.
class TAnswerer {
public:
    explicit TAnswerer(TScriptedLine& line)
        : thread_([this, &line] {
              while (!stop_) {
                  if (line.Sent().contains('\x0F')) {
                      line.Receive(QByteArray("C1234"));
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~TAnswerer()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

class TestDsrFlowCheck : public QObject {
    Q_OBJECT
private slots:
    void checkOverDtrDsr_data()
    {
        QTest::addColumn<bool>("dsr");
        QTest::newRow("DSR low: held, nothing written") << false;
        QTest::newRow("DSR high: the bytes go") << true;
    }
    void checkOverDtrDsr()
    {
        QFETCH(bool, dsr);
        TScriptedLine line;
        line.SetModem(uint8_t(ms::Cts | (dsr ? ms::Dsr : 0)));
        TComPort port;
        port.SetDeviceFactory(line.Factory());
        ApplyFlowControlItem(port, 1);  // "DTR/DSR"
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(200);
        port.OpenPort();
        TModuleSession session(port);
        bool ok = false;
        {
            TAnswerer answerer(line);
            ok = session.Communication_Check();
        }
        QCOMPARE(ok, dsr);
        QCOMPARE(line.Sent(), dsr ? QByteArray("\xFF\x0F") : QByteArray());
        port.ClosePort();
    }

    // A stop ends a write that flow control holds, long before its time-out.
    void stopEndsAHeldWrite_data()
    {
        QTest::addColumn<bool>("dsrFlow");
        QTest::newRow("DSR low under DTR/DSR") << true;
        QTest::newRow("transmit queue held") << false;
    }
    void stopEndsAHeldWrite()
    {
        QFETCH(bool, dsrFlow);
        TScriptedLine line;
        line.SetModem(ms::Cts);
        if (!dsrFlow) line.SetTxHeld(true, 0);
        TComPort port;
        port.SetDeviceFactory(line.Factory());
        ApplyFlowControlItem(port, dsrFlow ? 1 : 3);
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(20000);
        port.OpenPort();
        TComLink link;
        std::atomic<bool> writing{false};
        link.OnTxActive = [&writing](TCustomComPort*, bool on) { writing = writing || on; };
        port.RegisterLink(&link);
        TStopFlag stop;
        TModuleSession session(port, &stop);
        std::atomic<bool> done{false};
        std::thread writer([&] {
            session.WriteByte(0x02);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(writing, 10000);  // past the session's own look at the stop
        QElapsedTimer t;
        t.start();
        stop.Request();
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        writer.join();
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(line.Sent(), QByteArray());
        port.UnregisterLink(&link);
        line.SetTxHeld(false);
        port.ClosePort();
    }
};

QTEST_MAIN(TestDsrFlowCheck)
#include "test_dsr_flow_check.moc"
