#include "terminal/ui/com_terminal.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/ui/dialogs.h"
#include "terminal/oem_charset.h"

QFont DefaultTerminalFont()
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setStyleHint(QFont::TypeWriter);
    f.setPointSize(9);
    if (!TCustomComTerminal::IsFixedPitch(f)) f.setFamily(QStringLiteral("Monospace"));
    return f;
}

bool TCustomComTerminal::IsFixedPitch(const QFont& f)
{
    if (QFontInfo(f).fixedPitch()) return true;
    const QFontMetrics fm(f);
    const int w = fm.horizontalAdvance(QLatin1Char('W'));
    return w > 0 && fm.horizontalAdvance(QLatin1Char('i')) == w && fm.horizontalAdvance(QLatin1Char('.')) == w &&
           fm.horizontalAdvance(QLatin1Char('m')) == w;
}

namespace {

QColor FromRgb(uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb | 0xFF000000u)); }

// Repaints and caret follow-up run also when a handler or the port throws.
class SyncGuard {
public:
    explicit SyncGuard(std::function<void()> f) : f_(std::move(f)) {}
    ~SyncGuard() { f_(); }

private:
    std::function<void()> f_;
};

}  // namespace

TCustomComTerminal::TCustomComTerminal(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setTracking(false);
    verticalScrollBar()->setTracking(false);
    // A drag starts from the range as it is now.
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, this, [this] {
        if (rangesPending_) FlushRepaint();
    });
    SetBorderStyle(bsSingle);

    engine_.CanSend = [this] { return comPort_ && comPort_->Connected(); };
    engine_.Write = [this](const std::string& s) {
        const bool idle = out_.empty();
        out_ += s;
        if (idle && !batching_ && !outTimer_.isActive()) FlushOutput();
    };
    engine_.OnChar = [this](uint8_t c) { NotifyChar(static_cast<char>(c)); };
    engine_.OnStrReceived = [this](std::string& text) { NotifyStrReceived(text); };
    engine_.OnUnhandledCode = [this](TEscapeCode code, const std::string& seq) { NotifyUnhandledCode(code, seq); };
    engine_.OnParserWanted = [this](std::unique_ptr<TEscapeCodes>& p) { NotifyParserWanted(p); };
    engine_.OnRowScrolledOff() = [this](const TTermCell* row, int columns) { scrollback_.Push(row, columns); };
    engine_.OnBufferAllocated = [this] {
        UpdateScrollRanges();
        viewport()->update();
    };

    rxLink_.OnRxData = [this](TCustomComPort*, const char* data, int count) { ReceivedData(data, count); };
    rxLink_.OnPortDestroyed = [this](TCustomComPort* port) {
        // The port drops its own list; only forget it here.
        if (port == comPort_) comPort_ = nullptr;
    };
    rxLink_.OnDeviceLost = [this](TCustomComPort* port) {
        if (port != comPort_) return;
        // Nothing more will come, and every key would only fail again.
        SetComPort(nullptr);
        ReportPortError(EComPort(CError_ReadFailed, EIO));
    };

    font_ = DefaultTerminalFont();
    underlineFont_ = font_;
    underlineFont_.setUnderline(true);
    MeasureFont();
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Window, Color());
    viewport()->setPalette(pal);
    resize(400, 250);
    UpdateScrollRanges();
}

TCustomComTerminal::~TCustomComTerminal()
{
    OnEnter = nullptr;
    OnExit = nullptr;
    if (comPort_ && comPort_->HasLink(&rxLink_)) {
        try {
            comPort_->UnregisterLink(&rxLink_);
        } catch (const EComPort&) {
            // Nothing to undo while being destroyed.
        }
    }
    comPort_ = nullptr;
}

// ---------------------------------------------------------------- port

void TCustomComTerminal::SetComPort(TCustomComPort* port)
{
    if (port == comPort_) return;
    // What waits was typed for the port being let go of.
    if (OutputWaiting() > 0) StopSending();
    if (comPort_ && comPort_->HasLink(&rxLink_)) comPort_->UnregisterLink(&rxLink_);
    comPort_ = port;
    if (!comPort_) return;
    comPort_->RegisterLink(&rxLink_);
    // Bytes that came while detached raise no new event: take them now, the
    // way the port hands received bytes to its links.
    if (!comPort_->Connected()) return;
    try {
        if (comPort_->InQueueCount() > 0) comPort_->HandleEvents(EventBit(evRxChar));
    } catch (const EComPort& e) {
        ReportPortError(e);
    }
}

void TCustomComTerminal::ReportPortError(const EComPort& e)
{
    if (OnPortError)
        OnPortError(this, e);
    else
        Dialogs().ErrorBox(this, e.Message(), QString());
}

bool TCustomComTerminal::Connected() const { return comPort_ && comPort_->Connected(); }

