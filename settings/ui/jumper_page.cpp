#include "settings/ui/jumper_page.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>

#include "common/ui/radio_group.h"
#include "settings/ui/jumper_artwork.h"

namespace {

TRadioGroup* MakeGroup(QWidget* parent, const char* name, const QString& caption, const QStringList& items,
                       int index, const QRect& geometry)
{
    auto* g = new TRadioGroup(caption, items, index, parent);
    g->setObjectName(QLatin1String(name));
    g->setGeometry(geometry);
    return g;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    return l;
}

}  // namespace

TJumperPage::TJumperPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("JumperSheet"));

    board_ = JumperBoardPicture();
    canvas_ = board_;
    BoardImage = new QLabel(this);
    BoardImage->setObjectName(QStringLiteral("BoardImage"));
    BoardImage->setGeometry(QRect(kBoardImagePos, kBoardImageSize));
    BoardImage->setPixmap(QPixmap::fromImage(canvas_));
    BoardImage->setAccessibleName(QStringLiteral("Dunmere 232A board"));

    FCOverlayImage = new QLabel(this);
    FCOverlayImage->setObjectName(QStringLiteral("FCOverlayImage"));
    FCOverlayImage->setGeometry(QRect(kOverlayImagePos, kOverlayImageSize));
    FCOverlayImage->setPixmap(QPixmap::fromImage(FCOverlayPicture()));
    FCOverlayImage->hide();

    MasterSlaveNote = MakeLabel(this, "MasterSlaveNote", QStringLiteral("NOTE: One Tarnwick RF module must be set to Point A"),
                                QRect(16, 336, 380, 16));
    MasterSlaveNote2 = MakeLabel(this, "MasterSlaveNote2", QStringLiteral("and the other to Point B."),
                                 QRect(16, 352, 380, 16));

    DunmereGroupBox = new QGroupBox(QStringLiteral("Dunmere 232A"), this);
    DunmereGroupBox->setObjectName(QStringLiteral("DunmereGroupBox"));
    DunmereGroupBox->setGeometry(272, 4, 376, 268);
    QWidget* box = DunmereGroupBox;

    DunmereModeGroup = MakeGroup(box, "DunmereModeGroup", QStringLiteral("Mode"),
                                 {QStringLiteral("Demo"), QStringLiteral("Cable Link"), QStringLiteral("Command"),
                                  QStringLiteral("Peripheral"), QStringLiteral("R/C"), QStringLiteral("AT Command")},
                                 dmCableLink, QRect(8, 18, 114, 110));
    DunmereRFDataRateGroup = MakeGroup(box, "DunmereRFDataRateGroup", QStringLiteral("RF Data Rate"),
                                       {QStringLiteral("76800 bps"), QStringLiteral("19200 bps"),
                                        QStringLiteral("4800 bps")},
                                       dr76800, QRect(8, 134, 114, 66));
    DunmereMasterSlaveGroup = MakeGroup(box, "DunmereMasterSlaveGroup", QStringLiteral("Point to Point"),
                                        {QStringLiteral("Point A"), QStringLiteral("Point B")}, ptPointA,
                                        QRect(8, 206, 114, 50));
    DunmereBaudRateGroup = MakeGroup(box, "DunmereBaudRateGroup", QStringLiteral("Serial Baud Rate"),
                                     {QStringLiteral("115200 baud"), QStringLiteral("57600 baud"),
                                      QStringLiteral("38400 baud"), QStringLiteral("19200 baud"),
                                      QStringLiteral("9600 baud"), QStringLiteral("2400 baud"),
                                      QStringLiteral("1200 baud"), QStringLiteral("Custom")},
                                     bd57600, QRect(126, 18, 114, 140));
    DunmereFlowControlGroup = MakeGroup(box, "DunmereFlowControlGroup", QStringLiteral("DB9 Flow Control"),
                                        {QStringLiteral("FI = 7, FO = 8"), QStringLiteral("FI = 8, FO = 7"),
                                         QStringLiteral("FI = 4, FO = 6 "), QStringLiteral("FI = 6, FO = 4")},
                                        dfFi7Fo8, QRect(244, 74, 124, 80));
    QStringList channels;
    for (int c = 0; c < 8; ++c) channels << QStringLiteral("Channel %1").arg(c);
    channels << QStringLiteral("Channel 15");
    DunmereRFChannelGroup = MakeGroup(box, "DunmereRFChannelGroup", QStringLiteral("RF Channel"), channels, 0,
                                      QRect(126, 164, 242, 96));
    DunmereRFChannelGroup->SetColumns(2);
    DunmereRS232SerialGroup = MakeGroup(box, "DunmereRS232SerialGroup", QStringLiteral("DB9 Serial"),
                                        {QStringLiteral("TX = 2, RX = 3"), QStringLiteral("TX = 3, RX = 2")},
                                        dsTx2Rx3, QRect(244, 18, 124, 50));

    LoadFromFlash = new QCheckBox(QStringLiteral("Load configuration options from internal Flash memory."), this);
    LoadFromFlash->setObjectName(QStringLiteral("LoadFromFlash"));
    LoadFromFlash->setGeometry(276, 276, 372, 20);
    SerialDefaultLabel = MakeLabel(
        this, "SerialDefaultLabel",
        QStringLiteral("Serial interface is always 8 Bit, No Parity, 1 Stop Bit using Jumper Settings"),
        QRect(276, 298, 372, 32));
    SerialDefaultLabel->setWordWrap(true);
    SerialDefaultLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(DunmereModeGroup, &TRadioGroup::Click, this, [this] { DunmereModeGroupClick(); });
    for (TRadioGroup* g : {DunmereRFDataRateGroup, DunmereBaudRateGroup, DunmereRFChannelGroup,
                           DunmereMasterSlaveGroup, DunmereRS232SerialGroup, DunmereFlowControlGroup})
        connect(g, &TRadioGroup::Click, this, [this] { JumperGroupClick(); });
    connect(LoadFromFlash, &QCheckBox::clicked, this, [this] { LoadFromFlashClick(); });

    // White shunt marks over the pictures, created once and only moved,
    // shown and hidden afterwards.
    for (int m = 0; m < kShuntMarkCount; ++m) {
        auto* mark = new QWidget(this);
        mark->setObjectName(QStringLiteral("ShuntMark%1").arg(m + 1));
        mark->setAttribute(Qt::WA_TransparentForMouseEvents);
        mark->setAutoFillBackground(true);
        QPalette pal = mark->palette();
        pal.setColor(QPalette::Window, Qt::white);
        mark->setPalette(pal);
        mark->setGeometry(ShuntMarkRect(TShuntMark(m)));
        mark->hide();
        mark->raise();
        ShuntMarks[m] = mark;
    }

    // Start in the "Cable Link" state; the main window's creation step runs
    // SetJumpers again, which redraws the same picture.
    ApplyControls(ModeControls(dmCableLink));
    SetJumpers();
}

