#include "app/history_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimeZone>
#include <QTimer>
#include <QVBoxLayout>

#include "common/atomic_file.h"
#include "common/ui/dialogs.h"
#include "record/history_model.h"
#include "record/history_query.h"
#include "record/production_record.h"
#include "record/record_location.h"
#include "record/record_writer.h"

namespace {

// Failed rows stand out: a tinted row, the outcome in bold.
class TOutcomeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!index.data(THistoryModel::FailedRole).toBool()) return;
        option->backgroundBrush = QColor(255, 218, 218);
        option->palette.setColor(QPalette::Text, QColor(140, 0, 0));
        if (index.column() == THistoryModel::Outcome) option->font.setBold(true);
    }
};

}  // namespace

THistoryWindow::THistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window), model_(new THistoryModel(this))
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("History"));
    resize(1000, 560);

    // The time column is UTC: so are the days the dates pick.
    const QDate today = QDateTime::currentDateTimeUtc().date();
    FromCheck = new QCheckBox(QStringLiteral("From"), this);
    FromDate = new QDateEdit(today, this);
    ToCheck = new QCheckBox(QStringLiteral("To"), this);
    ToDate = new QDateEdit(today, this);
    for (QDateEdit* d : {FromDate, ToDate}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setToolTip(QStringLiteral("A day in UTC, as the Time (UTC) column"));
    }
    FromDate->setAccessibleName(QStringLiteral("From day (UTC)"));
    ToDate->setAccessibleName(QStringLiteral("To day (UTC)"));
    OutcomeFilter = new QComboBox(this);
    OutcomeFilter->addItems({QStringLiteral("All outcomes"), QStringLiteral("OK"), QStringLiteral("Failed")});
    StationFilter = new QComboBox(this);
    StationFilter->addItem(QStringLiteral("All stations"));
    SearchText = new QLineEdit(this);
    SearchText->setPlaceholderText(QStringLiteral("Search"));
    SearchText->setClearButtonEnabled(true);
    ReloadButton = new QPushButton(QStringLiteral("Reload"), this);
    ExportButton = new QPushButton(QStringLiteral("Export CSV…"), this);

    HistoryTable = new QTableView(this);
    HistoryTable->setModel(model_);
    HistoryTable->setItemDelegate(new TOutcomeDelegate(HistoryTable));
    HistoryTable->setSortingEnabled(true);
    HistoryTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    HistoryTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    HistoryTable->verticalHeader()->setVisible(false);
    // Fixed row heights: the view never measures the rows.
    HistoryTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    HistoryTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    HistoryTable->horizontalHeader()->setSortIndicator(THistoryModel::Time, Qt::DescendingOrder);
    // Widths from the font, not from the rows' contents.
    auto width = [this](const char* sample) { return fontMetrics().horizontalAdvance(QLatin1String(sample)) + 24; };
    HistoryTable->setColumnWidth(THistoryModel::Time, width("0000-00-00 00:00:00"));
    HistoryTable->setColumnWidth(THistoryModel::Outcome, width("Outcome") + 12);
    HistoryTable->setColumnWidth(THistoryModel::Operation, width("program-config"));
    HistoryTable->setColumnWidth(THistoryModel::Port, width("/dev/ttyUSB00"));
    HistoryTable->setColumnWidth(THistoryModel::UnitAddress, width("Unit address"));
    HistoryTable->setColumnWidth(THistoryModel::Error, width("no answer after the handshake"));

    RecordLocation = new QLineEdit(this);
    RecordLocation->setPlaceholderText(QStringLiteral("postgresql://user@host/tarnwick — empty: this computer's record"));
    location_ = SavedRecordLocation();
    RecordLocation->setText(LocationWithoutPassword(location_));
    ApplyLocation = new QPushButton(QStringLiteral("Use"), this);
    Status = new QLabel(this);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setVisible(false);

    auto* filters = new QHBoxLayout;
    filters->addWidget(FromCheck);
    filters->addWidget(FromDate);
    filters->addWidget(ToCheck);
    filters->addWidget(ToDate);
    filters->addWidget(OutcomeFilter);
    filters->addWidget(StationFilter);
    filters->addWidget(SearchText, 1);
    filters->addWidget(ReloadButton);
    filters->addWidget(ExportButton);
    auto* where = new QHBoxLayout;
    where->addWidget(new QLabel(QStringLiteral("Record:"), this));
    where->addWidget(RecordLocation, 1);
    where->addWidget(ApplyLocation);
    auto* status = new QHBoxLayout;
    status->addWidget(Status, 1);
    status->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(HistoryTable, 1);
    layout->addLayout(where);
    layout->addLayout(status);

    // Typing asks the database once it pauses, not at every key.
    searchPause_ = new QTimer(this);
    searchPause_->setSingleShot(true);
    searchPause_->setInterval(250);
    connect(searchPause_, &QTimer::timeout, this, [this] { ApplyFilter(); });
    connect(SearchText, &QLineEdit::textChanged, searchPause_, qOverload<>(&QTimer::start));
    connect(FromCheck, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    connect(ToCheck, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    connect(FromDate, &QDateEdit::dateChanged, this, [this] { if (FromCheck->isChecked()) ApplyFilter(); });
    connect(ToDate, &QDateEdit::dateChanged, this, [this] { if (ToCheck->isChecked()) ApplyFilter(); });
    connect(OutcomeFilter, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(StationFilter, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(ReloadButton, &QPushButton::clicked, this, [this] { Reload(); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { ExportClick(); });
    connect(ApplyLocation, &QPushButton::clicked, this, [this] { ApplyLocationClick(); });
    connect(CancelButton, &QPushButton::clicked, model_, &THistoryModel::Cancel);
    connect(model_, &THistoryModel::StatusChanged, this, [this] {
        UpdateStations();
        UpdateStatus();
    });
    connect(model_, &THistoryModel::Exported, this, [this](bool ok, const QString& message) {
        ExportButton->setEnabled(true);
        if (!ok) {
            exportNote_.clear();
            Dialogs().MessageBox(this, message, QStringLiteral("Export CSV"), mb::Ok | mb::IconError);
        } else {
            exportNote_ = message;
        }
        UpdateStatus();
    });
    model_->SetFilter(Filter());
    model_->SetLocation(location_);
    UpdateStatus();
}

void THistoryWindow::Reload()
{
    exportNote_.clear();
    model_->Reload();
    UpdateStatus();
}

THistoryFilter THistoryWindow::Filter() const
{
    THistoryFilter f;
    if (FromCheck->isChecked()) f.from = QDateTime(FromDate->date(), QTime(0, 0), QTimeZone::utc());
    if (ToCheck->isChecked()) f.to = QDateTime(ToDate->date().addDays(1), QTime(0, 0), QTimeZone::utc());
    f.outcome = OutcomeFilter->currentIndex();
    if (StationFilter->currentIndex() > 0) f.station = StationFilter->currentText();
    f.text = SearchText->text().trimmed();
    return f;
}

void THistoryWindow::ApplyFilter()
{
    searchPause_->stop();
    exportNote_.clear();
    model_->SetFilter(Filter());
    UpdateStatus();
}

void THistoryWindow::UpdateStations()
{
    const QStringList stations = model_->Stations();
    QStringList shown;
    for (int i = 1; i < StationFilter->count(); ++i) shown << StationFilter->itemText(i);
    if (shown == stations) return;
    const QString station = StationFilter->currentIndex() > 0 ? StationFilter->currentText() : QString();
    const QSignalBlocker block(StationFilter);
    StationFilter->clear();
    StationFilter->addItem(QStringLiteral("All stations"));
    StationFilter->addItems(stations);
    // A station chosen stays chosen while the list fills.
    if (!station.isEmpty() && !stations.contains(station)) StationFilter->addItem(station);
    StationFilter->setCurrentIndex(std::max(0, StationFilter->findText(station)));
}

void THistoryWindow::UpdateStatus()
{
    const QString where = location_.isEmpty() ? TProductionRecord::DefaultLocalPath() : LocationWithoutPassword(location_);
    const THistoryModel& m = *model_;
    CancelButton->setVisible(m.CurrentState() != THistoryModel::State::Idle);
    QString text;
    switch (m.CurrentState()) {
    case THistoryModel::State::Connecting: text = QStringLiteral("connecting… to %1").arg(where); break;
    case THistoryModel::State::Reading: text = QStringLiteral("reading %1…").arg(where); break;
    case THistoryModel::State::Idle:
        if (m.LoadError() == QLatin1String("cancelled"))
            text = QStringLiteral("Stopped waiting for %1 — Reload to try again").arg(where);
        else if (!m.LoadError().isEmpty())
            text = QStringLiteral("The record cannot be read: %1").arg(m.LoadError());
        else if (m.MatchingRows() < 0)
            text = QStringLiteral("%1 rows shown, counting… — %2").arg(m.rowCount()).arg(where);
        else
            text = QStringLiteral("%1 rows — %2").arg(m.MatchingRows()).arg(where);
        break;
    }
    // Rows the record could not take yet: the station must know.
    if (m.WaitingRows() > 0)
        text += QStringLiteral(" — %1 row(s) wait on this computer to be stored in it").arg(m.WaitingRows());
    if (!exportNote_.isEmpty()) text += QStringLiteral(" — ") + exportNote_;
    Status->setText(text);
}

void THistoryWindow::ExportClick()
{
    const QString path = Dialogs().SaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("CSV files (*.csv)"),
                                                QStringLiteral("csv"));
    if (path.isEmpty()) return;
    // The rows the table shows, in its order, read again in full.
    ExportButton->setEnabled(false);
    model_->ExportCsv(path, [](const QString& p, const QByteArray& bytes, QString* error) {
        return WritePrivateFileAtomically(p, bytes, error);
    });
}

void THistoryWindow::ApplyLocationClick()
{
    QString location = RecordLocation->text().trimmed();
    // The field shows the URL without its password: unchanged, it still means the one in use.
    if (location == LocationWithoutPassword(location_)) location = location_;
    if (!location.isEmpty() && !TProductionRecord::IsSharedLocation(location)) {
        Dialogs().MessageBox(this, QStringLiteral("The shared record is a URL starting with postgresql://"),
                             QStringLiteral("History"), mb::Ok | mb::IconExclamation);
        return;
    }
    QString error;
    if (!SaveRecordLocation(location, &error))
        Dialogs().MessageBox(this, error, QStringLiteral("History"), mb::Ok | mb::IconError);
    location_ = location;
    RecordLocation->setText(LocationWithoutPassword(location_));
    TRecordWriter::SetLocation(location_);
    exportNote_.clear();
    model_->SetLocation(location_);
    UpdateStatus();
}

void THistoryWindow::showEvent(QShowEvent* event)
{
    model_->SetLiveInterval(2000);
    QWidget::showEvent(event);
}

void THistoryWindow::hideEvent(QHideEvent* event)
{
    model_->SetLiveInterval(0);
    QWidget::hideEvent(event);
}
