// The widget-free operations run with an observer of their own, as a
// program without a window runs them: progress, failure, abort and pauses.
#include <QtTest>
#include <algorithm>

#include "module/memory_operations.h"
#include "module/operation_report.h"
#include "module/program_runs.h"
#include "support/module_line.h"

namespace {

// Records what the operation reports; pauses block the thread.
class TRecordingObserver : public TBlockingObserver {
public:
    std::vector<int> percents;
    std::vector<TOperationError> failures;
    std::vector<int32_t> pauses;
    bool abort = false;
    int abortQuestions = 0;

    void Progress(int percent, TOperationPhase) override { percents.push_back(percent); }
    void Failed(TOperationError e) override { failures.push_back(e); }
    bool AbortRequested() override
    {
        ++abortQuestions;
        return abort;
    }
    void Pause(int32_t ms) override
    {
        pauses.push_back(ms);
        TBlockingObserver::Pause(ms);
    }
};

// Asks the run's stop in its pause number `at` (1 the first).
class TStopInPause : public TRecordingObserver {
public:
    TStopInPause(TStopFlag& stop, size_t at) : stop_(stop), at_(at) {}
    void Pause(int32_t ms) override
    {
        if (pauses.size() + 1 == at_) stop_.Request();
        TRecordingObserver::Pause(ms);
    }

private:
    TStopFlag& stop_;
    size_t at_;
};

}  // namespace

class TestMemoryOperations : public QObject, TModuleLine {
    Q_OBJECT

private slots:
    void init()
    {
        std::string err;
        QVERIFY2(StartLine(true, &err), err.c_str());
    }
    void cleanup() { StopLine(); }