void TCustomComTerminal::SetConnected(bool v)
{
    if (comPort_) comPort_->SetConnected(v);
}

// ---------------------------------------------------------------- properties

void TCustomComTerminal::SetEmulation(TTermEmulation v) { engine_.SetEmulation(v); }

void TCustomComTerminal::SetColumns(int v)
{
    engine_.SetColumns(v);
    Sync();
}

void TCustomComTerminal::SetRows(int v)
{
    engine_.SetRows(v);
    Sync();
}

void TCustomComTerminal::SetCaret(TTermCaret v)
{
    if (v == caret_) return;
    const bool focused = hasFocus();
    if (focused) DestroyCaret();
    caret_ = v;
    if (focused) CreateCaret();
}

void TCustomComTerminal::SetSmoothScroll(bool v)
{
    smoothScroll_ = v;
    horizontalScrollBar()->setTracking(v);
    verticalScrollBar()->setTracking(v);
}

QColor TCustomComTerminal::AltColor() const { return FromRgb(engine_.AltColor()); }

void TCustomComTerminal::SetAltColor(const QColor& c) { engine_.SetAltColor(ToRgb(c)); }

void TCustomComTerminal::SetBorderStyle(TTermBorderStyle v)
{
    borderStyle_ = v;
    setFrameStyle(v == bsSingle ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
    UpdateScrollRanges();
}

void TCustomComTerminal::SetScrollBars(TTermScrollBars v)
{
    scrollBars_ = v;
    const bool h = v == ssHorizontal || v == ssBoth;
    const bool vert = v == ssVertical || v == ssBoth;
    setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(vert ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    UpdateScrollRanges();
}

void TCustomComTerminal::SetFont(const QFont& f)
{
    QFont nf = f;
    if (!IsFixedPitch(nf)) nf.setFamily(DefaultTerminalFont().family());
    nf.setUnderline(false);
    font_ = nf;
    underlineFont_ = nf;
    underlineFont_.setUnderline(true);
    engine_.SetFontColor(engine_.FontColor());  // current front colour := font colour
    MeasureFont();
    UpdateScrollRanges();
    updateGeometry();
    viewport()->update();
}

void TCustomComTerminal::FitFontToScreen(int minPixelSize)
{
    const QSize client = contentsRect().size();
    QFont f = font_;
    int px = QFontInfo(f).pixelSize();
    for (;;) {
        const QFontMetrics fm(f);
        const bool fits = Columns() * fm.horizontalAdvance(QLatin1Char('W')) <= client.width() &&
                          Rows() * fm.height() <= client.height();
        if (fits || px <= minPixelSize) break;
        f.setPixelSize(--px);
    }
    if (f != font_) SetFont(f);
}

void TCustomComTerminal::FitFontToColumns(int minPixelSize)
{
    const QSize client = contentsRect().size();
    const bool verticalBar = scrollBars_ == ssVertical || scrollBars_ == ssBoth;
    const int barWidth = verticalScrollBar()->sizeHint().width();
    QFont f = font_;
    // Twice the pixels per column is above any font that fits.
    int px = std::max(minPixelSize, 2 * client.width() / std::max(Columns(), 1));
    for (;; --px) {
        f.setPixelSize(px);
        const QFontMetrics fm(f);
        const bool rowsFit = Rows() * fm.height() <= client.height();
        const int width = client.width() - (rowsFit || !verticalBar ? 0 : barWidth);
        if (Columns() * fm.horizontalAdvance(QLatin1Char('W')) <= width || px <= minPixelSize) break;
    }
    if (f != font_) SetFont(f);
}

QColor TCustomComTerminal::FontColor() const { return FromRgb(engine_.FontColor()); }

void TCustomComTerminal::SetFontColor(const QColor& c)
{
    engine_.SetFontColor(ToRgb(c));
    viewport()->update();
}

QColor TCustomComTerminal::Color() const { return FromRgb(engine_.Color()); }

void TCustomComTerminal::SetColor(const QColor& c)
{
    engine_.SetColor(ToRgb(c));
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Window, Color());
    viewport()->setPalette(pal);
    viewport()->update();
}

void TCustomComTerminal::SetOemCharSet(bool v)
{
    oemCharSet_ = v;
    glyphs_.Forget();
    viewport()->update();
}

// ---------------------------------------------------------------- operations

void TCustomComTerminal::ShowText(const std::string& text)
{
    SyncGuard g([this] { Sync(); });
    engine_.ShowText(text);
}

void TCustomComTerminal::ShowChar(char c)
{
    SyncGuard g([this] { Sync(); });
    engine_.ShowChar(static_cast<uint8_t>(c));
}

bool TCustomComTerminal::ApplyCode(TEscapeCode code, const TParamList* params)
{
    SyncGuard g([this] { Sync(); });
    return engine_.ApplyCode(code, params);
}

void TCustomComTerminal::SendTypedChar(char c)
{
    SyncGuard g([this] { Sync(); });
    engine_.SendTypedChar(c);
}

void TCustomComTerminal::SendKeyCode(TEscapeCode code, const TParamList* params)
{
    SyncGuard g([this] { Sync(); });
    engine_.SendKeyCode(code, params);
}

void TCustomComTerminal::SendReply(TEscapeCode code, const TParamList* params)
{
    SyncGuard g([this] { Sync(); });
    engine_.SendReply(code, params);
}

void TCustomComTerminal::MoveCaret(int x, int y)
{
    engine_.MoveCaret(x, y);
    Sync();
}

void TCustomComTerminal::ReceivedData(const char* data, int count)
{
    SyncGuard g([this] { Sync(); });
    engine_.ReceivedData(data, count);
}

// ---------------------------------------------------------------- notifications

void TCustomComTerminal::NotifyChar(char c)
{
    if (OnChar) OnChar(this, c);
}

void TCustomComTerminal::NotifyParserWanted(std::unique_ptr<TEscapeCodes>& parser)
{
    if (OnGetEscapeCodes) OnGetEscapeCodes(this, parser);
}

void TCustomComTerminal::NotifyStrReceived(std::string& text)
{
    if (OnStrRecieved) OnStrRecieved(this, text);
}

void TCustomComTerminal::NotifyUnhandledCode(TEscapeCode code, const std::string& seq)
{
    if (OnUnhandledCode) OnUnhandledCode(this, code, seq);
}

// ---------------------------------------------------------------- view

QRect TCustomComTerminal::CellsToView(int x1, int y1, int x2, int y2) const
{
    const int left = (x1 - viewOrigin_.X) * cellWidth_;
    const int top = (y1 - viewOrigin_.Y) * cellHeight_;
    return QRect(left, top, (x2 - x1 + 1) * cellWidth_, (y2 - y1 + 1) * cellHeight_);
}

QRect TCustomComTerminal::CaretRect() const
{
    const TTermPoint c = engine_.CaretCell();
    const int x = (c.X - viewOrigin_.X) * cellWidth_;
    const int y = cellHeight_ * (c.Y - viewOrigin_.Y + 1) - caretPixelHeight_;
    return QRect(x, y, cellWidth_, caretPixelHeight_);
}

void TCustomComTerminal::Sync()
{
    const TTermDirty d = engine_.TakeDirty();
    const bool pushed = scrollback_.TotalPushed() != shownPushed_;
    if (pushed) {
        // New lines always bring the view to the bottom; the scroll bar
        // follows with the next repaint, not with every read.
        const int64_t lines = scrollback_.TotalPushed() - shownPushed_;
        const TTermPoint before = viewOrigin_;
        shownPushed_ = scrollback_.TotalPushed();
        rangesPending_ = true;
        viewOrigin_.Y = BottomOriginY();
        // A view of the screen alone that stays at the bottom shows the same
        // rows moved up: its picture moves, and only the rows that changed
        // are drawn again. Anything else is drawn whole.
        const int visRows = viewport()->height() / cellHeight_;
        if (viewOrigin_ == before && viewOrigin_.Y >= 1 && d.ScrolledUp == lines &&
            pendingScroll_ + lines < visRows) {
            pendingScroll_ += static_cast<int>(lines);
            pendingRepaint_.translate(0, -static_cast<int>(lines) * cellHeight_);
            pendingRepaint_ &= viewport()->rect();
            ScheduleRepaint(QRect());
        } else {
            ScheduleRepaint(viewport()->rect());
        }
    } else if (d.Any && !rangesPending_) {
        ScrollToBottom();
    }
    if (d.Any) ScheduleRepaint(CellsToView(d.X1, d.Y1, d.X2, d.Y2));
    const TTermPoint c = engine_.CaretCell();
    if (!(c == shownCaret_) && caretExists_) {
        viewport()->update(CellsToView(shownCaret_.X, shownCaret_.Y, shownCaret_.X, shownCaret_.Y));
        viewport()->update(CaretRect());
        caretVisible_ = true;  // a moved caret shows at once
        blink_.start(std::max(QApplication::cursorFlashTime() / 2, 100), this);
    }
    shownCaret_ = c;
}

void TCustomComTerminal::MeasureFont()
{
    const QFontMetrics fm(font_);
    // maxWidth() of scalable fonts counts rare wide glyphs; a cell is one
    // advance of the fixed-pitch font.
    cellWidth_ = std::max(1, fm.horizontalAdvance(QLatin1Char('W')));
    cellHeight_ = std::max(1, fm.height());
    ascent_ = fm.ascent();
    underlinePos_ = std::max(1, fm.underlinePos());
    glyphs_.Reset(font_, [this](uint8_t ch) { return QChar(TermCharToUnicode(ch, oemCharSet_)); });
    if (caretExists_) caretPixelHeight_ = caret_ == tcBlock ? cellHeight_ : std::max(1, cellHeight_ / 8);
}

void TCustomComTerminal::UpdateScrollRanges()
{
    const QSize client = viewport()->size();
    const int visCols = client.width() / cellWidth_;
    const int visRows = client.height() / cellHeight_;
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    h->setRange(0, visCols < Columns() ? Columns() - visCols : 0);
    h->setSingleStep(1);
    h->setPageStep(std::max(visCols, 1));
    // Above the screen's rows the scrollback: origin rows below 1 show it.
    const int lines = Rows() + scrollback_.Count();
    v->setRange(0, visRows < lines ? lines - visRows : 0);
    v->setSingleStep(1);
    v->setPageStep(std::max(visRows, 1));
    viewOrigin_ = {h->value() + 1, v->value() + 1 - scrollback_.Count()};
}

void TCustomComTerminal::scrollContentsBy(int, int)
{
    const TTermPoint origin{horizontalScrollBar()->value() + 1, verticalScrollBar()->value() + 1 - scrollback_.Count()};
    // The scroll bar catching up with lines that already moved the view.
    if (origin == viewOrigin_) return;
    viewOrigin_ = origin;
    ScheduleRepaint(viewport()->rect());
}

void TCustomComTerminal::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    UpdateScrollRanges();
}

