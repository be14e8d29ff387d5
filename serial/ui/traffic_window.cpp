#include "serial/ui/traffic_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "common/atomic_file.h"
#include "common/ui/dialogs.h"
#include "serial/ui/traffic_line_delegate.h"
#include "serial/ui/traffic_model.h"

TTrafficWindow::TTrafficWindow(TTrafficLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), model_(new TTrafficModel(log, this))
{
    setObjectName(QStringLiteral("TrafficWindow"));
    setWindowTitle(QStringLiteral("Traffic"));
    // Closing the main window ends the program even while this one shows.
    setAttribute(Qt::WA_QuitOnClose, false);

    TrafficFilter = new QComboBox(this);
    TrafficFilter->setObjectName(QStringLiteral("TrafficFilter"));
    TrafficFilter->addItems({QStringLiteral("Sent and received"), QStringLiteral("Sent only"),
                             QStringLiteral("Received only")});
    TrafficFilter->setAccessibleName(QStringLiteral("Directions shown"));
    TrafficClear = new QPushButton(QStringLiteral("Clear"), this);
    TrafficClear->setObjectName(QStringLiteral("TrafficClear"));
    TrafficSave = new QPushButton(QStringLiteral("Save…"), this);
    TrafficSave->setObjectName(QStringLiteral("TrafficSave"));
    TrafficLogToFile = new QCheckBox(QStringLiteral("Log to file"), this);
    TrafficLogToFile->setObjectName(QStringLiteral("TrafficLogToFile"));
    TrafficStatus = new QLabel(this);
    TrafficStatus->setObjectName(QStringLiteral("TrafficStatus"));
    // Program Config and Read Config carry the encryption key over the line.
    TrafficNotice = new QLabel(QStringLiteral("The log holds what went over the line, an encryption key included; "
                                              "saved and logged files are readable by you only."),
                               this);
    TrafficNotice->setObjectName(QStringLiteral("TrafficNotice"));
    TrafficNotice->setWordWrap(true);

    TrafficList = new QListView(this);
    TrafficList->setObjectName(QStringLiteral("TrafficList"));
    TrafficList->setAccessibleName(QStringLiteral("Traffic lines"));
    TrafficList->setModel(model_);
    TrafficList->setUniformItemSizes(true);
    TrafficList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    TrafficList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    TrafficList->setFont(mono);
    TrafficList->setItemDelegate(new TTrafficLineDelegate(mono, TrafficList));

    auto* top = new QHBoxLayout;
    top->addWidget(TrafficFilter);
    top->addWidget(TrafficClear);
    top->addWidget(TrafficSave);
    top->addWidget(TrafficLogToFile);
    top->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(TrafficNotice);
    layout->addWidget(TrafficList, 1);
    layout->addWidget(TrafficStatus);

    const int lineWidth = QFontMetrics(mono).horizontalAdvance(QString(100, QLatin1Char('0')));
    resize(lineWidth + 40, 420);

    connect(TrafficFilter, &QComboBox::currentIndexChanged, this, [this](int i) { TrafficFilterChange(i); });
    connect(TrafficClear, &QPushButton::clicked, this, [this] { TrafficClearClick(); });
    connect(TrafficSave, &QPushButton::clicked, this, [this] { TrafficSaveClick(); });
    connect(TrafficLogToFile, &QCheckBox::clicked, this, [this](bool on) { TrafficLogToFileClick(on); });
    fileLog_.OnFailed = [this](const QString& error) {
        // Told from inside the port's write or read: answer after it.
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                TrafficLogToFile->setChecked(false);
                fileLog_.Stop();
                UpdateStatus();
                Dialogs().MessageBox(this, QStringLiteral("Writing the traffic log file failed: %1").arg(error),
                                     QStringLiteral("Traffic"), mb::Ok | mb::IconExclamation);
            },
            Qt::QueuedConnection);
    };
    UpdateStatus();
}

TTrafficWindow::~TTrafficWindow()
{
    fileLog_.OnFailed = nullptr;
    fileLog_.Stop();
}

void TTrafficWindow::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    Refresh();
    TrafficList->scrollToBottom();
    timer_.start(RefreshMs, this);
}

void TTrafficWindow::hideEvent(QHideEvent* e)
{
    timer_.stop();
    QWidget::hideEvent(e);
}

void TTrafficWindow::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == timer_.timerId())
        Refresh();
    else
        QWidget::timerEvent(e);
}

void TTrafficWindow::Refresh()
{
    QScrollBar* bar = TrafficList->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    if (model_->Refresh() && atEnd) TrafficList->scrollToBottom();
    // The counts change with every byte: twice a second is enough for them.
    if (!statusShown_.isValid() || statusShown_.elapsed() >= StatusMs) UpdateStatus();
}

void TTrafficWindow::UpdateStatus()
{
    QString s = model_->StatusText();
    if (fileLog_.Active()) s += QStringLiteral("; logging to %1").arg(fileLog_.Path());
    if (TrafficStatus->text() != s) TrafficStatus->setText(s);
    statusShown_.start();
}

void TTrafficWindow::TrafficFilterChange(int item)
{
    model_->SetFilter(item != 2, item != 1);
    TrafficList->scrollToBottom();
    UpdateStatus();
}

void TTrafficWindow::TrafficClearClick()
{
    model_->ClearLog();
    UpdateStatus();
}

void TTrafficWindow::TrafficSaveClick()
{
    const QString path = Dialogs().SaveFileName(this, QStringLiteral("Save Traffic"),
                                                QStringLiteral("Text (*.txt);;CSV (*.csv)"), QStringLiteral("txt"));
    if (path.isEmpty()) return;
    model_->Refresh();
    const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    const QByteArray content = csv ? model_->CsvText() : model_->LinesText();
    // Written beside the target and renamed over it: a failed save leaves
    // an older file as it was. The bytes may hold a key: owner only.
    QString error;
    if (!WritePrivateFileAtomically(path, content, &error)) {
        Dialogs().MessageBox(this, QStringLiteral("Could not save \"%1\": %2").arg(path, error),
                             QStringLiteral("Traffic"), mb::Ok | mb::IconExclamation);
    }
}

void TTrafficWindow::TrafficLogToFileClick(bool on)
{
    if (!on) {
        fileLog_.Stop();
        UpdateStatus();
        return;
    }
    const QString path = Dialogs().SaveFileName(this, QStringLiteral("Log Traffic to File"),
                                                QStringLiteral("Text (*.txt);;All files (*)"), QStringLiteral("txt"));
    QString error;
    if (path.isEmpty()) {
        TrafficLogToFile->setChecked(false);
        return;
    }
    if (!fileLog_.Start(log_, path, &error)) {
        TrafficLogToFile->setChecked(false);
        Dialogs().MessageBox(this, QStringLiteral("Could not open \"%1\": %2").arg(path, error),
                             QStringLiteral("Traffic"), mb::Ok | mb::IconExclamation);
    }
    UpdateStatus();
}
