// The start-up probe: the process start time it reads and its firing on the
// main window's first expose.
#include <time.h>

#include <QApplication>
#include <QWidget>
#include <QtTest>

#include "app/startup_probe.h"

class TestStartupProbe : public QObject {
    Q_OBJECT

    static long long MonotonicNs()
    {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
    }

private slots:
    void cleanup()
    {
        qunsetenv("TW_STARTUP_PROBE");
        qunsetenv("TW_STARTUP_T0_NS");
    }

    void statStartTicks_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<qlonglong>("ticks");  // -1: refused
        const QString tail = QStringLiteral(" S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 987654 20 21");
        QTest::newRow("plain") << QStringLiteral("4242 (tarnwick-panel)") + tail << 987654LL;
        QTest::newRow("name with spaces and parentheses")
            << QStringLiteral("7 (a) b (c d)") + tail << 987654LL;
        QTest::newRow("truncated") << QStringLiteral("7 (x) S 1 2 3") << -1LL;
        QTest::newRow("no name") << QStringLiteral("7 x S") + tail << -1LL;
        QTest::newRow("start not a number")
            << QStringLiteral("7 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 9x 20") << -1LL;
    }
    void statStartTicks()
    {
        QFETCH(QString, line);
        QFETCH(qlonglong, ticks);
        const std::optional<unsigned long long> got = StatStartTicks(line.toStdString());
        if (ticks < 0) {
            QVERIFY(!got);
        } else {
            QVERIFY(got);
            QCOMPARE(qlonglong(*got), ticks);
        }
    }

    void startFromLauncherTime()
    {
        // The launcher's clock reading counts, not the kernel's tick-rounded one.
        qputenv("TW_STARTUP_T0_NS", QByteArray::number(MonotonicNs() - 5000LL * 1000000));
        const std::optional<double> ms = MsSinceProcessStart();
        QVERIFY(ms);
        QVERIFY2(*ms >= 5000 && *ms < 5000 + 60000, qPrintable(QString::number(*ms)));
    }

    void startFromKernelWithoutLauncher()
    {
        // A malformed launcher time is ignored; the kernel's start time is
        // before now, and later readings grow.
        qputenv("TW_STARTUP_T0_NS", "12ab");
        const std::optional<double> ms = MsSinceProcessStart();
        QVERIFY(ms);
        QVERIFY2(*ms >= 0, qPrintable(QString::number(*ms)));
        qunsetenv("TW_STARTUP_T0_NS");
        const std::optional<double> again = MsSinceProcessStart();
        QVERIFY(again && *again >= *ms);
    }

    void probeNeedsTheVariable()
    {
        QWidget w;
        QVERIFY(!InstallStartupProbe(&w, [](double) {}));
    }

    void probeFiresOnceAfterFirstExpose()
    {
        qputenv("TW_STARTUP_PROBE", "1");
        QWidget w;
        w.resize(200, 100);
        int fired = 0;
        double shownMs = -2;
        QVERIFY(InstallStartupProbe(&w, [&](double ms) {
            ++fired;
            shownMs = ms;
        }));
        QCOMPARE(fired, 0);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(fired, 1, 10000);
        QVERIFY(shownMs >= 0);
        // A later expose is not a start-up.
        w.hide();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(fired, 1);
    }
};

QTEST_MAIN(TestStartupProbe)
#include "test_startup_probe.moc"
