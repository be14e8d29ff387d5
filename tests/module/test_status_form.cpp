// The progress window: percent to bar steps, a bar that never shrinks,
// Esc as Abort, Enter doing nothing, no way to close it.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "module/ui/status_form.h"

class TestStatusForm : public QObject {
    Q_OBJECT

    // Counts the highlighted bar lines actually painted.
    static int PaintedSteps()
    {
        QImage img = StatusForm()->grab().toImage();
        const QColor bar = StatusForm()->palette().color(QPalette::Highlight);
        int steps = 0;
        for (int x = 10; x <= 207; ++x)
            if (img.pixelColor(x * img.width() / 217, 48 * img.height() / 97) == bar) ++steps;
        return steps;
    }

private slots:
    void initTestCase() { InitStatus(); }

    void initStatusCreatesOneHiddenWindow()
    {
        TSTATUSF* f = StatusForm();
        QVERIFY(f);
        InitStatus();
        QCOMPARE(StatusForm(), f);
        QVERIFY(!f->isVisible());
        QCOMPARE(f->windowTitle(), QStringLiteral("Programmer Status "));
        QVERIFY(!(f->windowFlags() & Qt::WindowCloseButtonHint));
    }

    void percentToSteps()
    {
        const int expected[] = {0, 25, 51, 76, 102, 128, 153, 179, 204, 230, 256};
        for (int i = 0; i <= 10; ++i) QCOMPARE(PercentToSteps(i * 10), expected[i]);
        QCOMPARE(StepX(0), 10);
        QCOMPARE(StepX(256), 207);
    }

    void barNeverShrinksAndClamps()
    {
        ShowStatus(QStringLiteral("Flash Memory"), QStringLiteral("Reading"));
        QVERIFY(StatusForm()->isVisible());
        QCOMPARE(StatusForm()->windowTitle(), QStringLiteral("Flash Memory"));
        QCOMPARE(StatusForm()->ModeLabel->text(), QStringLiteral("Reading"));
        QVERIFY(StatusForm()->AddressLabel->isHidden());
        QVERIFY(StatusForm()->TimeLabel->isHidden());
        QCOMPARE(BarPosition(), 0);
        UpdateStatus(60);
        QCOMPARE(BarPosition(), 153);
        UpdateStatus(50);
        QCOMPARE(BarPosition(), 153);
        UpdateStatus(100);
        QCOMPARE(BarPosition(), 256);
        UpdateStatus(120);
        QCOMPARE(BarPosition(), 256);
        const int full = PaintedSteps();
        QVERIFY2(full > 150, qPrintable(QString::number(full)));  // repainted up to the current step
        ShowStatus(QStringLiteral("Config Memory"), QStringLiteral("Programming"));
        QCOMPARE(BarPosition(), 0);
        QVERIFY(PaintedSteps() <= 2);
        HideStatus();
        QVERIFY(!StatusForm()->isVisible());
        QCOMPARE(BarPosition(), 0);
    }

    void escapeAbortsEnterDoesNothing()
    {
        SetAbortRequested(false);
        ShowStatus(QStringLiteral("Send Command"), QStringLiteral("Sending command"));
        QTest::keyClick(StatusForm(), Qt::Key_Return);
        QVERIFY(!AbortRequested());
        QVERIFY(StatusForm()->isVisible());
        QTest::keyClick(StatusForm(), Qt::Key_Escape);
        QVERIFY(AbortRequested());
        QVERIFY(StatusForm()->isVisible());  // Esc does not close it
        SetAbortRequested(false);
        QTest::mouseClick(StatusForm()->AbortButton, Qt::LeftButton);
        QVERIFY(AbortRequested());
        StatusForm()->close();
        QVERIFY(StatusForm()->isVisible());
        HideStatus();
    }
};

QTEST_MAIN(TestStatusForm)
#include "test_status_form.moc"