QSize TCustomComTerminal::sizeHint() const
{
    const int border = 2 * frameWidth();
    return QSize(Columns() * cellWidth_ + border, Rows() * cellHeight_ + border);
}

QSize TCustomComTerminal::minimumSizeHint() const { return QSize(4 * cellWidth_, 2 * cellHeight_); }

void TCustomComTerminal::paintEvent(QPaintEvent* e)
{
    QPainter p(viewport());
    const QRect clip = e->rect();
    const QColor background = Color();
    p.fillRect(clip, background);
    p.setFont(font_);
    // A glyph may be a fraction wider than its cell: nothing is drawn past
    // the buffer's last column and row, where no repaint would clear it.
    p.setClipRect(clip & QRect(0, 0, (Columns() - viewOrigin_.X + 1) * cellWidth_,
                               (Rows() - viewOrigin_.Y + 1) * cellHeight_));

    const int firstCol = clip.left() / cellWidth_ + 1;
    const int firstRow = clip.top() / cellHeight_ + 1;
    const int lastCol = std::min(clip.right() / cellWidth_ + 1, Columns() - viewOrigin_.X + 1);
    const int lastRow = std::min(clip.bottom() / cellHeight_ + 1, Rows() - viewOrigin_.Y + 1);
    bool underline = false;
    const bool anySelected = !selection_.Empty();
    // Glyphs of one colour go out in one run at the cells' own positions:
    // no text shaping per cell, and the pitch is the cell's, whatever the
    // font's fractional advance.
    struct TRun {
        uint32_t color;
        QList<quint32> glyphs;
        QList<QPointF> positions;
    };
    std::vector<TRun> runs;
    std::vector<std::pair<QRect, uint32_t>> underlines;
    for (int vr = firstRow; vr <= lastRow; ++vr) {
        const int64_t line = scrollback_.TotalPushed() + (vr + viewOrigin_.Y - 1) - 1;
        int count = 0;
        const TTermCell* row = LineCells(line, &count);
        if (!row) continue;
        for (int vc = firstCol; vc <= lastCol; ++vc) {
            const int col = vc + viewOrigin_.X - 1;
            const bool selected = anySelected && selection_.Contains(line, col);
            if (col > count && !selected) continue;
            TTermCell cell = col <= count ? row[col - 1] : TTermCell{};
            const QRect r((vc - 1) * cellWidth_, (vr - 1) * cellHeight_, cellWidth_, cellHeight_);
            if (selected) {
                // Selected cells show inverted; empty ones in the text colour.
                const uint32_t front = cell.Ch ? cell.FrontColor : engine_.FontColor();
                const uint32_t back = cell.Ch ? cell.BackColor : engine_.Color();
                cell.FrontColor = back;
                cell.BackColor = front;
                if (cell.Ch == 0) cell.Ch = ' ';
            }
            if (cell.Ch == 0) continue;
            if ((cell.BackColor & 0xFFFFFF) != (background.rgb() & 0xFFFFFF)) p.fillRect(r, FromRgb(cell.BackColor));
            if (cell.Ch == ' ' && !cell.Underline) continue;
            const quint32 glyph = cell.Ch == ' ' ? 0 : glyphs_.Glyph(cell.Ch);
            if (glyph != 0) {
                auto run = std::find_if(runs.begin(), runs.end(), [&](const TRun& x) { return x.color == cell.FrontColor; });
                if (run == runs.end()) run = runs.insert(runs.end(), TRun{cell.FrontColor, {}, {}});
                run->glyphs.append(glyph);
                run->positions.append(QPointF(r.left(), r.top() + ascent_));
                if (cell.Underline) underlines.emplace_back(r, cell.FrontColor);
                continue;
            }
            if (bool(cell.Underline) != underline) {
                underline = cell.Underline;
                p.setFont(underline ? underlineFont_ : font_);
            }
            p.setPen(FromRgb(cell.FrontColor));
            p.drawText(r.left(), r.top() + ascent_, QString(QChar(TermCharToUnicode(cell.Ch, oemCharSet_))));
        }
    }
    for (const TRun& run : runs) {
        QGlyphRun g;
        g.setRawFont(glyphs_.Raw());
        g.setGlyphIndexes(run.glyphs);
        g.setPositions(run.positions);
        p.setPen(FromRgb(run.color));
        p.drawGlyphRun(QPointF(0, 0), g);
    }
    for (const auto& [r, color] : underlines)
        p.fillRect(QRect(r.left(), r.top() + std::min(ascent_ + underlinePos_, cellHeight_ - 1), r.width(), 1),
                   FromRgb(color));

    if (caretExists_ && caretVisible_ && hasFocus()) {
        const QRect cr = CaretRect();
        if (cr.intersects(clip)) {
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            p.fillRect(cr, Qt::white);
            paintedCaret_ = cr;
        }
    }
}