TJumperSelections TJumperPage::Selections() const
{
    TJumperSelections s;
    s.Mode = TDunmereMode(DunmereModeGroup->ItemIndex());
    s.RFDataRate = TDunmereRFDataRate(DunmereRFDataRateGroup->ItemIndex());
    s.BaudRate = TDunmereBaudRate(DunmereBaudRateGroup->ItemIndex());
    s.RFChannel = DunmereRFChannelGroup->ItemIndex();
    s.MasterSlave = TDunmerePoint(DunmereMasterSlaveGroup->ItemIndex());
    s.RS232Serial = TDb9Serial(DunmereRS232SerialGroup->ItemIndex());
    s.FlowControl = TDb9Flow(DunmereFlowControlGroup->ItemIndex());
    s.LoadFromFlash = LoadFromFlash->isChecked();
    return s;
}

void TJumperPage::ApplyControls(const TJumperControls& c)
{
    DunmereRFDataRateGroup->setEnabled(c.RFDataRate);
    DunmereBaudRateGroup->setEnabled(c.BaudRate);
    DunmereRFChannelGroup->setEnabled(c.RFChannel);
    DunmereMasterSlaveGroup->setEnabled(c.MasterSlave);
    DunmereRS232SerialGroup->setEnabled(c.RS232Serial);
    DunmereFlowControlGroup->setEnabled(c.FlowControl);
    MasterSlaveNote->setVisible(c.PointNotes);
    MasterSlaveNote2->setVisible(c.PointNotes);
    SerialDefaultLabel->setVisible(c.SerialDefaultLabel);
    LoadFromFlash->setVisible(c.LoadFromFlash);
}

void TJumperPage::DunmereModeGroupClick()
{
    LoadFromFlash->setChecked(false);
    ApplyControls(ModeControls(Selections().Mode));
    SetJumpers();
}

void TJumperPage::JumperGroupClick() { SetJumpers(); }

void TJumperPage::LoadFromFlashClick()
{
    ApplyControls(LoadFromFlashControls(Selections().Mode, LoadFromFlash->isChecked()));
    SetJumpers();
}

void TJumperPage::SetJumpers()
{
    const TJumperDrawing d = DecideJumpers(Selections());

    for (int m = 0; m < kDb9MarkCount; ++m) ShuntMarks[m]->setVisible(d.Db9Marks[m]);
    for (int i = 0; i < kHeaderPositions; ++i) {
        const auto mark = TShuntMark(jmHeader1 + i);
        ShuntMarks[mark]->setGeometry(ShuntMarkRect(mark, d.Header[i]));
        ShuntMarks[mark]->setVisible(d.Header[i] != hsRemoved);
    }
    if (d.Overlay != ovKeep) FCOverlayImage->setVisible(d.Overlay == ovShow);

    canvas_ = board_;
    DrawSignalLabels(canvas_, d.Labels);
    BoardImage->setPixmap(QPixmap::fromImage(canvas_));
}
