// Exchange primitives against the virtual module on a pseudo-terminal.
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>
#include <thread>

#include "module/operation_state.h"
#include "module/ui/communication_error.h"
#include "module/operation_observer.h"
#include "module/session.h"
#include "module/stop_flag.h"
#include "scripted_dialogs.h"
#include "serial/com_port.h"
#include "tools/vmodule/virtual_module.h"

class TestSession : public QObject {
    Q_OBJECT

    TVirtualModule* vm_ = nullptr;
    TComPort* port_ = nullptr;
    TModuleSession* session_ = nullptr;

    void openPort()
    {
        port_->SetPort(QString::fromStdString(vm_->PortPath()));
        port_->SetBaudRate(br57600);
        port_->OpenPort();
        QVERIFY(port_->Connected());
    }

private slots:
    void init()
    {
        vm_ = new TVirtualModule;
        std::string err;
        QVERIFY2(vm_->Start(&err), err.c_str());
        port_ = new TComPort;
        session_ = new TModuleSession(*port_);
        openPort();
    }
    void cleanup()
    {
        delete session_;
        delete port_;
        delete vm_;
    }

    void stoppedRunWaitsAndWritesNoMore()
    {
        TStopFlag stop;
        session_->SetStop(&stop);
        stop.Request();
        QElapsedTimer t;
        t.start();
        session_->WriteByte(0x02);
        QCOMPARE(session_->WaitforChar(5000), uint8_t(0x00));
        QVERIFY(!session_->Communication_Check());
        TBlockingObserver(&stop).Pause(5000);
        const qint64 ms = t.elapsed();
        QVERIFY2(ms < 2500, qPrintable(QString::number(ms)));
        QTest::qWait(50);
        QCOMPARE(vm_->ReceivedCount(), 0L);
        // The stop is the run's own: the next run starts clear.
        stop.Reset();
        QVERIFY(session_->Communication_Check());
    }

    void stopWakesAWaitOnAnotherThread()
    {
        TStopFlag stop;
        session_->SetStop(&stop);
        QElapsedTimer t;
        t.start();
        qint64 waited = -1, slept = -1;
        std::thread worker([&] {
            session_->WaitforChar(5000);
            waited = t.elapsed();
            stop.Sleep(5000);
            slept = t.elapsed();
        });
        QTest::qWait(50);
        stop.Request();
        worker.join();
        QVERIFY2(waited >= 0 && waited < 2500, qPrintable(QString::number(waited)));
        QVERIFY2(slept >= 0 && slept < 2500, qPrintable(QString::number(slept)));
    }

    void checkPassesAgainstAnsweringModule()
    {
        QVERIFY(session_->Communication_Check());
        QVERIFY(port_->Connected());
        const auto rx = vm_->Received();
        QVERIFY(rx.size() >= 2);
        QCOMPARE(rx.front(), uint8_t(0xFF));  // NOP first
        QCOMPARE(rx.back(), uint8_t(0x0F));   // then Read Version
    }

    void checkFailsOnWrongReplies_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("delay");
        QTest::addColumn<bool>("silent");
        QTest::newRow("six bytes") << 6 << 0x43 << 0 << false;
        QTest::newRow("later than 300 ms") << 5 << 0x43 << 450 << false;
        QTest::newRow("first byte not C") << 5 << 0x44 << 0 << false;
        QTest::newRow("silent module") << 5 << 0x43 << 0 << true;
    }
    void checkFailsOnWrongReplies()
    {
        QFETCH(int, length);
        QFETCH(int, first);
        QFETCH(int, delay);
        QFETCH(bool, silent);
        TVirtualModuleFaults f;
        f.versionReplyLength = length;
        f.versionFirstByte = uint8_t(first);
        f.replyDelayMs = delay;
        f.silent = silent;
        vm_->SetFaults(f);
        QVERIFY(!session_->Communication_Check());
        QVERIFY(port_->Connected());  // the check reopens the port whatever the answer
    }

    void checkOnClosedPortWritesNothing()
    {
        port_->ClosePort();
        vm_->ClearReceived();
        QVERIFY(!session_->Communication_Check());
        QCOMPARE(vm_->ReceivedCount(), 0L);
    }

    void waitforCharTimesOutWithZero()
    {
        QElapsedTimer t;
        t.start();
        QCOMPARE(session_->WaitforChar(660), uint8_t(0x00));
        QVERIFY2(t.elapsed() >= 655, qPrintable(QString::number(t.elapsed())));
    }

    void waitforCharReturnsTheByteAtOnce()
    {
        session_->WriteByte(0x01);  // Disconect, answered 0x6B
        QElapsedTimer t;
        t.start();
        QCOMPARE(session_->WaitforChar(5000), uint8_t(0x6B));
        QVERIFY2(t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
    }

    void handshake()
    {
        QVERIFY(session_->ReconnectHandshake());
        const auto rx = vm_->Received();
        QCOMPARE(rx.size(), size_t(4));
        QCOMPARE(rx[0], uint8_t(0x01));
        QCOMPARE(rx[1], uint8_t(0x00));
        QCOMPARE(rx[3], uint8_t(0x00));
        TVirtualModuleFaults f;
        f.silent = true;
        vm_->SetFaults(f);
        QVERIFY(!session_->ReconnectHandshake());
    }

    void deadlineAndPause()
    {
        session_->SetDeadline(80);
        QVERIFY(!session_->DeadlineReached());
        QVERIFY(session_->RemainingMs() > 0);
        QVERIFY(QTest::qWaitFor([&] { return session_->DeadlineReached(); }, 5000));
        QCOMPARE(session_->RemainingMs(), 0);
        session_->SetDeadline(-5);
        QVERIFY(session_->DeadlineReached());

        TStopFlag stop;
        QElapsedTimer t;
        t.start();
        QVERIFY(stop.Sleep(120));
        QVERIFY(t.elapsed() >= 118);
        t.restart();
        QVERIFY(stop.Sleep(0));
        QVERIFY(stop.Sleep(-10));
        QVERIFY(t.elapsed() < 100);
    }

    void hexSubstringValue()
    {
        QCOMPARE(HexSubstringValue(QStringLiteral("A"), 1, 2), uint16_t(0xFFFF));
        QCOMPARE(HexSubstringValue(QStringLiteral("FF"), 1, 2), uint16_t(0x00FF));
        QCOMPARE(HexSubstringValue(QStringLiteral("G1"), 1, 2), uint16_t(0xFFFF));
        QCOMPARE(HexSubstringValue(QStringLiteral("FFFE"), 3, 2), uint16_t(0x00FE));
        QCOMPARE(HexSubstringValue(QStringLiteral("ab12"), 1, 4), uint16_t(0xAB12));
        QCOMPARE(HexSubstringValue(QStringLiteral(""), 1, 2), uint16_t(0xFFFF));
        QCOMPARE(HexSubstringValue(QStringLiteral(" 1"), 1, 2), uint16_t(0xFFFF));
        QCOMPARE(HexSubstringValue(QStringLiteral("12"), 0, 2), uint16_t(0xFFFF));
    }

    void communicationErrorBox()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        ShowCommunicationError(nullptr);
        QCOMPARE(d.messages.size(), size_t(1));
        QCOMPARE(d.messages[0].text, QStringLiteral("Could not communicate with Tarnwick Module"));
        QCOMPARE(d.messages[0].caption, QStringLiteral("Communication Error"));
        QCOMPARE(d.messages[0].style, 0x30);
    }
};

QTEST_MAIN(TestSession)
#include "test_session.moc"
