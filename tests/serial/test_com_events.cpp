// The event thread and the links: what is reported, in which order, on which
// thread, and how the hand-over behaves at close and on failures.
#include <QtTest>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "pty_pair.h"
#include "scripted_device_helper.h"
#include "serial/com_port.h"

namespace {

// Records every link notification and port event as one line of text.
struct TRecorder {
    QStringList log;
    TComLink link;
    QByteArray rxData, txData;

    explicit TRecorder(bool takesRx = false)
    {
        link.OnOpenChange = [this](TCustomComPort*, bool on) { log << QStringLiteral("open:%1").arg(on); };
        link.OnCTSSignal = [this](TCustomComPort*, bool on) { log << QStringLiteral("cts:%1").arg(on); };
        link.OnDSRSignal = [this](TCustomComPort*, bool on) { log << QStringLiteral("dsr:%1").arg(on); };
        link.OnRLSDSignal = [this](TCustomComPort*, bool on) { log << QStringLiteral("rlsd:%1").arg(on); };
        link.OnRingSignal = [this](TCustomComPort*) { log << QStringLiteral("ring"); };
        link.OnTxActive = [this](TCustomComPort*, bool on) { log << QStringLiteral("txactive:%1").arg(on); };
        link.OnRxActive = [this](TCustomComPort*, bool on) { log << QStringLiteral("rxactive:%1").arg(on); };
        link.OnTxEmptied = [this](TCustomComPort*) { log << QStringLiteral("txemptied"); };
        link.OnRxFlagged = [this](TCustomComPort*) { log << QStringLiteral("rxflagged"); };
        link.OnTxData = [this](TCustomComPort*, const char* b, int n) {
            txData.append(b, n);
            log << QStringLiteral("txdata:%1").arg(n);
        };
        if (takesRx)
            link.OnRxData = [this](TCustomComPort*, const char* b, int n) {
                rxData.append(b, n);
                log << QStringLiteral("rxdata:%1").arg(n);
            };
    }

    void Watch(TCustomComPort& port)
    {
        port.OnBeforeOpen = [this](TCustomComPort*) { log << QStringLiteral("BeforeOpen"); };
        port.OnAfterOpen = [this](TCustomComPort*) { log << QStringLiteral("AfterOpen"); };
        port.OnBeforeClose = [this](TCustomComPort*) { log << QStringLiteral("BeforeClose"); };
        port.OnAfterClose = [this](TCustomComPort*) { log << QStringLiteral("AfterClose"); };
        port.OnCTSChange = [this](TCustomComPort*, bool on) { log << QStringLiteral("CTSChange:%1").arg(on); };
        port.OnDSRChange = [this](TCustomComPort*, bool on) { log << QStringLiteral("DSRChange:%1").arg(on); };
        port.OnRLSDChange = [this](TCustomComPort*, bool on) { log << QStringLiteral("RLSDChange:%1").arg(on); };
        port.OnRxChar = [this](TCustomComPort*, int n) { log << QStringLiteral("RxChar:%1").arg(n); };
        port.OnRxBuf = [this](TCustomComPort*, const char*, int n) { log << QStringLiteral("RxBuf:%1").arg(n); };
        port.OnTxEmpty = [this](TCustomComPort*) { log << QStringLiteral("TxEmpty"); };
        port.OnRing = [this](TCustomComPort*) { log << QStringLiteral("Ring"); };
        port.OnBreak = [this](TCustomComPort*) { log << QStringLiteral("Break"); };
        port.OnError = [this](TCustomComPort*, TComErrors e) { log << QStringLiteral("Error:%1").arg(e); };
        port.RegisterLink(&link);
    }
    int Count(const QString& entry) const { return int(log.count(entry)); }
};

// A port on a scripted line, every report recorded.
struct TScriptedPort {
    TScriptedLine line;
    TComPort port;
    TRecorder rec;
    TScriptedPort() { port.SetDeviceFactory(line.Factory()); rec.Watch(port); }
    // Opens the port and forgets the reports of the open.
    void Open() { port.OpenPort(); rec.log.clear(); }
};

// A port on a pty, every report recorded (with takesRx, a link takes the data).
struct TPtyPort {
    TPtyPair pty;
    TComPort port;
    TRecorder rec;
    explicit TPtyPort(bool takesRx = false) : rec(takesRx) { port.SetPort(pty.Path()); rec.Watch(port); }
    void Open() { port.OpenPort(); rec.log.clear(); }
};

const QStringList kCloseReports = {"cts:0",      "dsr:0",       "rlsd:0", "CTSChange:0", "DSRChange:0",
                                   "RLSDChange:0", "BeforeClose", "open:0", "AfterClose"};

}  // namespace

