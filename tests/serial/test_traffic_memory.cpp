// What the traffic ring and the Traffic window's lines hold at worst: a
// stream of one-byte transfers that change direction every time (a header
// and a window line each). The figure the README gives must hold.
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>
#include <malloc.h>
#include <memory>

#include "serial/traffic_log.h"
#include "serial/ui/traffic_model.h"

namespace {

std::size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

}  // namespace

class TestTrafficMemory : public QObject {
    Q_OBJECT
private slots:
    void worstCaseIsWhatTheReadmeSays()
    {
        // The source tree from CTest (a compiler cache may make __FILE__ relative).
        const QString source = qEnvironmentVariable("TW_SOURCE_DIR",
                                                    QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../..");
        QFile readme(source + QStringLiteral("/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const auto match = QRegularExpression(QStringLiteral("traffic ring and the window's lines take at most about (\\d+) MiB"))
                               .match(QString::fromUtf8(readme.readAll()).simplified());
        QVERIFY2(match.hasMatch(), "README: no figure for the traffic ring's memory");
        const double documentedMiB = match.captured(1).toDouble();

        const std::size_t before = HeapInUse();
        {
            auto probe = std::make_unique<char[]>(4 << 20);
            probe[0] = 1;
            if (HeapInUse() < before + (4 << 20)) QSKIP("the allocator does not report to mallinfo2 (a sanitizer)");
        }
        const std::size_t start = HeapInUse();
        TTrafficLog log;
        TTrafficModel model(log);
        for (std::size_t i = 0; i < TTrafficLog::DefaultChunkCapacity + 1000; ++i) {
            log.RecordAt(i % 2 ? TTrafficDirection::Rx : TTrafficDirection::Tx, int64_t(i) * 1000, "k", 1);
            if (i % 4096 == 0) model.Refresh();
        }
        model.Refresh();
        QCOMPARE(model.rowCount(), int(TTrafficLog::DefaultChunkCapacity));
        const double usedMiB = double(HeapInUse() - start) / (1 << 20);
        qInfo("worst case: %.1f MiB (README: about %.0f MiB)", usedMiB, documentedMiB);
        QVERIFY2(usedMiB <= documentedMiB * 1.05 && usedMiB >= documentedMiB * 0.75, qPrintable(QString::number(usedMiB)));
    }
};

QTEST_GUILESS_MAIN(TestTrafficMemory)
#include "test_traffic_memory.moc"
