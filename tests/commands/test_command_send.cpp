// Sending rows and the log, against a scripted module on a pseudo-terminal.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "module/operation_runner.h"
#include "commands/command_catalogue.h"
#include "commands/ui/command_page.h"
#include "common/ui/port_controls.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "module_peer_helper.h"
#include "serial/com_port.h"
#include "serial/termios_device.h"
#include "support/scripted_dialogs.h"

#include <atomic>
#include <memory>
#include <thread>

namespace {

const QString kNoModule = QStringLiteral("Could not communicate with Tarnwick Module");

QByteArray Hex(const char* h) { return QByteArray::fromHex(h); }

// The real tty, except that a read asking for exactly cutCount bytes gets
// one byte less, as a driver may hand over less than it counted.
class TShortReadDevice : public TSerialDevice {
public:
    explicit TShortReadDevice(int32_t cutCount) : cut_(cutCount) {}
    int Open(const std::string& path) override { return tty_.Open(path); }
    void Close() override { tty_.Close(); }
    bool IsOpen() const override { return tty_.IsOpen(); }
    int ApplyLineSettings(const TDCBRecord& dcb) override { return tty_.ApplyLineSettings(dcb); }
    int SetQueueSizes(int32_t in, int32_t out) override { return tty_.SetQueueSizes(in, out); }
    int Write(const char* d, int32_t n, int32_t ms, int32_t* written) override { return tty_.Write(d, n, ms, written); }
    int Read(char* d, int32_t n, int32_t* got) override { return tty_.Read(d, n == cut_ ? n - 1 : n, got); }
    int InQueue(int32_t* n) override { return tty_.InQueue(n); }
    int OutQueue(int32_t* n) override { return tty_.OutQueue(n); }
    int Purge(bool in, bool out) override { return tty_.Purge(in, out); }
    int ModemStatus(uint8_t* l, bool* p) override { return tty_.ModemStatus(l, p); }
    int Counters(TSerialCounters* c, bool* p) override { return tty_.Counters(c, p); }
    int Wait(bool r, bool w, int ms, int fd, TDeviceWaitResult* res) override { return tty_.Wait(r, w, ms, fd, res); }

private:
    TTermiosDevice tty_;
    int32_t cut_;
};

// Counts the "[hh]" items of the log.
int ReceivedItems(const QStringList& log) { return int(log.join(QString()).count(QLatin1Char('['))); }

}  // namespace

class TestCommandSend : public QObject {
    Q_OBJECT

    TModulePeer* peer = nullptr;
    TComPort* port = nullptr;
    TModuleSession* session = nullptr;
    TPortControls* controls = nullptr;
    TCommandPage* page = nullptr;
    TScriptedDialogs* dialogs = nullptr;

    void Choose(int row, int command) { page->CommandCombo(row)->setCurrentIndex(command); }
    void SetText(int row, int position, const QString& t)
    {
        qobject_cast<QLineEdit*>(page->ParamControl(row, position))->setText(t);
    }

    // The bytes the module got after the presence check of a run.
    QByteArray AfterPresence() const
    {
        const QByteArray rx = peer->Received();
        const int i = rx.lastIndexOf('\x0F');
        return i < 0 ? rx : rx.mid(i + 1);
    }