class TestComEvents : public QObject {
    Q_OBJECT
private slots:
    void openAndCloseReportInOrder_data();
    void openAndCloseReportInOrder();
    void fiveBytesWithoutReceivingLink();
    void fiveBytesWithReceivingLink();
    void receivingLinkGetsEveryByteInOrder();
    void writeReportsActivityDataAndEmpty();
    void heldTransmitQueue();
    void modemLineChanges();
    void ringAndCarrierInOneBatch_data();
    void ringAndCarrierInOneBatch();
    void lineErrorsAndBreak();
    void linkRegistrationMisuse();
    void handlerExceptionEndsTheThread();
    void closeWhileAHandOverWaits();
    void closeFromInsideAHandler();
    void smNoneRunsHandlersOnTheEventThread();
    void portDestructionTellsLinks();
    void writeDuringTheDrainCheckKeepsItsTxEmpty();
    void closeDropsAWaitingBatch();
    void wakeUpFailureFailsTheOpen();
};

void TestComEvents::openAndCloseReportInOrder_data()
{
    QTest::addColumn<int>("events");
    QTest::newRow("all events") << int(AllComEvents);
    QTest::newRow("no events, no thread") << 0;
}

void TestComEvents::openAndCloseReportInOrder()
{
    QFETCH(int, events);
    TScriptedPort s;
    s.line.SetModem(ms::Cts | ms::Rlsd);
    s.port.SetEvents(TComEvents(events));
    s.port.OpenPort();
    QCOMPARE(s.port.EventThreadRunning(), events != 0);
    QCOMPARE(s.rec.log, QStringList({"BeforeOpen", "open:1", "AfterOpen", "cts:1", "CTSChange:1", "dsr:0",
                                   "DSRChange:0", "rlsd:1", "RLSDChange:1"}));
    s.rec.log.clear();
    s.port.ClosePort();
    QCOMPARE(s.rec.log, kCloseReports);
    s.port.UnregisterLink(&s.rec.link);
}

void TestComEvents::fiveBytesWithoutReceivingLink()
{
    TPtyPort s;
    s.Open();

    s.pty.Write(QByteArray("12345"));
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.Count("RxChar:5") + s.rec.Count("RxChar:4") + s.rec.Count("RxChar:3") +
                                  s.rec.Count("RxChar:2") + s.rec.Count("RxChar:1") > 0 && s.port.InQueueCount() == 5,
                              true, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(s.rec.log.contains("RxChar:5"), 5000);
    QVERIFY(s.rec.log.contains("rxactive:1"));
    QVERIFY(!s.rec.log.contains("RxBuf:5"));
    // Bytes that stay queued are reported once, not again and again.
    const int reports = int(s.rec.log.filter("RxChar").size());
    QTest::qWait(150);
    QCOMPARE(int(s.rec.log.filter("RxChar").size()), reports);
    QCOMPARE(s.port.InQueueCount(), 5);

    char buf[5];
    s.rec.log.clear();
    QCOMPARE(s.port.ReadBytes(buf, 5), 5);
    QCOMPARE(s.rec.log, QStringList({"rxactive:0"}));
    s.port.ClosePort();
    s.port.UnregisterLink(&s.rec.link);
}

void TestComEvents::fiveBytesWithReceivingLink()
{
    TPtyPort s(true);
    s.Open();

    s.pty.Write(QByteArray("abcde"));
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.rxData, QByteArray("abcde"), 5000);
    QCOMPARE(s.rec.log.filter("RxChar").size(), 0);
    QCOMPARE(s.port.InQueueCount(), 0);
    // Whatever the chunking, activity went on before the data and off after the read.
    QCOMPARE(s.rec.log.first(), QStringLiteral("rxactive:1"));
    QVERIFY(s.rec.log.contains("rxactive:0"));
    if (s.rec.log.size() == 4) QCOMPARE(s.rec.log, QStringList({"rxactive:1", "rxactive:0", "RxBuf:5", "rxdata:5"}));
    s.port.ClosePort();
    s.port.UnregisterLink(&s.rec.link);
}

void TestComEvents::receivingLinkGetsEveryByteInOrder()
{
    // Bytes that arrive while a batch is being handled must still be delivered.
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    TRecorder rec(true);
    TRecorder second(true);
    rec.Watch(port);
    port.RegisterLink(&second.link);
    port.OpenPort();
    QByteArray expected;
    for (int i = 0; i < 20; ++i) {
        const QByteArray chunk = QByteArray::number(i).rightJustified(3, '0') + ';';
        expected += chunk;
        pty.Write(chunk);
        QTest::qWait(2);
    }
    QTRY_COMPARE_WITH_TIMEOUT(rec.rxData, expected, 10000);
    QCOMPARE(second.rxData, expected);
    port.ClosePort();
}

