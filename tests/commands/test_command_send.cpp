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

#include "commands/command_catalogue.h"
#include "commands/command_page.h"
#include "common/port_controls.h"
#include "module/session.h"
#include "module/status_form.h"
#include "module_peer_helper.h"
#include "serial/com_port.h"
#include "support/scripted_dialogs.h"

namespace {

const QString kNoModule = QStringLiteral("Could not communicate with Tarnwick Module");

QByteArray Hex(const char* h) { return QByteArray::fromHex(h); }

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
        QCOMPARE(page->LogLines(), QStringList{QStringLiteral("Peripheral [41][42]")});
        QVERIFY(peer->Received().isEmpty());
        VerifyRestored();
    }

    void nopNeedsNoPresenceCheckAndWraps()
    {
        Choose(1, cmd::Nop);
        SetText(1, 1, QStringLiteral("14"));
        page->SendButton(1)->click();
        QTRY_COMPARE(peer->Received().size(), 20);
        QCOMPARE(peer->Received(), QByteArray(20, '\xFF'));
        QCOMPARE(page->LogLines(), (QStringList{QStringLiteral("1. ") + QStringLiteral("<FF>").repeated(16),
                                                QString(11, QLatin1Char(' ')) + QStringLiteral("<FF>").repeated(4)}));
        // A count of 00 sends nothing and logs nothing.
        page->ClearLogButtonClick();
        peer->ClearReceived();
        SetText(1, 1, QStringLiteral("00"));
        page->SendButton(1)->click();
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
        QVERIFY(dialogs->messages.empty());
        QVERIFY(page->LogLines().isEmpty());
        QVERIFY(AfterPresence().isEmpty());
        VerifyRestored();
    }

    void portErrorMidExchangeRestoresThePage()
    {
        Choose(1, cmd::Nop);
        SetText(1, 1, QStringLiteral("05"));
        peer->HangUp();
        page->SendButton(1)->click();
        QCOMPARE(dialogs->errors.size(), 1);
        QVERIFY(dialogs->messages.empty());
        VerifyRestored();
    }
};

QTEST_MAIN(TestCommandSend)
#include "test_command_send.moc"
