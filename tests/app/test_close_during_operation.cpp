// Closing the window while an operation runs: the operation stops at its
// next wait without another byte or message box, the port is closed and the
// program's event loop ends, all within a few seconds. Each case runs the
// application's own event loop, as the program does.
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QWindow>
#include <QtTest>

#include "app/application.h"
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

}  // namespace

class TestCloseDuringOperation : public QObject {
    Q_OBJECT

private slots:
    void closeStopsAndQuits_data() { AddOperationRows(); }
    void closeStopsAndQuits()
    {
        QFETCH(QString, op);
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(6)));
        const TRigOperation o = RigOperation(r, op);
        int written = -1;
        r.During(o.when, [&] {
            written = r.Written();
            // What the window manager's close button delivers.
            QCloseEvent close;
            QCoreApplication::sendEvent(r.form->windowHandle(), &close);
        });
        r.Show(o.page);
        bool returned = false;
        QTimer::singleShot(0, o.button, [&] {
            o.button->click();
            returned = true;
        });
        bool limit = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            limit = true;
            QCoreApplication::exit(1);
        });
        watchdog.start(kQuitLimitMs);
        const int rc = QCoreApplication::exec();
        watchdog.stop();

        QVERIFY(r.Acted());
        QVERIFY2(!limit, "the program did not quit");
        QCOMPARE(rc, 0);
        QVERIFY(returned);
        QCOMPARE(r.Written(), written);
        QVERIFY(!r.form->ComPort1->Connected());
        QCOMPARE(r.Messages(), 0);
        QVERIFY(!r.form->isVisible());
        QVERIFY(!StatusForm() || !StatusForm()->isVisible());
    }
};

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestCloseDuringOperation t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_close_during_operation.moc"
