#pragma once
// TCustomComTerminal / TComTerminal: the terminal control. The screen, the
// escape codes and what is sent live in TComTermEngine; this view paints
// the engine's buffer through a view origin moved by the scroll bars, keeps
// the caret, turns key presses into engine calls, and joins the port.
#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QRect>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "common/ui/byte_glyphs.h"
#include "serial/com_port.h"
#include "terminal/com_term_engine.h"
#include "terminal/term_paste.h"
#include "terminal/term_scrollback.h"
#include "terminal/term_selection.h"

enum TTermCaret { tcBlock, tcUnderline, tcNone };
enum TTermScrollBars { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TTermBorderStyle { bsNone, bsSingle };

class TCustomComTerminal : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TCustomComTerminal(QWidget* parent = nullptr);
    ~TCustomComTerminal() override;

    // --- port ---
    TCustomComPort* ComPort() const { return comPort_; }
    // Moves the receive link from the old port to the new one (nullptr: none).
    void SetComPort(TCustomComPort* port);
    bool Connected() const;
    void SetConnected(bool v);

    // --- properties ---
    TTermEmulation Emulation() const { return engine_.Emulation(); }
    void SetEmulation(TTermEmulation v);
    int Columns() const { return engine_.Columns(); }
    void SetColumns(int v);
    int Rows() const { return engine_.Rows(); }
    void SetRows(int v);
    TTermCaret Caret() const { return caret_; }
    void SetCaret(TTermCaret v);
    TArrowKeys ArrowKeys() const { return engine_.ArrowKeys; }
    void SetArrowKeys(TArrowKeys v) { engine_.ArrowKeys = v; }
    bool LocalEcho() const { return engine_.LocalEcho; }
    void SetLocalEcho(bool v) { engine_.LocalEcho = v; }
    bool SendLF() const { return engine_.SendLF; }
    void SetSendLF(bool v) { engine_.SendLF = v; }
    bool AppendLF() const { return engine_.AppendLF; }
    void SetAppendLF(bool v) { engine_.AppendLF = v; }
    bool Force7Bit() const { return engine_.Force7Bit; }
    void SetForce7Bit(bool v) { engine_.Force7Bit = v; }
    bool WrapLines() const { return engine_.WrapLines; }
    void SetWrapLines(bool v) { engine_.WrapLines = v; }
    bool SmoothScroll() const { return smoothScroll_; }
    void SetSmoothScroll(bool v);
    bool WantTab() const { return wantTab_; }
    void SetWantTab(bool v) { wantTab_ = v; }
    QColor AltColor() const;
    void SetAltColor(const QColor& c);
    TTermBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TTermBorderStyle v);
    TTermScrollBars ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TTermScrollBars v);
    QFont Font() const { return font_; }
    // Keeps a fixed-pitch font (else the default family), drops underline.
    void SetFont(const QFont& f);
    // Shrinks the font until Columns x Rows cells fit the client area (a
    // scalable font of a given point size is taller than a bitmap one).
    void FitFontToScreen(int minPixelSize = 8);
    // The largest font whose Columns fill the client width (beside the
    // vertical bar when Rows do not fit), never below minPixelSize.
    void FitFontToColumns(int minPixelSize = 11);
    // Measured: fontconfig calls some monospaced families proportional.
    static bool IsFixedPitch(const QFont& f);
    QColor FontColor() const;
    void SetFontColor(const QColor& c);
    QColor Color() const;
    void SetColor(const QColor& c);
    // Bytes 0x80..0xFF drawn from the PC character set instead of Latin-1.
    bool OemCharSet() const { return oemCharSet_; }
    void SetOemCharSet(bool v);

    // --- events (each optional) ---
    std::function<void(TCustomComTerminal*, char)> OnChar;
    std::function<void(TCustomComTerminal*, std::unique_ptr<TEscapeCodes>&)> OnGetEscapeCodes;
    std::function<void(TCustomComTerminal*, std::string&)> OnStrRecieved;
    std::function<void(TCustomComTerminal*, TEscapeCode, const std::string&)> OnUnhandledCode;
    std::function<void(TCustomComTerminal*)> OnEnter;  // got the keyboard focus
    std::function<void(TCustomComTerminal*)> OnExit;   // lost it
    // A port error while typing, or the port's device gone (then the
    // terminal has let go of the port). Without a handler: the error box.
    std::function<void(TCustomComTerminal*, const EComPort&)> OnPortError;
    // The output waiting to go changed: held by flow control or not, and
    // whether anything waits (see OutputHeld, OutputWaiting); while held,
    // also at each look at the line (every 50 ms) for the count.
    std::function<void(TCustomComTerminal*)> OnOutputChange;

    // --- operations ---
    void ShowText(const std::string& text);
    void ShowChar(char c);
    bool ApplyCode(TEscapeCode code, const TParamList* params);
    void SendTypedChar(char c);
    void SendKeyCode(TEscapeCode code, const TParamList* params);
    void SendReply(TEscapeCode code, const TParamList* params);
    void MoveCaret(int x, int y);
    void ReceivedData(const char* data, int count);

    // --- state ---
    TTermPoint CaretCell() const { return engine_.CaretCell(); }
    TTermPoint ViewOrigin() const { return viewOrigin_; }
    int CellWidth() const { return cellWidth_; }
    int CellHeight() const { return cellHeight_; }
    bool CaretExists() const { return caretExists_; }
    // Caret rectangle in viewport pixels.
    QRect CaretRect() const;
    TEscapeCodes* Parser() const { return engine_.Parser(); }
    TComTermEngine& Engine() { return engine_; }
    const TComTermBuffer& Buffer() const { return engine_.Buffer(); }
    TComLink& RxLink() { return rxLink_; }

    // --- scrollback, selection, paste ---
    const TTermScrollback& Scrollback() const { return scrollback_; }
    TTermSelection& Selection() { return selection_; }
    // Where a viewport pixel falls: the gap between cells nearest to it.
    TTermTextPos TextPosAt(const QPoint& viewportPos) const;
    // The newest lines at the bottom of the view (the screen's first row at the top when it fits).
    void ScrollToBottom();
    QString SelectedText() const;
    // Ctrl+Shift+C: the selection to the clipboard.
    void CopySelection();
    // Typed into the port as the keys would be, in slices between events.
    void PasteText(const QString& text);
    // Ctrl+Shift+V (the clipboard) or the middle button (the selection).
    void PasteClipboard(bool selection);
    bool PastePending() const { return paste_.Pending(); }
    // What is typed (and replies to the other side) waits in a queue that
    // is written only while flow control lets the line send, so a held line
    // (DSR or CTS low) never blocks the window in a write.
    bool OutputHeld() const { return held_; }
    // Bytes typed or pasted that have not gone to the port yet.
    std::size_t OutputWaiting() const { return out_.size() + paste_.Remaining(); }
    // Drops the rest of a paste and every byte still waiting.
    void StopSending();
    // Scrollback and screen as text.
    QString AllText() const;
    // "Save Terminal Text…": AllText to a file chosen through the dialog seam.
    void SaveTerminalText();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    virtual void NotifyChar(char c);
    virtual void NotifyParserWanted(std::unique_ptr<TEscapeCodes>& parser);
    virtual void NotifyStrReceived(std::string& text);
    virtual void NotifyUnhandledCode(TEscapeCode code, const std::string& seq);

    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool event(QEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void timerEvent(QTimerEvent* e) override;
    bool focusNextPrevChild(bool next) override;

private:
    void ReportPortError(const EComPort& e);
    // Runs OnExit that a deactivation or a popup put off, once it is clear
    // that the focus has really gone elsewhere.
    void ExitIfFocusGone();
    // After every engine call: repaint what changed, follow the caret.
    void Sync();
    void UpdateScrollRanges();
    void MeasureFont();
    void CreateCaret();
    void DestroyCaret();
    QRect CellsToView(int x1, int y1, int x2, int y2) const;
    uint32_t ToRgb(const QColor& c) const { return c.rgb() & 0xFFFFFF; }
    // Cells of lasting line n (scrollback or screen), nullptr when none.
    const TTermCell* LineCells(int64_t n, int* count) const;
    TTermLineSource LineSource() const;
    QString ToText(const std::string& bytes) const;
    void SendPasteSlice();
    // Screen changes reach the view at most every RepaintMs: text arriving
    // in many small reads would otherwise repaint the view for each.
    void ScheduleRepaint(const QRect& r);
    // rangesNow false: the scroll bar may wait for its next turn.
    void FlushRepaint(bool rangesNow = true);
    // View origin row with the newest lines at the bottom of the view.
    int BottomOriginY() const;

    TComTermEngine engine_;
    TComLink rxLink_;
    TCustomComPort* comPort_ = nullptr;
    TTermCaret caret_ = tcBlock;
    TTermPoint viewOrigin_;
    TTermPoint shownCaret_;
    bool caretExists_ = false;
    bool exitDeferred_ = false;
    bool caretVisible_ = true;
    int caretPixelHeight_ = 0;
    QBasicTimer blink_;
    bool smoothScroll_ = false;
    bool wantTab_ = false;
    bool oemCharSet_ = false;
    TTermBorderStyle borderStyle_ = bsSingle;
    TTermScrollBars scrollBars_ = ssBoth;
    QFont font_;
    QFont underlineFont_;
    int cellWidth_ = 8;
    int cellHeight_ = 12;
    int ascent_ = 10;
    TTermScrollback scrollback_;
    int64_t shownPushed_ = 0;  // scrollback lines the scroll range knows of
    TTermSelection selection_;
    bool selecting_ = false;
    TTermPaste paste_;
    QBasicTimer pasteTimer_;
    std::string out_;      // typed bytes and replies not written yet
    QBasicTimer outTimer_;  // the next look at the line while out_ waits
    bool held_ = false;
    bool batching_ = false;  // a paste slice is queued whole, then written
    void FlushOutput();
    void NotifyOutput(bool wasHeld, bool wasWaiting);
    static constexpr int RepaintMs = 33;
    QBasicTimer repaintTimer_;
    QElapsedTimer lastRepaint_;
    QRect pendingRepaint_;
    static constexpr int RangesMs = 250;
    QBasicTimer rangesTimer_;
    QElapsedTimer lastRanges_;
    bool rangesPending_ = false;  // the scroll bar catches up with the scrollback at the next repaint
    bool flushing_ = false;
    int pendingScroll_ = 0;  // rows the picture moves up at the next repaint
    QRect paintedCaret_;     // where the caret was last drawn into the picture
    // The font's glyph for each terminal byte, 0 when it has none (then
    // drawn as text, which finds a fallback font).
    TByteGlyphs glyphs_;
    int underlinePos_ = 1;
};

// The published terminal control.
class TComTerminal : public TCustomComTerminal {
    Q_OBJECT
public:
    using TCustomComTerminal::TCustomComTerminal;
};

// The shared default font: the system's fixed-pitch font, 9 point.
QFont DefaultTerminalFont();