void TestComEvents::writeReportsActivityDataAndEmpty()
{
    TPtyPort s;
    s.port.OpenPort();
    QTest::qWait(20);
    s.rec.log.clear();
    QCOMPARE(s.port.WriteText(QByteArray(1, '\x55')), 1);
    QCOMPARE(s.rec.log, QStringList({"txactive:1", "txdata:1"}));
    QCOMPARE(s.rec.txData, QByteArray(1, '\x55'));
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.log.size(), 5, 5000);
    QCOMPARE(s.rec.log.mid(2), QStringList({"txactive:0", "txemptied", "TxEmpty"}));
    QCOMPARE(s.pty.Read(1, 2000), QByteArray(1, '\x55'));
    s.port.ClosePort();
}

void TestComEvents::heldTransmitQueue()
{
    TScriptedPort s;
    s.port.FlowControl().SetFlowControl(fcHardware);
    s.port.Timeouts().SetWriteTotalMultiplier(0);
    s.port.Timeouts().SetWriteTotalConstant(100);
    s.port.OpenPort();
    // CTS low with CTS flow: transmission is held.
    QCOMPARE(s.port.CommStatusFlags(), uint8_t(cs::CtsHold));
    s.line.SetModem(ms::Cts);
    QCOMPARE(s.port.CommStatusFlags(), uint8_t(0));

    s.line.SetTxHeld(true, 4);
    s.rec.log.clear();
    // Only four bytes fit: the write gives up at its deadline and says so.
    QCOMPARE(s.port.WriteText(QByteArray("0123456789")), 4);
    QCOMPARE(s.rec.txData, QByteArray("0123456789"));  // the links get what was asked for
    QCOMPARE(s.port.OutQueueCount(), 4);
    QVERIFY(!s.port.WaitForOutputEmpty(30));
    QTest::qWait(50);
    QVERIFY(!s.rec.log.contains("TxEmpty"));

    s.line.ReleaseTx();
    QVERIFY(s.port.WaitForOutputEmpty(5000));
    QTRY_VERIFY_WITH_TIMEOUT(s.rec.log.contains("TxEmpty"), 5000);
    QCOMPARE(s.line.Sent(), QByteArray("0123"));
    s.port.ClosePort();
}

void TestComEvents::modemLineChanges()
{
    TScriptedPort s;
    s.Open();

    s.line.SetModem(ms::Cts);
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.log, QStringList({"cts:1", "CTSChange:1"}), 5000);
    s.rec.log.clear();
    s.line.SetModem(ms::Cts | ms::Dsr);
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.log, QStringList({"dsr:1", "DSRChange:1"}), 5000);
    s.rec.log.clear();
    s.line.SetModem(ms::Dsr | ms::Rlsd);
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.log, QStringList({"cts:0", "CTSChange:0", "rlsd:1", "RLSDChange:1"}), 5000);
    QCOMPARE(s.port.ModemSignals(), uint8_t(ms::Dsr | ms::Rlsd));
    s.rec.log.clear();
    s.line.Change(ms::Dsr | ms::Rlsd, 1);
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.log, QStringList({"ring", "Ring"}), 5000);
    s.port.ClosePort();
}

void TestComEvents::ringAndCarrierInOneBatch_data()
{
    QTest::addColumn<int>("sync");
    QTest::newRow("thread sync") << int(smThreadSync);
    QTest::newRow("window sync") << int(smWindowSync);
}

void TestComEvents::ringAndCarrierInOneBatch()
{
    QFETCH(int, sync);
    TScriptedPort s;
    s.port.SetSyncMethod(TSyncMethod(sync));
    s.Open();
    s.line.Change(ms::Rlsd, 1);
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.log, QStringList({"ring", "Ring", "rlsd:1", "RLSDChange:1"}), 5000);
    QTest::qWait(60);
    QCOMPARE(s.rec.log.size(), 4);
    s.port.ClosePort();
}

