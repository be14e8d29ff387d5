#include "module/ui/status_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <atomic>

namespace {

QPointer<TSTATUSF> g_form;
int g_barPosition = 0;
// Set by the Abort button, read by the operation on its worker.
std::atomic<bool> g_abortRequested{false};

void DrawFrame(QPainter& p, const QPalette& pal)
{
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(8, 56, 8, 40);
    p.drawLine(8, 40, 209, 40);
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(209, 40, 209, 56);
    p.drawLine(209, 56, 8, 56);
}

void DrawSteps(QPainter& p, const QPalette& pal, int from, int to)
{
    p.setPen(pal.color(QPalette::Highlight));
    for (int s = from; s <= to; ++s) {
        const int x = StepX(s);
        p.drawLine(x, 42, x, 54);  // down to, not including, y = 55
    }
}

}  // namespace

int PercentToSteps(int percent) { return percent * 256 / 100; }

int StepX(int step) { return 10 + step * 197 / 256; }

TSTATUSF::TSTATUSF(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("STATUSF"));
    setWindowTitle(QStringLiteral("Programmer Status "));
    setFixedSize(217, 97);
    setModal(false);

    ModeLabel = new QLabel(this);
    ModeLabel->setObjectName(QStringLiteral("ModeLabel"));
    ModeLabel->move(8, 16);
    ModeLabel->resize(130, 16);

    AddressLabel = new QLabel(QStringLiteral("DDDDDDDD"), this);
    AddressLabel->setObjectName(QStringLiteral("AddressLabel"));
    AddressLabel->setGeometry(141, 16, 68, 16);
    AddressLabel->setAlignment(Qt::AlignCenter);
    AddressLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    AddressLabel->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    TimeLabel = new QLabel(QStringLiteral("Elapsed Time = "), this);
    TimeLabel->setObjectName(QStringLiteral("TimeLabel"));
    TimeLabel->move(48, 40);

    AbortButton = new QPushButton(QStringLiteral("Abort"), this);
    AbortButton->setObjectName(QStringLiteral("AbortButton"));
    AbortButton->setGeometry(72, 64, 75, 25);
    AbortButton->setFocusPolicy(Qt::NoFocus);
    AbortButton->setCursor(Qt::ArrowCursor);
    AbortButton->setAutoDefault(false);
    connect(AbortButton, &QPushButton::clicked, this, [this] { AbortButtonClick(); });

    // Default button placed outside the client area: Enter presses it and nothing happens.
    Button1 = new QPushButton(QStringLiteral("Button1"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(200, 184, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TSTATUSF::AbortButtonClick() { g_abortRequested = true; }

void TSTATUSF::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    DrawFrame(p, palette());
    DrawSteps(p, palette(), 0, g_barPosition);
}

void TSTATUSF::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        AbortButton->click();
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        Button1->click();
        return;
    }
    QDialog::keyPressEvent(e);
}

// The window has no close button; a close request from the window manager is refused.
void TSTATUSF::closeEvent(QCloseEvent* e) { e->ignore(); }

void TSTATUSF::reject() { AbortButtonClick(); }

void InitStatus()
{
    if (g_form) return;
    g_form = new TSTATUSF(nullptr);
    g_form->setAttribute(Qt::WA_DeleteOnClose, false);
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect r = s->availableGeometry();
        g_form->move(r.center() - QPoint(217 / 2, 97 / 2));
    }
    g_abortRequested = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { delete g_form.data(); });
}

void ShowStatus(const QString& caption, const QString& mode)
{
    if (!g_form) return;
    g_barPosition = 0;
    g_form->setWindowTitle(caption);
    g_form->ModeLabel->setText(mode);
    g_form->AddressLabel->hide();
    g_form->TimeLabel->hide();
    g_form->show();
    g_form->raise();
    g_form->repaint();
}

void UpdateStatus(int percent)
{
    if (!g_form) return;
    int target = PercentToSteps(percent);
    if (target > g_barPosition) {
        if (target > 256) target = 256;
        g_barPosition = target;
    }
    g_form->repaint();
}

void HideStatus()
{
    if (g_form) g_form->hide();
}

TSTATUSF* StatusForm() { return g_form; }
int BarPosition() { return g_barPosition; }
bool AbortRequested() { return g_abortRequested; }
void SetAbortRequested(bool v) { g_abortRequested = v; }
