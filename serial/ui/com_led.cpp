#include "serial/ui/com_led.h"

#include <QEvent>
#include <QPainter>
#include <QTimer>

TComLed::TComLed(QWidget* parent) : QWidget(parent), ringTimer_(new QTimer(this)), holdTimer_(new QTimer(this))
{
    holdTimer_->setSingleShot(true);
    connect(holdTimer_, &QTimer::timeout, this, [this] {
        holding_ = false;
        if (state_ != lsOn) update();
    });
    resize(25, 25);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    ringTimer_->setInterval(ringDuration_);
    connect(ringTimer_, &QTimer::timeout, this, [this] { RingTimerTick(); });
    link_.OnOpenChange = [this](TCustomComPort*, bool on) { SignalHandler(on); };
    link_.OnPortDestroyed = [this](TCustomComPort*) {
        // The port has already dropped its links: forget it without unregistering.
        port_ = nullptr;
        ChangeState(lsOff);
    };
    LoadPictures();
}

TComLed::~TComLed()
{
    ringTimer_->stop();
    if (port_) {
        try {
            port_->UnregisterLink(&link_);
        } catch (const EComPort&) {
            // Not registered any more: nothing to undo.
        }
        port_ = nullptr;
    }
}

void TComLed::SetComPort(TCustomComPort* port)
{
    if (port == port_) return;
    if (port_) port_->UnregisterLink(&link_);
    port_ = port;
    if (!port_) {
        ChangeState(lsOff);
        return;
    }
    port_->RegisterLink(&link_);
    if (!port_->Connected()) return;
    switch (signal_) {
    case lsConn: ChangeState(lsOn); break;
    case lsCTS: ChangeState((port_->ModemSignals() & ms::Cts) ? lsOn : lsOff); break;
    case lsDSR: ChangeState((port_->ModemSignals() & ms::Dsr) ? lsOn : lsOff); break;
    case lsRLSD: ChangeState((port_->ModemSignals() & ms::Rlsd) ? lsOn : lsOff); break;
    case lsRing:
    case lsRx:
    case lsTx: ChangeState(lsOff); break;
    }
}

void TComLed::SetLedSignal(TComLedSignal v)
{
    if (v == signal_) return;
    signal_ = v;
    link_.OnOpenChange = nullptr;
    link_.OnCTSSignal = nullptr;
    link_.OnDSRSignal = nullptr;
    link_.OnRLSDSignal = nullptr;
    link_.OnRingSignal = nullptr;
    link_.OnTxActive = nullptr;
    link_.OnRxActive = nullptr;
    auto handler = [this](TCustomComPort*, bool on) { SignalHandler(on); };
    switch (v) {
    case lsConn: link_.OnOpenChange = handler; break;
    case lsCTS: link_.OnCTSSignal = handler; break;
    case lsDSR: link_.OnDSRSignal = handler; break;
    case lsRLSD: link_.OnRLSDSignal = handler; break;
    case lsRx: link_.OnRxActive = handler; break;
    case lsTx: link_.OnTxActive = handler; break;
    case lsRing: link_.OnRingSignal = [this](TCustomComPort*) { RingHandler(); }; break;
    }
}

void TComLed::SetKind(TLedKind v)
{
    if (v == kind_) return;
    kind_ = v;
    LoadPictures();
    update();
}

void TComLed::SetState(TLedState v)
{
    if (port_) throw EComPort(CError_LedStateFailed, -1);
    ChangeState(v);
}

void TComLed::SetRingDuration(int32_t ms)
{
    ringDuration_ = ms;
    ringTimer_->setInterval(std::max<int32_t>(0, ms));
}

void TComLed::SetGlyphOn(const QImage& image)
{
    if (kind_ != lkCustom) return;
    glyphOn_ = MakeTransparent(image);
    update();
}

void TComLed::SetGlyphOff(const QImage& image)
{
    if (kind_ != lkCustom) return;
    glyphOff_ = MakeTransparent(image);
    update();
}

const QImage& TComLed::CurrentPicture() const
{
    return (isEnabled() && Lit()) ? glyphOn_ : glyphOff_;
}

bool TComLed::RingTimerActive() const { return ringTimer_->isActive(); }

int TComLed::RingTimeLeft() const { return ringTimer_->remainingTime(); }

void TComLed::ChangeState(TLedState v)
{
    const bool wasLit = Lit();
    state_ = v;
    const bool activity = signal_ == lsRx || signal_ == lsTx;
    if (v == lsOn) {
        litAt_.start();
        holding_ = false;
        holdTimer_->stop();
    } else if (activity && port_ && wasLit && litAt_.isValid() && litAt_.elapsed() < ActivityHoldMs) {
        holding_ = true;
        if (!holdTimer_->isActive()) holdTimer_->start(ActivityHoldMs - int(litAt_.elapsed()));
    } else {
        holding_ = false;
        holdTimer_->stop();
    }
    if (OnChange) OnChange(this, v);
    if (Lit() != wasLit) update();
}

namespace {

bool g_paintInNotification = true;

}  // namespace

void TComLed::SetPaintInNotification(bool on) { g_paintInNotification = on; }
bool TComLed::PaintInNotification() { return g_paintInNotification; }

void TComLed::SignalHandler(bool onOff)
{
    ChangeState(onOff ? lsOn : lsOff);
    if (!g_paintInNotification) return;
    // Paint now, however busy the line: a notification may follow another
    // without the loop painting between them. Painting runs no event loop:
    // a queued handler or box never runs inside a notification, where the
    // port may hold its device. At most every 40 ms though: a busy line
    // flips the lamps for every read, and the requested repaint shows the
    // last state anyway.
    if (lastForcedPaint_.isValid() && lastForcedPaint_.elapsed() < 40) return;
    lastForcedPaint_.start();
    repaint();
}

void TComLed::RingHandler()
{
    // A ring during a lit period does not lengthen it.
    if (!ringTimer_->isActive()) ringTimer_->start();
    ChangeState(lsOn);
}

void TComLed::RingTimerTick()
{
    ringTimer_->stop();
    ChangeState(lsOff);
}

void TComLed::LoadPictures()
{
    if (kind_ == lkCustom) return;  // the glyphs given stay
    glyphOn_ = LedPicture(kind_, true);
    glyphOff_ = LedPicture(kind_, false);
}

void TComLed::paintEvent(QPaintEvent*)
{
    if (glyphOn_.isNull() || glyphOff_.isNull()) LoadPictures();
    const QImage& pic = CurrentPicture();
    if (pic.isNull()) return;
    const int left = std::max(0, (width() - pic.width()) / 2);
    const int top = std::max(0, (height() - pic.height()) / 2);
    QPainter p(this);
    p.drawImage(left, top, pic);
}

void TComLed::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(e);
}
