// The station against virtual modules plugged into a watched folder: the
// test makes a module's link in the folder to plug it and removes it to
// unplug it, as /dev/serial/by-id shows adapters on a bench.
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "module/config_image.h"
#include "record/production_record.h"
#include "settings/config_values.h"
#include "station/station.h"
#include "station/station_record.h"
#include "tools/vmodule/virtual_module.h"

namespace {

// Every event, kept for the test to wait on.
class TEvents : public TStationObserver {
public:
    void StationEvent(const TStationEvent& e) override
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            events_.push_back(e);
            if (onEvent) onEvent(e);
        }
        cv_.notify_all();
    }
    // The results of finished modules, waiting until there are count of them.
    std::vector<TStationModuleResult> Results(size_t count, int timeoutMs = 60000)
    {
        std::unique_lock<std::mutex> lock(m_);
        std::vector<TStationModuleResult> out;
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            out.clear();
            for (const TStationEvent& e : events_)
                if (e.kind == TStationEvent::Finished) out.push_back(e.result);
            return out.size() >= count;
        });
        return out;
    }
    bool WaitFor(TStationEvent::Kind kind, size_t count, int timeoutMs = 30000)
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return size_t(std::count_if(events_.begin(), events_.end(),
                                        [&](const TStationEvent& e) { return e.kind == kind; })) >= count;
        });
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_);
        events_.clear();
        onEvent = nullptr;
    }
    std::function<void(const TStationEvent&)> onEvent;  // under the lock, on the socket's thread

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<TStationEvent> events_;
};

bool HasWrite(const std::vector<uint8_t>& bytes)
{
    // Write Registers 0x40 0xAA opens every programming.
    const uint8_t seq[] = {0x20, 0x40, 0xAA};
    return std::search(bytes.begin(), bytes.end(), std::begin(seq), std::end(seq)) != bytes.end();
}

}  // namespace

class TestStation : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<TProductionStationRecord> record_;
    std::unique_ptr<TStation> station_;
    TEvents events_;
    std::vector<std::unique_ptr<TVirtualModule>> modules_;
    TMemoryBytes image_{};
    QString watched_, db_;

    void StartStation(const QString& from, const QStringList& ports = {})
    {
        TUnitAddressPlan plan;
        QString error;
        QVERIFY(ParseUnitAddressPlan(from, &plan, &error));
        record_ = std::make_unique<TProductionStationRecord>(db_, plan);
        QVERIFY2(record_->Prepare(&error), qPrintable(error));
        TStationSetup setup;
        setup.profileName = QStringLiteral("line.json");
        setup.image = image_;
        setup.watchDirs = ports.isEmpty() ? QStringList{watched_} : QStringList{};
        setup.ports = ports;
        setup.pollMs = 200;
        station_ = std::make_unique<TStation>(setup, *record_, events_);
        QVERIFY2(station_->Start(&error), qPrintable(error));
    }
    // Plugs a module into the socket named name (a new module, or the same
    // one again when it exists).
    TVirtualModule& Plug(size_t i, const QString& name)
    {
        while (modules_.size() <= i) modules_.push_back(std::make_unique<TVirtualModule>());
        TVirtualModule& m = *modules_[i];
        m.SetLinkPath((watched_ + QLatin1Char('/') + name).toStdString());
        std::string error;
        if (!m.Start(&error)) qFatal("virtual module: %s", error.c_str());
        return m;
    }
    TRecordEntries Rows()
    {
        TProductionRecord record(db_);
        TRecordEntries rows;
        QString error;
        if (!record.Select({}, &rows, &error)) qWarning("%s", qPrintable(error));
        return rows;
    }
    TMemoryBytes ConfigOf(TVirtualModule& m)
    {
        const auto memory = m.Memory();
        TMemoryBytes out{};
        std::copy(memory.begin() + 128, memory.end(), out.begin());
        return out;
    }