    void readReportsProgressAndBlocks()
    {
        std::array<uint8_t, 256> m;
        for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i ^ 0x5A);
        vm->SetMemory(m);
        TRecordingObserver o;
        std::vector<int> order;
        const TMemoryRead r =
            ReadMemoryBlocks(*session, o, kConfigFirstBlock, [&](int k, const uint8_t*) { order.push_back(k); });
        QVERIFY(r.Ok());
        QVERIFY(std::equal(r.bytes.begin(), r.bytes.end(), m.begin() + 128));
        QCOMPARE(order, (std::vector<int>{3, 2, 1, 0}));
        QCOMPARE(o.percents, (std::vector<int>{10, 20, 30, 60, 80, 100, 120}));
        QCOMPARE(o.pauses, std::vector<int32_t>{300});  // the check's, through the observer
        QVERIFY(o.failures.empty());
    }

    void silentModuleIsReportedOnce()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        TRecordingObserver o;
        QCOMPARE(ReadMemoryBlocks(*session, o, kFlashFirstBlock).error, TOperationError::NoModule);
        QCOMPARE(o.failures, std::vector<TOperationError>{TOperationError::NoModule});
    }

    void abortBeforeTheEraseKeepsTheMemory()
    {
        const auto before = vm->Memory();
        TRecordingObserver o;
        o.abort = true;
        TMemoryBytes bytes{};
        QVERIFY(session->Communication_Check(o));
        vm->ClearReceived();
        QCOMPARE(ProgramMemoryBlocks(*session, o, kEraseFlash, kFlashFirstBlock, bytes), TOperationError::Aborted);
        // Disconect, Connect, Write Registers, and no erase after them.
        QCOMPARE(vm->Received(), (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x20, 0x40, 0xAA}));
        QVERIFY(vm->Memory() == before);
    }

    void programThenVerify()
    {
        TRecordingObserver o;
        TMemoryBytes bytes;
        for (int i = 0; i < 128; ++i) bytes[size_t(i)] = uint8_t(3 * i);
        QVERIFY(session->Communication_Check(o));
        QCOMPARE(ProgramMemoryBlocks(*session, o, kEraseFlash, kFlashFirstBlock, bytes), TOperationError::None);
        QVERIFY(VerifyMemory(*session, o, kFlashFirstBlock, bytes).Ok());

        TVirtualModuleFaults f;
        f.corruptWriteAddress = 0x41;
        vm->SetFaults(f);
        QVERIFY(session->Communication_Check(o));
        QCOMPARE(ProgramMemoryBlocks(*session, o, kEraseFlash, kFlashFirstBlock, bytes), TOperationError::None);
        const TVerifyResult v = VerifyMemory(*session, o, kFlashFirstBlock, bytes);
        QCOMPARE(v.error, TOperationError::None);
        QCOMPARE(int(v.differences.size()), 1);
        QCOMPARE(v.differences[0].address, 0x41);
        QCOMPARE(v.differences[0].written, uint8_t(0xC3));
        QCOMPARE(DifferenceSummary(v.differences), QStringLiteral("1 byte differs, at 0x41"));
        QVERIFY(DifferenceReport(v.differences).contains(QStringLiteral("0x41: written C3, read C2")));
    }

    void stopInTheLastPauseIsNoSuccess_data()
    {
        QTest::addColumn<bool>("config");
        QTest::newRow("Program Flash") << false;
        QTest::newRow("Program Config") << true;
    }
    void stopInTheLastPauseIsNoSuccess()
    {
        QFETCH(bool, config);
        TMemoryBytes bytes{};
        TStopFlag stop;
        session->SetStop(&stop);
        const auto run = [&](TOperationObserver& o) {
            return config ? ProgramConfigRun(*session, o, bytes, 3, false) : ProgramFlashRun(*session, o, bytes, false);
        };
        TRecordingObserver whole;
        QVERIFY(run(whole).Ok());
        TStopInPause stopped(stop, whole.pauses.size());
        const TProgramRun r = run(stopped);
        session->SetStop(nullptr);
        QCOMPARE(stopped.pauses.size(), whole.pauses.size());  // it got as far as the last pause
        QVERIFY(!r.Ok());
        const TOperationReport report = ProgramReport(QStringLiteral("program-flash"), QStringLiteral("/dev/x"),
                                                      QDateTime::currentDateTimeUtc(), bytes, config, r);
        QVERIFY(!report.ok && report.stopped);
    }

    // A run that a stop cut short is recorded as stopped, not as a module
    // that did not answer; a verify that read everything keeps its verdict.
    void stoppedRunIsNoFailure_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("verifyError");  // -1: no verify ran
        QTest::addColumn<bool>("stopRequested");
        QTest::addColumn<QString>("outcome");
        const int none = int(TOperationError::None), noModule = int(TOperationError::NoModule);
        QTest::newRow("check cut short") << false << noModule << -1 << true << QStringLiteral("stopped");
        QTest::newRow("blocks cut short") << true << int(TOperationError::NoReply) << -1 << true << QStringLiteral("stopped");
        QTest::newRow("verify cut short") << true << none << noModule << true << QStringLiteral("stopped");
        QTest::newRow("verify judged") << true << none << none << true << QStringLiteral("failed");
        QTest::newRow("no module, no stop") << false << noModule << -1 << false << QStringLiteral("failed");
        QTest::newRow("done before the stop") << true << none << -1 << true << QStringLiteral("ok");
    }
    void stoppedRunIsNoFailure()
    {
        QFETCH(bool, checked);
        QFETCH(int, error);
        QFETCH(int, verifyError);
        QFETCH(bool, stopRequested);
        QFETCH(QString, outcome);
        TProgramRun run;
        run.checked = checked;
        run.error = TOperationError(error);
        if (verifyError >= 0) {
            run.verifyRan = true;
            run.verify.error = TOperationError(verifyError);
            if (run.verify.error == TOperationError::None) run.verify.differences.push_back({0x85, 1, 2});
        }
        const TOperationReport r = ProgramReport(QStringLiteral("program-config"), QStringLiteral("/dev/x"),
                                                 QDateTime::currentDateTimeUtc(), TMemoryBytes{}, true, run, stopRequested);
        QCOMPARE(r.ok ? QStringLiteral("ok") : r.stopped ? QStringLiteral("stopped") : QStringLiteral("failed"), outcome);
        if (outcome == QLatin1String("stopped")) QCOMPARE(r.error, QStringLiteral("aborted"));
        if (outcome == QLatin1String("failed")) QVERIFY(!r.error.isEmpty() && r.error != QLatin1String("aborted"));
    }

    void differenceTexts()
    {
        TMemoryBytes a{}, b{};
        for (int i : {0x05, 0x25, 0x26}) b[size_t(i)] = 1;
        const auto d = CompareMemory(kConfigFirstBlock, a, b);
        QCOMPARE(int(d.size()), 3);
        QCOMPARE(d[0].address, 0x85);
        QCOMPARE(DifferenceSummary(d), QStringLiteral("3 bytes differ, first at 0x85"));
        QCOMPARE(DifferenceReport(d, 2).count(QLatin1Char('\n')), 3);  // two lines and "..."
    }
};

QTEST_MAIN(TestMemoryOperations)
#include "test_memory_operations.moc"