// ---------------------------------------------------------------- caret and focus

void TCustomComTerminal::CreateCaret()
{
    if (caret_ == tcNone) return;
    caretExists_ = true;
    caretPixelHeight_ = caret_ == tcBlock ? cellHeight_ : std::max(1, cellHeight_ / 8);
    caretVisible_ = true;
    shownCaret_ = engine_.CaretCell();
    blink_.start(std::max(QApplication::cursorFlashTime() / 2, 100), this);
    viewport()->update(CellsToView(shownCaret_.X, shownCaret_.Y, shownCaret_.X, shownCaret_.Y));
}

void TCustomComTerminal::DestroyCaret()
{
    if (!caretExists_) return;
    viewport()->update(CellsToView(shownCaret_.X, shownCaret_.Y, shownCaret_.X, shownCaret_.Y));
    caretExists_ = false;
    blink_.stop();
}

void TCustomComTerminal::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == pasteTimer_.timerId()) {
        SendPasteSlice();
        return;
    }
    if (e->timerId() == outTimer_.timerId()) {
        outTimer_.stop();
        FlushOutput();
        return;
    }
    if (e->timerId() == repaintTimer_.timerId()) {
        FlushRepaint(false);
        return;
    }
    if (e->timerId() == rangesTimer_.timerId()) {
        rangesTimer_.stop();
        if (rangesPending_) FlushRepaint();
        return;
    }
    if (e->timerId() != blink_.timerId()) {
        QAbstractScrollArea::timerEvent(e);
        return;
    }
    caretVisible_ = !caretVisible_;
    viewport()->update(CaretRect());
}