void TestComEvents::lineErrorsAndBreak()
{
    TScriptedPort s;
    s.Open();
    s.line.AddErrors(1, 0, 1, 0);
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.log,
                              QStringList({QStringLiteral("Error:%1").arg((1 << errFrame) | (1 << errOverrun))}), 5000);
    s.rec.log.clear();
    s.line.AddErrors(0, 0, 0, 1);
    QTRY_VERIFY_WITH_TIMEOUT(s.rec.log.contains("Break"), 5000);
    s.port.ClosePort();

    // Collected directly: parity counts only with checking on; any query clears.
    s.port.SetEvents(0);
    s.port.OpenPort();
    s.line.AddErrors(0, 1, 0, 0);
    QCOMPARE(s.port.LineErrors(), TComErrors(0));
    s.port.Parity().SetCheck(true);
    s.line.AddErrors(0, 1, 0, 0);
    QCOMPARE(s.port.LineErrors(), TComErrors(1 << errRxParity));
    QCOMPARE(s.port.LineErrors(), TComErrors(0));
    s.line.AddErrors(1, 0, 0, 0);
    s.port.InQueueCount();
    QCOMPARE(s.port.LineErrors(), TComErrors(0));
    s.port.ClosePort();
}

void TestComEvents::linkRegistrationMisuse()
{
    TComPort port;
    TComLink a, b;
    port.RegisterLink(&a);
    try {
        port.RegisterLink(&a);
        QFAIL("no exception");
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), 18);
        QCOMPARE(e.Message(), QStringLiteral("Link (un)registration failed"));
    }
    QVERIFY_THROWS_EXCEPTION(EComPort, port.UnregisterLink(&b));
    QVERIFY(port.HasLink(&a));
    QVERIFY(!port.HasLink(&b));
    port.UnregisterLink(&a);
    QVERIFY(!port.HasLink(&a));
}

void TestComEvents::handlerExceptionEndsTheThread()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort*, int) {
        ++calls;
        throw EComPort(CError_ReadFailed, 5);
    };
    port.OpenPort();
    pty.Write(QByteArray("x"));
    QTRY_VERIFY_WITH_TIMEOUT(!port.EventThreadRunning(), 5000);
    QCOMPARE(calls, 1);
    QVERIFY(port.Connected());
    pty.Write(QByteArray("y"));
    QTest::qWait(60);
    QCOMPARE(calls, 1);
    port.ClosePort();
    // A fresh open reports again.
    port.OnRxChar = [&](TCustomComPort*, int) { ++calls; };
    port.OpenPort();
    pty.Write(QByteArray("z"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 5000);
    port.ClosePort();
}