    void VerifyRestored()
    {
        QVERIFY(page->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(StatusForm() && !StatusForm()->isVisible());
    }

private slots:
    void initTestCase() { InitStatus(); }

    void init()
    {
        dialogs = new TScriptedDialogs;
        SetDialogs(dialogs);
        peer = new TModulePeer;
        QVERIFY(peer->Ok());
        port = new TComPort;
        port->SetPort(peer->SlavePath());
        port->SetBaudRate(br57600);
        port->OpenPort();
        QVERIFY(port->Connected());
        session = new TModuleSession(*port);
        controls = new TPortControls;
        page = new TCommandPage(*session, *controls);
        page->CreateCommandRows();
        controls->EnableOperations(true);
        page->show();
        SetAbortRequested(false);
    }
    void cleanup()
    {
        delete page;
        delete controls;
        delete session;
        delete port;
        delete peer;
        SetDialogs(nullptr);
        delete dialogs;
    }

    void singleSendLogsFrameAndReply()
    {
        peer->AnswerPresence();
        peer->Answer(Hex("20500C"), Hex("6B"));
        Choose(3, cmd::SetRFChannel);
        qobject_cast<QComboBox*>(page->ParamControl(3, 1))->setCurrentIndex(3);
        page->SendButton(3)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(page->LogLines(), QStringList{QStringLiteral("3. <20><50><0C>[6B]")});
        QCOMPARE(AfterPresence(), Hex("20500C"));
        QVERIFY(peer->Received().startsWith(Hex("FF")) || peer->Received().startsWith(Hex("0F")));
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(StatusForm()->windowTitle(), QStringLiteral("Send Command"));
        QCOMPARE(BarPosition(), 256);
        VerifyRestored();
    }

    void waitingInputIsLoggedAsPeripheral()
    {
        peer->Send("AB");
        QTRY_COMPARE(port->InQueueCount(), 2);
        // A row without a command only drains.
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(page->LogLines(), QStringList{QStringLiteral("Peripheral [41][42]")});
        QVERIFY(peer->Received().isEmpty());
        VerifyRestored();
    }

    void nopNeedsNoPresenceCheckAndWraps()
    {
        Choose(1, cmd::Nop);
        SetText(1, 1, QStringLiteral("14"));
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QTRY_COMPARE(peer->Received().size(), 20);
        QCOMPARE(peer->Received(), QByteArray(20, '\xFF'));
        QCOMPARE(page->LogLines(), (QStringList{QStringLiteral("1. ") + QStringLiteral("<FF>").repeated(16),
                                                QString(11, QLatin1Char(' ')) + QStringLiteral("<FF>").repeated(4)}));
        // A count of 00 sends nothing and logs nothing.
        page->ClearLogButtonClick();
        peer->ClearReceived();
        SetText(1, 1, QStringLiteral("00"));
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(page->LogLines().isEmpty());
        VerifyRestored();
    }

    void sendAllSendsFilledRowsInOrder()
    {
        peer->AnswerPresence();
        // One byte more than awaited: it shows on the next row's drain.
        peer->Answer(Hex("2161"), Hex("010203EE"));
        peer->Answer(Hex("206010"), Hex("6B"));
        Choose(2, cmd::ReadAD);
        Choose(5, cmd::SetRFDataRate);
        page->SendAllClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(page->LogLines(), (QStringList{QStringLiteral("2. <21><61>[01][02][03]"),
                                                QStringLiteral("Peripheral [EE]"),
                                                QStringLiteral("5. <20><60><10>[6B]")}));
        QCOMPARE(AfterPresence(), Hex("2161206010"));
        // One presence check for the whole run.
        QCOMPARE(peer->Received().count('\x0F'), 1);
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(page->SendAllButton->property("Tag").toInt(), 0);
        VerifyRestored();
    }

    void repeatingReadStatusStopsOn6B()
    {
        peer->AnswerPresence();
        peer->AnswerInTurn(Hex("02"), {Hex("00"), Hex("62"), Hex("6B")});
        Choose(1, cmd::ReadStatus);
        qobject_cast<QCheckBox*>(page->ParamControl(1, 1))->setChecked(true);
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(page->LogLines(), (QStringList{QStringLiteral("1. <02>[00]"), QStringLiteral("1. <02>[62]"),
                                                QStringLiteral("1. <02>[6B]")}));
        // Each pass of a single send runs its own presence check.
        QCOMPARE(peer->Received().count('\x0F'), 3);
        VerifyRestored();
    }

    void repeatingStatusInSendAllStopsOnAbort()
    {
        peer->AnswerPresence();  // "Read /Status" is never answered
        peer->Answer(Hex("2161"), Hex("010203"));
        Choose(1, cmd::ReadNotStatus);
        qobject_cast<QCheckBox*>(page->ParamControl(1, 1))->setChecked(true);
        Choose(2, cmd::ReadAD);
        bool clicked = false;
        QTimer::singleShot(500, this, [&] {
            clicked = true;
            StatusForm()->AbortButton->click();
        });
        page->SendAllClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(clicked);
        const QStringList log = page->LogLines();
        QVERIFY(!log.isEmpty());
        QCOMPARE(log.first(), QStringLiteral("1. <03>"));
        // Abort ends the repetition of that row only; the next row still runs.
        QCOMPARE(log.last(), QStringLiteral("2. <21><61>[01][02][03]"));
        QVERIFY(log.count(QStringLiteral("1. <03>")) <= 2);
        VerifyRestored();
    }

    void repeatingStatusInSingleSendStopsOnAbort()
    {
        peer->AnswerPresence();
        Choose(4, cmd::ReadNotStatus);
        qobject_cast<QCheckBox*>(page->ParamControl(4, 1))->setChecked(true);
        QTimer::singleShot(500, this, [] { StatusForm()->AbortButton->click(); });
        page->SendButton(4)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(AbortRequested());
        QVERIFY(page->LogLines().count(QStringLiteral("4. <03>")) >= 1);
        QVERIFY(dialogs->messages.empty());
        VerifyRestored();
    }

    void failedPresenceCheck()
    {
        // No answer to Read Version.
        Choose(1, cmd::ReadVersion);
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(dialogs->messages.size(), size_t(1));
        QCOMPARE(dialogs->messages[0].text, kNoModule);
        QCOMPARE(dialogs->messages[0].caption, QStringLiteral("Communication Error"));
        QCOMPARE(dialogs->messages[0].style, 0x30);
        QVERIFY(page->LogLines().isEmpty());
        QVERIFY(!peer->Received().contains('\x0F') || AfterPresence().isEmpty());
        VerifyRestored();

        // In "Send All": nothing logged, nothing shown.
        dialogs->messages.clear();
        peer->ClearReceived();
        page->SendAllClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(dialogs->messages.empty());
        QVERIFY(page->LogLines().isEmpty());
        QVERIFY(AfterPresence().isEmpty());
        VerifyRestored();
    }

    void shortReadCountsTowardsTheReply()
    {
        port->SetConnected(false);
        port->SetDeviceFactory([] { return std::make_unique<TShortReadDevice>(3); });
        port->OpenPort();
        QVERIFY(port->Connected());
        peer->AnswerPresence();
        // The three reply bytes and two more arrive together; the first read
        // of the reply brings two of its three bytes.
        peer->Answer(Hex("2161"), Hex("010203EEFF"));
        Choose(2, cmd::ReadAD);
        page->SendButton(2)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        // Only the missing byte belongs to the reply; the others wait.
        QCOMPARE(page->LogLines(), QStringList{QStringLiteral("2. <21><61>[01][02][03]")});
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(page->LogLines().last(), QStringLiteral("Peripheral [EE][FF]"));
        VerifyRestored();
    }

    void drainOfAStreamingDeviceIsBounded()
    {
        // The far end keeps sending; a drain may not follow it for good.
        std::atomic<bool> stop{false};
        std::atomic<int> sent{0};
        std::thread stream([&] {
            const QByteArray chunk(256, 'S');
            while (!stop && sent < 256 * 1024) {
                peer->Send(chunk);
                sent += int(chunk.size());
            }
        });
        QTRY_VERIFY(port->InQueueCount() > 0);
        page->SendButton(1)->click();  // a row without a command only drains
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        stop = true;
        stream.join();
        const int drained = ReceivedItems(page->LogLines());
        QVERIFY(drained > 0);
        QVERIFY2(drained <= kDrainInputMaxBytes, qPrintable(QString::number(drained)));
        QVERIFY(sent > drained);
        VerifyRestored();
    }

    void portErrorMidExchangeRestoresThePage()
    {
        Choose(1, cmd::Nop);
        SetText(1, 1, QStringLiteral("05"));
        peer->HangUp();
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(dialogs->errors.size(), 1);
        QVERIFY(dialogs->messages.empty());
        VerifyRestored();
    }
};

QTEST_MAIN(TestCommandSend)
#include "test_command_send.moc"