void TCustomComTerminal::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    exitDeferred_ = false;
    CreateCaret();
    if (OnEnter) OnEnter(this);
}

void TCustomComTerminal::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    DestroyCaret();
    // Another window became active or a menu opened: the terminal is still
    // its window's focus control and keeps the port.
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) {
        exitDeferred_ = true;
        return;
    }
    exitDeferred_ = false;
    if (OnExit) OnExit(this);
}

void TCustomComTerminal::ExitIfFocusGone()
{
    if (!exitDeferred_ || (isVisible() && window()->focusWidget() == this)) return;
    exitDeferred_ = false;
    if (OnExit) OnExit(this);
}

bool TCustomComTerminal::event(QEvent* e)
{
    // The focus may have moved while the window was inactive.
    if (e->type() == QEvent::WindowActivate) ExitIfFocusGone();
    return QAbstractScrollArea::event(e);
}

void TCustomComTerminal::hideEvent(QHideEvent* e)
{
    QAbstractScrollArea::hideEvent(e);
    ExitIfFocusGone();
}

void TCustomComTerminal::wheelEvent(QWheelEvent* e)
{
    if (rangesPending_) FlushRepaint();
    QAbstractScrollArea::wheelEvent(e);
}

void TCustomComTerminal::mousePressEvent(QMouseEvent* e)
{
    setFocus(Qt::MouseFocusReason);
    if (rangesPending_) FlushRepaint();
    if (e->button() == Qt::LeftButton) {
        selection_.Start(TextPosAt(e->position().toPoint()));
        selecting_ = true;
        viewport()->update();
    } else if (e->button() == Qt::MiddleButton) {
        PasteClipboard(true);
    }
    QAbstractScrollArea::mousePressEvent(e);
}

