#pragma once
// TComLed: a small lamp that shows one line signal of a port through a
// TComLink (open, CTS, DSR, RLSD, ring, receive and transmit activity).
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

#include "serial/com_port.h"
#include "serial/led_pictures.h"

class QTimer;

enum TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedState { lsOff, lsOn };

class TComLed : public QWidget {
    Q_OBJECT
public:
    explicit TComLed(QWidget* parent = nullptr);
    ~TComLed() override;

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
    QElapsedTimer lastForcedPaint_;  // painted from inside a notification
};
