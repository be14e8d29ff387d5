// One contract for every TSerialDevice: the termios device on a pty and the
// scripted device must behave alike where both can show the behaviour.
#include <sys/eventfd.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QtTest>
#include <memory>

#include "pty_pair.h"
#include "scripted_device_helper.h"
#include "serial/termios_device.h"

namespace {

// The far end of the line, whatever the device.
class TFarEnd {
public:
    virtual ~TFarEnd() = default;
    virtual std::unique_ptr<TSerialDevice> MakeDevice() = 0;
    virtual std::string Path() = 0;
    virtual void Send(const QByteArray& bytes) = 0;
    virtual QByteArray Take(int count) = 0;
    virtual void HangUp() = 0;
};

class TPtyEnd : public TFarEnd {
public:
    std::unique_ptr<TSerialDevice> MakeDevice() override { return std::make_unique<TTermiosDevice>(); }
    std::string Path() override { return pty_.Path().toStdString(); }
    void Send(const QByteArray& bytes) override { pty_.Write(bytes); }
    QByteArray Take(int count) override { return pty_.Read(count, 3000); }
    void HangUp() override { pty_.CloseMaster(); }

private:
    TPtyPair pty_;
};

class TScriptedEnd : public TFarEnd {
public:
    std::unique_ptr<TSerialDevice> MakeDevice() override { return line_.Factory()(); }
    std::string Path() override { return "/dev/scripted"; }
    void Send(const QByteArray& bytes) override { line_.Receive(bytes); }
    QByteArray Take(int count) override { return line_.Sent().left(count); }
    void HangUp() override { line_.HangUp(); }

private:
    TScriptedLine line_;
};

std::unique_ptr<TFarEnd> MakeEnd(const QString& kind)
{
    if (kind == QLatin1String("pty")) return std::make_unique<TPtyEnd>();
    return std::make_unique<TScriptedEnd>();
}

int32_t QueuedAfter(TSerialDevice& dev, int32_t want)
{
    int32_t n = 0;
    QDeadlineTimer deadline(5000);
    TDeviceWaitResult r;
    while (!deadline.hasExpired()) {
        dev.InQueue(&n);
        if (n >= want) break;
        dev.Wait(true, false, 20, -1, &r);
        if (n > 0) usleep(2000);
    }
    return n;
}

}  // namespace

class TestDeviceContract : public QObject {
    Q_OBJECT
private slots:
    void transfersAndQueues_data() { kinds(); }
    void transfersAndQueues();
    void waitTimesOutAndWakes_data() { kinds(); }
    void waitTimesOutAndWakes();
    void hangUpFailsEveryCall_data() { kinds(); }
    void hangUpFailsEveryCall();

private:
    void kinds()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("termios on pty") << QStringLiteral("pty");
        QTest::newRow("scripted") << QStringLiteral("scripted");
    }
};

void TestDeviceContract::transfersAndQueues()
{
    QFETCH(QString, kind);
    auto end = MakeEnd(kind);
    auto dev = end->MakeDevice();
    QCOMPARE(dev->Open(end->Path()), 0);
    QVERIFY(dev->IsOpen());
    TComPort settings;
    QCOMPARE(dev->ApplyLineSettings(settings.MakeDCB()), 0);
    QCOMPARE(dev->SetQueueSizes(1024, 1024), 0);

    int32_t written = -1;
    QCOMPARE(dev->Write("ping", 4, 1000, &written), 0);
    QCOMPARE(written, 4);
    QCOMPARE(end->Take(4), QByteArray("ping"));

    char buf[16];
    int32_t got = -1;
    QCOMPARE(dev->Read(buf, sizeof buf, &got), 0);  // nothing queued: no wait, no error
    QCOMPARE(got, 0);
    end->Send(QByteArray("pong!"));
    QCOMPARE(QueuedAfter(*dev, 5), 5);
    QCOMPARE(dev->Read(buf, 2, &got), 0);
    QCOMPARE(QByteArray(buf, got), QByteArray("po"));
    int32_t n = -1;
    QCOMPARE(dev->InQueue(&n), 0);
    QCOMPARE(n, 3);
    QCOMPARE(dev->Purge(true, false), 0);
    QCOMPARE(dev->InQueue(&n), 0);
    QCOMPARE(n, 0);
    QCOMPARE(dev->OutQueue(&n), 0);
    QCOMPARE(n, 0);
    QCOMPARE(dev->Purge(false, false), 0);
    dev->Close();
    QVERIFY(!dev->IsOpen());
}

void TestDeviceContract::waitTimesOutAndWakes()
{
    QFETCH(QString, kind);
    auto end = MakeEnd(kind);
    auto dev = end->MakeDevice();
    QCOMPARE(dev->Open(end->Path()), 0);
    TDeviceWaitResult r;
    QCOMPARE(dev->Wait(true, false, 20, -1, &r), 0);
    QVERIFY(!r.readable && !r.hangup && !r.woken);

    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const uint64_t one = 1;
    QCOMPARE(write(wake, &one, sizeof one), ssize_t(sizeof one));
    QCOMPARE(dev->Wait(true, false, 5000, wake, &r), 0);
    QVERIFY(r.woken);
    close(wake);

    end->Send(QByteArray("x"));
    QDeadlineTimer deadline(5000);
    do {
        QCOMPARE(dev->Wait(true, false, 1000, -1, &r), 0);
    } while (!r.readable && !deadline.hasExpired());
    QVERIFY(r.readable);
    dev->Close();
}

void TestDeviceContract::hangUpFailsEveryCall()
{
    QFETCH(QString, kind);
    auto end = MakeEnd(kind);
    auto dev = end->MakeDevice();
    QCOMPARE(dev->Open(end->Path()), 0);
    end->HangUp();
    TDeviceWaitResult r;
    QCOMPARE(dev->Wait(true, false, 5000, -1, &r), 0);
    QVERIFY(r.hangup);
    char c;
    int32_t n = 0;
    QCOMPARE(dev->Read(&c, 1, &n), EIO);
    QCOMPARE(dev->Write("z", 1, 100, &n), EIO);
    QCOMPARE(dev->InQueue(&n), EIO);
    uint8_t lines = 0;
    bool present = false;
    QCOMPARE(dev->ModemStatus(&lines, &present), EIO);
    QCOMPARE(dev->Purge(false, false), 0);  // closing a dead line must still work
    dev->Close();
}

QTEST_GUILESS_MAIN(TestDeviceContract)
#include "test_device_contract.moc"