void TCustomComTerminal::mouseMoveEvent(QMouseEvent* e)
{
    if (selecting_ && (e->buttons() & Qt::LeftButton)) {
        // Dragging past the top or bottom edge scrolls on through the lines.
        const int y = e->position().toPoint().y();
        if (y < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        if (y >= viewport()->height()) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        selection_.Extend(TextPosAt(e->position().toPoint()));
        viewport()->update();
    }
    QAbstractScrollArea::mouseMoveEvent(e);
}

void TCustomComTerminal::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && selecting_) {
        selecting_ = false;
        selection_.Extend(TextPosAt(e->position().toPoint()));
        viewport()->update();
        QClipboard* cb = QGuiApplication::clipboard();
        if (!selection_.Empty() && cb->supportsSelection()) cb->setText(SelectedText(), QClipboard::Selection);
    }
    QAbstractScrollArea::mouseReleaseEvent(e);
}

void TCustomComTerminal::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("Copy"), QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    copy->setEnabled(!selection_.Empty());
    QAction* paste = menu.addAction(QStringLiteral("Paste"), QKeySequence(QStringLiteral("Ctrl+Shift+V")));
    paste->setEnabled(isEnabled());
    menu.addSeparator();
    QAction* save = menu.addAction(QStringLiteral("Save Terminal Text…"));
    QAction* chosen = menu.exec(e->globalPos());
    if (chosen == copy)
        CopySelection();
    else if (chosen == paste)
        PasteClipboard(false);
    else if (chosen == save)
        SaveTerminalText();
}

void TCustomComTerminal::ScheduleRepaint(const QRect& r)
{
    pendingRepaint_ |= r;
    if (flushing_ || repaintTimer_.isActive()) return;
    if (!lastRepaint_.isValid() || lastRepaint_.elapsed() >= RepaintMs) {
        FlushRepaint(false);
        return;
    }
    repaintTimer_.start(RepaintMs - static_cast<int>(lastRepaint_.elapsed()), this);
}

void TCustomComTerminal::FlushRepaint(bool rangesNow)
{
    repaintTimer_.stop();
    flushing_ = true;
    // While lines stream in, the scroll bar catches up a few times a second
    // (every change of its range repaints it); at once when the user reaches
    // for it or the keys.
    if (rangesPending_ && !rangesNow && lastRanges_.isValid() && lastRanges_.elapsed() < RangesMs) {
        if (!rangesTimer_.isActive()) rangesTimer_.start(RangesMs - static_cast<int>(lastRanges_.elapsed()), this);
    } else if (rangesPending_) {
        rangesPending_ = false;
        rangesTimer_.stop();
        lastRanges_.start();
        const TTermPoint origin = viewOrigin_;
        const QRect pending = pendingRepaint_;
        UpdateScrollRanges();
        ScrollToBottom();
        // The bars only caught up with a view that already moved with its
        // lines: what the view shows did not change on the way.
        if (viewOrigin_ == origin) pendingRepaint_ = pending;
    }
    flushing_ = false;
    if (pendingScroll_ > 0) {
        const QRect all = viewport()->rect();
        if (!pendingRepaint_.contains(all)) {
            // The whole rows move; the exposed rows, a part row below them and
            // the caret that was drawn into the picture are drawn again.
            const int dy = pendingScroll_ * cellHeight_;
            const int rowsBottom = (all.height() / cellHeight_) * cellHeight_;
            viewport()->scroll(0, -dy, QRect(0, 0, all.width(), rowsBottom));
            pendingRepaint_ |= QRect(0, rowsBottom - dy, all.width(), all.height() - (rowsBottom - dy));
            if (!paintedCaret_.isEmpty()) pendingRepaint_ |= paintedCaret_.translated(0, -dy) | CaretRect();
        }
        pendingScroll_ = 0;
    }
    viewport()->update(pendingRepaint_);
    pendingRepaint_ = QRect();
    lastRepaint_.start();
}

int TCustomComTerminal::BottomOriginY() const
{
    const int visRows = viewport()->height() / cellHeight_;
    const int lines = Rows() + scrollback_.Count();
    const int maximum = visRows < lines ? lines - visRows : 0;
    return std::min(maximum, scrollback_.Count()) + 1 - scrollback_.Count();
}

// ---------------------------------------------------------------- scrollback, selection, paste

const TTermCell* TCustomComTerminal::LineCells(int64_t n, int* count) const
{
    const int64_t screenRow = n - scrollback_.TotalPushed() + 1;
    if (screenRow >= 1) {
        if (screenRow > Rows()) return nullptr;
        *count = Columns();
        return engine_.Buffer().Row(static_cast<int>(screenRow));
    }
    const std::vector<TTermCell>* line = scrollback_.ByNumber(n);
    if (!line) return nullptr;
    *count = static_cast<int>(line->size());
    return line->data();
}

