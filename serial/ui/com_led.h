#pragma once
// TComLed: a small lamp that shows one line signal of a port through a
// TComLink (open, CTS, DSR, RLSD, ring, receive and transmit activity).
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

#include "serial/com_port.h"
#include "serial/ui/led_pictures.h"

class QTimer;

enum TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedState { lsOff, lsOn };

class TComLed : public QWidget {
    Q_OBJECT
public:
    explicit TComLed(QWidget* parent = nullptr);
    ~TComLed() override;

    // Whether a signal notification paints the lamp at once (processing the
    // pending window messages), for every lamp of the process. On by
    // default; a window whose blocking exchanges are all known may turn it
    // off while none runs, when the event loop paints within moments anyway.
    static void SetPaintInNotification(bool on);
    static bool PaintInNotification();

    TCustomComPort* ComPort() const { return port_; }
    // Registers the lamp's link with the port (unregistering it from the old
    // one) and shows the signal at once when the port is open.
    void SetComPort(TCustomComPort* port);
    TComLedSignal LedSignal() const { return signal_; }
    void SetLedSignal(TComLedSignal v);
    TLedKind Kind() const { return kind_; }
    void SetKind(TLedKind v);
    TLedState State() const { return state_; }
    // Raises EComPort code 19 while a port is attached.
    void SetState(TLedState v);
    int32_t RingDuration() const { return ringDuration_; }
    void SetRingDuration(int32_t ms);
    // Only taken when Kind is lkCustom; the bottom-left pixel's colour
    // becomes transparent.
    QImage GlyphOn() const { return glyphOn_; }
    QImage GlyphOff() const { return glyphOff_; }
    void SetGlyphOn(const QImage& image);
    void SetGlyphOff(const QImage& image);

    // The picture drawn now (on picture when enabled and lit).
    const QImage& CurrentPicture() const;
    // Lit: on, or an activity lamp (receive, transmit) within its hold. A
    // burst of activity flips the state for every read or write, often
    // within one handler, where no repaint could ever show it: the picture
    // of an activity lamp stays lit for ActivityHoldMs after it lit, so a
    // single byte shows and a busy line shows a steady lamp (and costs no
    // repaint per read). State() stays exact.
    bool Lit() const { return state_ == lsOn || holding_; }
    static constexpr int ActivityHoldMs = 50;
    bool RingTimerActive() const;
    int RingTimeLeft() const;  // ms until the ring lamp goes dark, -1 when not running
    const TComLink& Link() const { return link_; }

    std::function<void(TComLed*, TLedState)> OnChange;

    QSize sizeHint() const override { return QSize(25, 25); }

protected:
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void ChangeState(TLedState v);
    void SignalHandler(bool onOff);
    void RingHandler();
    void RingTimerTick();
    void LoadPictures();
    void Detach();

    TCustomComPort* port_ = nullptr;
    TComLedSignal signal_ = lsConn;
    TLedKind kind_ = lkRedLight;
    TLedState state_ = lsOff;
    int32_t ringDuration_ = 1000;
    QImage glyphOn_, glyphOff_;
    TComLink link_;
    QTimer* ringTimer_;
    QTimer* holdTimer_;
    QElapsedTimer litAt_;  // an activity lamp last lit
    bool holding_ = false;
    QElapsedTimer lastForcedPaint_;  // painted from inside a notification
};