void TestComEvents::closeWhileAHandOverWaits()
{
    // The event thread blocks in a hand-over that only the closing thread can
    // run; closing must run it rather than deadlock.
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort*, int) { ++calls; };
    for (int i = 0; i < 5; ++i) {
        port.OpenPort();
        pty.Write(QByteArray("abc"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // no event processing here
        port.ClosePort();
        QVERIFY(!port.Connected());
    }
    QCoreApplication::processEvents();  // stale posts after close are harmless
    QVERIFY(calls <= 5);
}

void TestComEvents::closeFromInsideAHandler()
{
    // A lamp pumps messages inside its notification and the user presses
    // "Close Port" right then: the close runs inside the hand-over.
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    TRecorder rec;
    rec.link.OnRxActive = [&](TCustomComPort* p, bool on) {
        rec.log << QStringLiteral("rxactive:%1").arg(on);
        if (on) p->ClosePort();
    };
    rec.Watch(port);
    port.OpenPort();
    pty.Write(QByteArray("bye"));
    QTRY_VERIFY_WITH_TIMEOUT(!port.Connected(), 5000);
    QVERIFY(rec.log.contains("AfterClose"));
    // The port works normally afterwards.
    port.OnRxChar = [&](TCustomComPort*, int n) { rec.log << QStringLiteral("again:%1").arg(n); };
    rec.link.OnRxActive = nullptr;
    port.OpenPort();
    pty.Write(QByteArray("hi"));
    QTRY_VERIFY_WITH_TIMEOUT(rec.log.contains("again:2"), 5000);
    port.ClosePort();
}

void TestComEvents::smNoneRunsHandlersOnTheEventThread()
{
    TScriptedLine line;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    port.SetSyncMethod(smNone);
    std::atomic<bool> onOtherThread{false};
    std::atomic<int> count{0};
    const auto main = std::this_thread::get_id();
    port.OnRxChar = [&](TCustomComPort*, int n) {
        onOtherThread = std::this_thread::get_id() != main;
        count = n;
    };
    port.OpenPort();
    line.Receive(QByteArray("four"));
    QTRY_COMPARE_WITH_TIMEOUT(count.load(), 4, 5000);
    QVERIFY(onOtherThread.load());
    port.ClosePort();
}

void TestComEvents::portDestructionTellsLinks()
{
    TScriptedLine line;
    TComLink link;
    int told = 0;
    link.OnPortDestroyed = [&](TCustomComPort*) { ++told; };
    bool closedReported = false;
    link.OnOpenChange = [&](TCustomComPort*, bool on) { closedReported = !on; };
    {
        TComPort port;
        port.SetDeviceFactory(line.Factory());
        port.RegisterLink(&link);
        port.OpenPort();
    }
    QCOMPARE(told, 1);
    QVERIFY(closedReported);
    QCOMPARE(line.Closes(), 1);
}

void TestComEvents::writeDuringTheDrainCheckKeepsItsTxEmpty()
{
    // The event thread has found the queue empty after one write; a second
    // write lands before it reports. That report must not be taken for the
    // second write, whose bytes are still queued.
    TScriptedPort s;
    int queuedAtTxEmpty = -1;
    s.port.OnTxEmpty = [&](TCustomComPort*) {
        s.rec.log << QStringLiteral("TxEmpty");
        queuedAtTxEmpty = s.line.TxQueued();
    };
    s.port.OpenPort();

    std::mutex m;
    std::condition_variable cv;
    int stage = 0;  // 1: the thread holds in its look at the queue; 2: go on
    std::atomic<int> looks{0};
    s.line.SetOutQueueHook([&] {
        ++looks;
        std::unique_lock<std::mutex> l(m);
        if (stage != 0) return;
        stage = 1;
        cv.notify_all();
        cv.wait_for(l, std::chrono::seconds(10), [&] { return stage == 2; });
    });
    QCOMPARE(s.port.WriteText(QByteArray("a")), 1);
    {
        std::unique_lock<std::mutex> l(m);
        QVERIFY(cv.wait_for(l, std::chrono::seconds(10), [&] { return stage == 1; }));
    }
    s.line.SetTxHeld(true);
    QCOMPARE(s.port.WriteText(QByteArray("b")), 1);
    const int looksBefore = looks;
    {
        std::lock_guard<std::mutex> l(m);
        stage = 2;
    }
    cv.notify_all();
    // Either the (wrong) report comes, or the thread goes on looking.
    QTRY_VERIFY_WITH_TIMEOUT(s.rec.Count("TxEmpty") > 0 || looks > looksBefore + 3, 5000);
    QCOMPARE(s.rec.Count("TxEmpty"), 0);
    s.line.ReleaseTx();
    QTRY_COMPARE_WITH_TIMEOUT(s.rec.Count("TxEmpty"), 1, 5000);
    QCOMPARE(queuedAtTxEmpty, 0);
    QCOMPARE(s.line.Sent(), QByteArray("ab"));
    s.line.SetOutQueueHook(nullptr);
    s.port.ClosePort();
    s.port.UnregisterLink(&s.rec.link);
}

void TestComEvents::closeDropsAWaitingBatch()
{
    // DSR rises and its batch waits for the user-interface thread when the
    // user closes the port: the lamps reported off stay off.
    TScriptedPort s;
    s.Open();
    s.line.SetModem(ms::Dsr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!s.port.HandOverWaiting() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no event processing here
    QVERIFY(s.port.HandOverWaiting());
    s.port.ClosePort();
    QCOMPARE(s.rec.log, kCloseReports);
    QCoreApplication::processEvents();
    QCOMPARE(s.rec.log, kCloseReports);
    s.port.UnregisterLink(&s.rec.link);
}

void TestComEvents::wakeUpFailureFailsTheOpen()
{
    // Without its wake-up the thread could not be stopped on a line without
    // modem lines; the open must fail instead of a later close hanging.
    TScriptedPort s;
    s.line.SetHasModemLines(false);
    s.port.SetWakeFdFactory([] {
        errno = EMFILE;
        return -1;
    });
    try {
        s.port.OpenPort();
        QFAIL("the open must fail");
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), int(CError_OpenFailed));
        QCOMPARE(e.SystemError(), EMFILE);
    }
    QVERIFY(!s.port.Connected());
    QCOMPARE(s.line.Opens(), 1);
    QCOMPARE(s.line.Closes(), 1);
    QVERIFY(!s.rec.log.contains("open:1"));
    s.port.SetWakeFdFactory(nullptr);
    s.port.OpenPort();
    QVERIFY(s.port.EventThreadRunning());
    s.port.ClosePort();
    QVERIFY(!s.port.Connected());
    s.port.UnregisterLink(&s.rec.link);
}

QTEST_GUILESS_MAIN(TestComEvents)
#include "test_com_events.moc"