TTermLineSource TCustomComTerminal::LineSource() const
{
    return [this](int64_t n, int* count) { return LineCells(n, count); };
}

QString TCustomComTerminal::ToText(const std::string& bytes) const
{
    QString s;
    s.reserve(static_cast<qsizetype>(bytes.size()));
    for (char c : bytes)
        s += c == '\n' ? QChar(u'\n') : QChar(TermCharToUnicode(static_cast<uint8_t>(c), oemCharSet_));
    return s;
}

TTermTextPos TCustomComTerminal::TextPosAt(const QPoint& p) const
{
    const int col = std::clamp((p.x() + cellWidth_ / 2) / cellWidth_ + viewOrigin_.X, 1, Columns() + 1);
    const int viewRow = p.y() < 0 ? -((-p.y() + cellHeight_ - 1) / cellHeight_) : p.y() / cellHeight_;
    const int64_t first = scrollback_.TotalPushed() - scrollback_.Count();
    const int64_t last = scrollback_.TotalPushed() + Rows() - 1;
    const int64_t line = scrollback_.TotalPushed() + viewRow + viewOrigin_.Y - 1;
    if (line < first) return {first, 1};
    if (line > last) return {last, Columns() + 1};
    return {line, col};
}

void TCustomComTerminal::ScrollToBottom()
{
    if (rangesPending_ && !flushing_) {
        FlushRepaint();
        return;
    }
    QScrollBar* v = verticalScrollBar();
    const int bottom = std::min(v->maximum(), scrollback_.Count());
    if (v->value() != bottom) v->setValue(bottom);
}

QString TCustomComTerminal::SelectedText() const { return ToText(selection_.Text(LineSource())); }

void TCustomComTerminal::CopySelection()
{
    if (selection_.Empty()) return;
    QGuiApplication::clipboard()->setText(SelectedText(), QClipboard::Clipboard);
}

void TCustomComTerminal::PasteText(const QString& text)
{
    std::u16string units;
    for (QChar ch : text) {
        // Shown characters of the PC set go back as their byte.
        char16_t u = ch.unicode();
        if (oemCharSet_ && u > 0x7F)
            for (int b = 0x80; b <= 0xFF; ++b)
                if (OemToUnicode(static_cast<uint8_t>(b)) == u) {
                    u = static_cast<char16_t>(b);
                    break;
                }
        units.push_back(u);
    }
    const bool wasWaiting = OutputWaiting() > 0;
    paste_.Add(units);
    if (paste_.Pending() && !pasteTimer_.isActive()) pasteTimer_.start(0, this);
    NotifyOutput(held_, wasWaiting);
}

void TCustomComTerminal::PasteClipboard(bool selection)
{
    QClipboard* cb = QGuiApplication::clipboard();
    const bool useSelection = selection && cb->supportsSelection();
    PasteText(cb->text(useSelection ? QClipboard::Selection : QClipboard::Clipboard));
}

void TCustomComTerminal::SendPasteSlice()
{
    // A bounded slice per turn of the event loop, and nothing more while
    // the driver still holds a slice's worth: a slow line never blocks the
    // window in a write.
    constexpr int kQueueLimit = static_cast<int>(TTermPaste::SliceBytes);
    constexpr int kWaitMs = 10;
    if (!paste_.Pending() || !Connected() || !engine_.CanSend || !engine_.CanSend()) {
        // The terminal let go of the port: the rest has nowhere to go.
        paste_.Cancel();
        pasteTimer_.stop();
        return;
    }
    // The output queue writes; the paste feeds it a slice once it has room.
    if (held_ || out_.size() >= TTermPaste::SliceBytes) {
        pasteTimer_.start(held_ ? 50 : kWaitMs, this);
        return;
    }
    try {
        if (comPort_->OutQueueCount() > kQueueLimit) {
            pasteTimer_.start(kWaitMs, this);
            return;
        }
        SyncGuard g([this] { Sync(); });
        batching_ = true;
        for (char c : paste_.Take()) engine_.SendTypedChar(c);
        batching_ = false;
    } catch (const EComPort& ex) {
        batching_ = false;
        paste_.Cancel();
        pasteTimer_.stop();
        ReportPortError(ex);
        return;
    }
    if (!outTimer_.isActive()) FlushOutput();
    if (paste_.Pending())
        pasteTimer_.start(1, this);
    else
        pasteTimer_.stop();
}

