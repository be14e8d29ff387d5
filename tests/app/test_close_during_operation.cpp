// Closing the window while an operation runs: the operation stops at its
// next wait without another byte or message box, the port is closed and the
// program's event loop ends, all within a few seconds. Each case runs the
// application's own event loop, as the program does. A signal (SIGTERM, a
// logout's SIGHUP, Ctrl-C) ends it the same way, with its row in the record
// and 128 + the signal as the exit status.
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <csignal>
#include <future>
#include <sys/types.h>
#include <unistd.h>

#include "app/application.h"
#include "common/signal_notifier.h"
#include "module/operation_runner.h"
#include "module/ui/status_form.h"
#include "window_rig.h"

namespace {

// Far beyond the stop, well below a full operation's run and the test's limit.
constexpr int kQuitLimitMs = 8000;

std::array<uint8_t, 256> Pattern(int salt)
{
    std::array<uint8_t, 256> m;
    for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i * 13 + salt);
    return m;
}

struct TQuitRun {
    int rc = -1;
    int written = -1;  // what the port had written when action ran
    bool limit = false;
    bool returned = false;
};

// Clicks op's button, runs action in the operation's pause and runs the
// application's event loop until it ends (or kQuitLimitMs passed).
TQuitRun RunUntilQuit(TWindowRig& r, const QString& op, std::function<void()> action)
{
    TQuitRun q;
    const TRigOperation o = RigOperation(r, op);
    r.During(o.when, [&] {
        q.written = r.Written();
        action();
    });
    r.Show(o.page);
    QTimer::singleShot(0, o.button, [&] {
        o.button->click();
        q.returned = true;
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        q.limit = true;
        QCoreApplication::exit(1);
    });
    watchdog.start(kQuitLimitMs);
    q.rc = QCoreApplication::exec();
    watchdog.stop();
    return q;
}

// The operation stopped at once, without another byte or a box, and the
// program ended with the port closed and no window left.
void CheckQuietEnd(TWindowRig& r, const TQuitRun& q)
{
    QVERIFY(r.Acted());
    QVERIFY2(!q.limit, "the program did not quit");
    QVERIFY(q.returned);
    QCOMPARE(r.Written(), q.written);
    QVERIFY(!r.form->ComPort1->Connected());
    QCOMPARE(r.Messages(), 0);
    QVERIFY(!r.form->isVisible());
    QVERIFY(!StatusForm() || !StatusForm()->isVisible());
}

// The signal mask the process at pid catches, from /proc.
quint64 CaughtSignals(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("SigCgt:")) return line.mid(7).trimmed().toULongLong(nullptr, 16);
    return 0;
}

}  // namespace

class TestCloseDuringOperation : public QObject {
    Q_OBJECT

private slots:
    // The signal's end keeps the loop past the last window; the next case
    // starts as the program does.
    void cleanup() { QGuiApplication::setQuitOnLastWindowClosed(true); }

    void closeStopsAndQuits_data() { AddOperationRows(); }
    void closeStopsAndQuits()
    {
        QFETCH(QString, op);
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(6)));
        const TQuitRun q = RunUntilQuit(r, op, [&] {
            // What the window manager's close button delivers.
            QCloseEvent close;
            QCoreApplication::sendEvent(r.form->windowHandle(), &close);
        });

        CheckQuietEnd(r, q);
        if (QTest::currentTestFailed()) return;
        QCOMPARE(q.rc, 0);
    }

    // The program's own notifier, wired as the program wires it, and the
    // signal sent to this process while the programming waits.
    void signalStopsRecordsAndQuits_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("operation");
        QTest::newRow("programConfig") << QStringLiteral("programConfig") << QStringLiteral("program-config");
        QTest::newRow("programFlash") << QStringLiteral("programFlash") << QStringLiteral("program-flash");
    }
    void signalStopsRecordsAndQuits()
    {
        QFETCH(QString, op);
        QFETCH(QString, operation);
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(7)));
        TSignalNotifier endSignals({SIGTERM, SIGHUP, SIGINT});
        QObject::connect(&endSignals, &TSignalNotifier::Received, r.form.get(), &TTarnwickForm::EndBySignal);
        const QDateTime since = QDateTime::currentDateTimeUtc();
        const TQuitRun q = RunUntilQuit(r, op, [] { ::kill(::getpid(), SIGTERM); });

        CheckQuietEnd(r, q);
        if (QTest::currentTestFailed()) return;
        QVERIFY(!r.form->RunLeftBehind());
        QCOMPARE(r.form->ExitStatus(q.rc), 128 + SIGTERM);

        // Its row says it was stopped, not done.
        QString error;
        const QStringList seen = r.RecordedOperations(since, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(seen, QStringList{operation + QStringLiteral(":stopped")});
    }

    // A run that does not stop (a wait that cannot be woken) holds the end
    // only until the deadline; the program then ends without it.
    void signalLeavesAStuckRunAtItsDeadline()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope{&dialogs};
        TTarnwickForm form;
        form.show();
        TSignalNotifier endSignals({SIGTERM, SIGHUP, SIGINT});
        QObject::connect(&endSignals, &TSignalNotifier::Received, &form, &TTarnwickForm::EndBySignal);
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        QVERIFY(TOperationRunner::Panel().Start(QStringLiteral("Stuck"), [released](TStopFlag&) { released.wait(); }, [] {}));
        QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        bool limit = false;
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            limit = true;
            QCoreApplication::exit(1);
        });
        watchdog.start(TTarnwickForm::kSignalStopMs + kQuitLimitMs);
        const int rc = QCoreApplication::exec();
        watchdog.stop();
        const bool leftBehind = form.RunLeftBehind();
        release.set_value();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        TOperationState::Reset();
        QVERIFY2(!limit, "the program did not quit");
        QVERIFY(leftBehind);
        QCOMPARE(form.ExitStatus(rc), 128 + SIGTERM);
        QCOMPARE(int(dialogs.messages.size() + dialogs.errors.size()), 0);
    }

    // The real program: each signal ends it with 128 + its number, its
    // settings saved as on a normal close.
    void programEndsOnSignal_data()
    {
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void programEndsOnSignal()
    {
        QFETCH(int, signo);
        const QString panel = qEnvironmentVariable("TW_PANEL");
        if (panel.isEmpty()) QSKIP("TW_PANEL not set");
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(panel, {QStringLiteral("--simulate")});
        QVERIFY(p.waitForStarted());
        // Sent once the program catches it (its event loop is about to run).
        QTRY_VERIFY_WITH_TIMEOUT(CaughtSignals(p.processId()) & (quint64(1) << (signo - 1)), 30000);
        QCOMPARE(::kill(pid_t(p.processId()), signo), 0);
        QVERIFY2(p.waitForFinished(15000), "the program did not end");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 128 + signo);
        QVERIFY(QFileInfo::exists(home.filePath(QStringLiteral("config/tarnwick/tarnwick-panel.conf"))));
    }
};

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestCloseDuringOperation t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_close_during_operation.moc"