private slots:
    void init()
    {
        watched_ = dir_.filePath(QStringLiteral("by-id-%1").arg(QTest::currentTestFunction()));
        QVERIFY(QDir().mkpath(watched_));
        db_ = dir_.filePath(QStringLiteral("%1.sqlite").arg(QTest::currentTestFunction()));
        image_ = ConfigImage(TConfigValues{});
    }
    void cleanup()
    {
        station_.reset();
        modules_.clear();
        record_.reset();
        events_.Clear();
    }

    // Plugged one after the other, each gets the next address and is verified.
    void threeModulesGetAddressesInTurn()
    {
        StartStation(QStringLiteral("0100"));
        const QStringList expected{QStringLiteral("0100"), QStringLiteral("0101"), QStringLiteral("0102")};
        for (int i = 0; i < 3; ++i) {
            TVirtualModule& m = Plug(size_t(i), QStringLiteral("usb-Tarnwick_%1-if00").arg(i));
            const auto results = events_.Results(size_t(i + 1));
            QCOMPARE(int(results.size()), i + 1);
            const TStationModuleResult& r = results.back();
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(r.unitAddress, expected[i]);
            QVERIFY(!r.alreadyProgrammed);
            TMemoryBytes want = image_;
            SetImageUnitAddress(want, expected[i].toInt(nullptr, 16));
            QVERIFY(ConfigOf(m) == want);
        }
        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), 3);
        for (const TRecordEntry& row : rows) {
            QCOMPARE(row.outcome, QStringLiteral("ok"));
            QCOMPARE(row.verified, QStringLiteral("yes"));
            QVERIFY(expected.contains(row.unitAddress));
        }
        QCOMPARE(station_->Sums().passed, 3);
        QCOMPARE(int(station_->Sockets().size()), 3);
    }

    // A module that hangs up during Program Config fails with the step
    // named; the one plugged next in its place passes and points to it.
    void hangUpFailsThenRedoPasses()
    {
        const QString socket = QStringLiteral("usb-Tarnwick_A-if00");
        StartStation(QStringLiteral("0100"));
        TVirtualModule* victim = nullptr;
        bool armed = true;
        events_.onEvent = [&](const TStationEvent& e) {
            if (armed && victim && e.kind == TStationEvent::Step && e.step == TStationStep::ProgramConfig) {
                armed = false;
                TVirtualModuleFaults f;
                f.hangUpAfterBytes = 12;  // mid-way through the programming
                victim->SetFaults(f);
            }
        };
        victim = &Plug(0, socket);
        auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        const TStationModuleResult failed = results[0];
        QVERIFY(!failed.ok);
        QVERIFY2(failed.failedStep == TStationStep::ProgramConfig, qPrintable(failed.error));
        QVERIFY2(failed.error.contains(QLatin1String("during Program Config")), qPrintable(failed.error));
        QVERIFY2(failed.error.contains(QLatin1String("plug it again")), qPrintable(failed.error));

        // Out, and a good module in its place.
        victim->Stop();
        QVERIFY(events_.WaitFor(TStationEvent::Unplugged, 1));
        victim->SetFaults({});
        Plug(0, socket);
        results = events_.Results(2);
        QCOMPARE(int(results.size()), 2);
        const TStationModuleResult& redo = results[1];
        QVERIFY2(redo.ok, qPrintable(redo.error));
        QCOMPARE(redo.redoOf, failed.rowId);
        QCOMPARE(redo.unitAddress, failed.unitAddress);  // a redo: the same socket and address

        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), 2);
        QCOMPARE(rows[0].rowId, failed.rowId);
        QCOMPARE(rows[0].outcome, QStringLiteral("failed"));
        QVERIFY(rows[0].error.contains(QLatin1String("during Program Config")));
        QCOMPARE(rows[1].outcome, QStringLiteral("ok"));
        QCOMPARE(rows[1].redoOf, failed.rowId);
        QCOMPARE(station_->Sums().failed, 1);
        QCOMPARE(station_->Sums().passed, 1);
    }

    // Plugged again after it passed: recognised, not written to again.
    void passedModuleIsNotWrittenAgain()
    {
        const QString socket = QStringLiteral("usb-Tarnwick_B-if00");
        StartStation(QStringLiteral("0100"));
        TVirtualModule& m = Plug(0, socket);
        auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        QVERIFY2(results[0].ok, qPrintable(results[0].error));
        const TMemoryBytes programmed = ConfigOf(m);

        m.Stop();
        QVERIFY(events_.WaitFor(TStationEvent::Unplugged, 1));
        m.ClearReceived();
        Plug(0, socket);
        results = events_.Results(2);
        QCOMPARE(int(results.size()), 2);
        const TStationModuleResult& again = results[1];
        QVERIFY2(again.ok, qPrintable(again.error));
        QVERIFY(again.alreadyProgrammed);
        QCOMPARE(again.unitAddress, QStringLiteral("0100"));
        QVERIFY(!HasWrite(m.Received()));
        QVERIFY(ConfigOf(m) == programmed);
    }

    // A fixed adapter: the module is there while it answers the check. A
    // module that stops answering is taken out; the next one is programmed.
    void fixedPortTakesModulesInTurn()
    {
        TVirtualModule m;
        QVERIFY(m.Start());
        StartStation(QStringLiteral("0200"), {QString::fromStdString(m.PortPath())});
        auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        QVERIFY2(results[0].ok, qPrintable(results[0].error));
        QCOMPARE(results[0].unitAddress, QStringLiteral("0200"));
        QVERIFY(results[0].byId.isEmpty());

        TVirtualModuleFaults gone;
        gone.silent = true;
        m.SetFaults(gone);
        QVERIFY(events_.WaitFor(TStationEvent::Unplugged, 1));
        // Another module on the adapter: a fresh memory.
        std::array<uint8_t, 256> erased;
        erased.fill(0xFF);
        m.SetMemory(erased);
        m.SetFaults({});
        results = events_.Results(2);
        QCOMPARE(int(results.size()), 2);
        QVERIFY2(results[1].ok, qPrintable(results[1].error));
        QCOMPARE(results[1].unitAddress, QStringLiteral("0201"));
        QCOMPARE(int(station_->Sockets().size()), 1);
    }
};

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