void TCustomComTerminal::FlushOutput()
{
    // While flow control holds the line, look again every kHeldLookMs: a
    // modem-status query, never a write that would wait for the line.
    constexpr int kHeldLookMs = 50;
    constexpr int kQueueWaitMs = 10;
    constexpr int kQueueLimit = static_cast<int>(TTermPaste::SliceBytes);
    const bool wasHeld = held_, wasWaiting = OutputWaiting() > 0;
    if (out_.empty() || !Connected()) {
        out_.clear();
        held_ = false;
        NotifyOutput(wasHeld, wasWaiting);
        return;
    }
    try {
        held_ = (comPort_->CommStatusFlags() & (cs::CtsHold | cs::DsrHold)) != 0;
        if (held_ || comPort_->OutQueueCount() > kQueueLimit) {
            outTimer_.start(held_ ? kHeldLookMs : kQueueWaitMs, this);
            NotifyOutput(wasHeld, wasWaiting);
            return;
        }
        const std::size_t n = std::min(out_.size(), TTermPaste::SliceBytes);
        const QByteArray slice(out_.data(), static_cast<qsizetype>(n));
        out_.erase(0, n);
        comPort_->WriteText(slice);
    } catch (const EComPort& ex) {
        out_.clear();
        paste_.Cancel();
        pasteTimer_.stop();
        held_ = false;
        NotifyOutput(wasHeld, wasWaiting);
        ReportPortError(ex);
        return;
    }
    if (!out_.empty()) outTimer_.start(1, this);
    NotifyOutput(wasHeld, wasWaiting);
}

void TCustomComTerminal::NotifyOutput(bool wasHeld, bool wasWaiting)
{
    // Each change of the state, and the count while held (a few times a second).
    if (OnOutputChange && (held_ != wasHeld || (OutputWaiting() > 0) != wasWaiting || held_)) OnOutputChange(this);
}

void TCustomComTerminal::StopSending()
{
    const bool wasHeld = held_, wasWaiting = OutputWaiting() > 0;
    paste_.Cancel();
    pasteTimer_.stop();
    out_.clear();
    outTimer_.stop();
    held_ = false;
    NotifyOutput(wasHeld, wasWaiting);
}

QString TCustomComTerminal::AllText() const
{
    const int64_t first = scrollback_.TotalPushed() - scrollback_.Count();
    return ToText(TermLinesText(LineSource(), first, scrollback_.TotalPushed() + Rows() - 1));
}

void TCustomComTerminal::SaveTerminalText()
{
    const QString path = Dialogs().SaveFileName(this, QStringLiteral("Save Terminal Text"),
                                                QStringLiteral("Text (*.txt);;All files (*)"), QStringLiteral("txt"));
    if (path.isEmpty()) return;
    const QByteArray content = AllText().toUtf8();
    // Written beside the target and renamed over it when complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        Dialogs().MessageBox(this, QStringLiteral("Could not save \"%1\": %2").arg(path, file.errorString()),
                             QStringLiteral("Save Terminal Text"), mb::Ok | mb::IconExclamation);
}

bool TCustomComTerminal::focusNextPrevChild(bool next)
{
    if (wantTab_) return false;  // Tab goes to the terminal as a character
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void TCustomComTerminal::keyPressEvent(QKeyEvent* e)
{
    // An event handler must not let an exception into the event loop: a port
    // failure here ends in the application's error box instead.
    try {
        const Qt::KeyboardModifiers mods =
            e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && e->key() == Qt::Key_C) {
            CopySelection();
            e->accept();
            return;
        }
        if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && e->key() == Qt::Key_V) {
            PasteClipboard(false);
            e->accept();
            return;
        }
        if (mods == Qt::ShiftModifier && (e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown)) {
            if (rangesPending_) FlushRepaint();
            verticalScrollBar()->triggerAction(e->key() == Qt::Key_PageUp ? QAbstractSlider::SliderPageStepSub
                                                                           : QAbstractSlider::SliderPageStepAdd);
            e->accept();
            return;
        }
        SyncGuard g([this] { Sync(); });
        switch (e->key()) {
        case Qt::Key_Home: engine_.KeyDown(tkHome); return;
        case Qt::Key_Left: engine_.KeyDown(tkLeft); return;
        case Qt::Key_Up: engine_.KeyDown(tkUp); return;
        case Qt::Key_Right: engine_.KeyDown(tkRight); return;
        case Qt::Key_Down: engine_.KeyDown(tkDown); return;
        default: break;
        }
        QString text = e->text();
        // Ctrl+letter is the control character, whatever text the platform attached.
        if ((e->modifiers() & Qt::ControlModifier) && !(e->modifiers() & Qt::AltModifier) &&
            e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
            text = QChar(e->key() - Qt::Key_A + 1);
        if (text.isEmpty() && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) text = QChar('\r');
        if (text.isEmpty()) {
            QAbstractScrollArea::keyPressEvent(e);
            return;
        }
        for (QChar ch : text) {
            if (ch.unicode() > 0xFF) continue;  // no 8-bit code for it
            engine_.SendTypedChar(static_cast<char>(ch.unicode()));
        }
        e->accept();
    } catch (const EComPort& ex) {
        ReportPortError(ex);
    }
}
