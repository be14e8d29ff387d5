#include "app/history_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "common/atomic_file.h"
#include "common/ui/dialogs.h"
#include "record/history_model.h"
#include "record/production_record.h"
#include "record/record_export.h"
#include "record/record_location.h"
#include "record/record_writer.h"

THistoryWindow::THistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window), model_(new THistoryModel(this))
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("History"));
    resize(1000, 560);

    FromCheck = new QCheckBox(QStringLiteral("From"), this);
    FromDate = new QDateEdit(QDate::currentDate(), this);
    ToCheck = new QCheckBox(QStringLiteral("To"), this);
    ToDate = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* d : {FromDate, ToDate}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    OutcomeFilter = new QComboBox(this);
    OutcomeFilter->addItems({QStringLiteral("All outcomes"), QStringLiteral("OK"), QStringLiteral("Failed")});
    StationFilter = new QComboBox(this);
    SearchText = new QLineEdit(this);
    SearchText->setPlaceholderText(QStringLiteral("Search"));
    SearchText->setClearButtonEnabled(true);
    ReloadButton = new QPushButton(QStringLiteral("Reload"), this);
    ExportButton = new QPushButton(QStringLiteral("Export CSV…"), this);

    HistoryTable = new QTableView(this);
    HistoryTable->setModel(model_);
    HistoryTable->setSortingEnabled(true);
    HistoryTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    HistoryTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    HistoryTable->verticalHeader()->setVisible(false);
    // Fixed row heights: the view never measures 100,000 rows.
    HistoryTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    HistoryTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    HistoryTable->horizontalHeader()->setSortIndicator(THistoryModel::Time, Qt::DescendingOrder);
    // Widths from the font, not from 100,000 rows' contents.
    HistoryTable->setColumnWidth(THistoryModel::Time, fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 24);

    RecordLocation = new QLineEdit(this);
    RecordLocation->setPlaceholderText(QStringLiteral("postgresql://user@host/tarnwick — empty: this computer's record"));
    location_ = SavedRecordLocation();
    RecordLocation->setText(location_);
    ApplyLocation = new QPushButton(QStringLiteral("Use"), this);
    Status = new QLabel(this);

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
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(HistoryTable, 1);
    layout->addLayout(where);
    layout->addWidget(Status);

    connect(FromCheck, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    connect(ToCheck, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    connect(FromDate, &QDateEdit::dateChanged, this, [this] { if (FromCheck->isChecked()) ApplyFilter(); });
    connect(ToDate, &QDateEdit::dateChanged, this, [this] { if (ToCheck->isChecked()) ApplyFilter(); });
    connect(OutcomeFilter, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(StationFilter, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(SearchText, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(ReloadButton, &QPushButton::clicked, this, [this] { Reload(); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { ExportClick(); });
    connect(ApplyLocation, &QPushButton::clicked, this, [this] { ApplyLocationClick(); });
    Reload();
}

bool THistoryWindow::Reload()
{
    TRecordEntries rows;
    loadError_.clear();
    {
        TProductionRecord record(location_);
        if (!record.Select({}, &rows, &loadError_)) rows.clear();
        pending_ = record.IsShared() ? std::max(0, record.PendingCount()) : 0;
    }
    model_->SetRows(std::move(rows));
    const QString station = StationFilter->currentIndex() > 0 ? StationFilter->currentText() : QString();
    {
        const QSignalBlocker block(StationFilter);
        StationFilter->clear();
        StationFilter->addItem(QStringLiteral("All stations"));
        StationFilter->addItems(model_->Stations());
        StationFilter->setCurrentIndex(std::max(0, StationFilter->findText(station)));
    }
    ApplyFilter();
    return loadError_.isEmpty();
}

void THistoryWindow::ApplyFilter()
{
    THistoryFilter f;
    // The dates are the station's days; the record keeps UTC.
    if (FromCheck->isChecked()) f.from = QDateTime(FromDate->date(), QTime(0, 0)).toUTC();
    if (ToCheck->isChecked()) f.to = QDateTime(ToDate->date().addDays(1), QTime(0, 0)).toUTC();
    f.outcome = OutcomeFilter->currentIndex();
    if (StationFilter->currentIndex() > 0) f.station = StationFilter->currentText();
    f.text = SearchText->text().trimmed();
    model_->SetFilter(f);
    UpdateStatus();
}

void THistoryWindow::UpdateStatus()
{
    const QString where = location_.isEmpty() ? TProductionRecord::DefaultLocalPath() : TProductionRecord(location_).Describe();
    if (!loadError_.isEmpty()) {
        Status->setText(QStringLiteral("The record cannot be read: %1").arg(loadError_)
                        + (pending_ > 0 ? QStringLiteral(" — %1 row(s) wait in this computer's file").arg(pending_) : QString()));
        return;
    }
    QString text = QStringLiteral("%1 of %2 rows — %3").arg(model_->rowCount()).arg(model_->Rows().size()).arg(where);
    // Rows that could not reach the shared record yet: the station must know.
    if (pending_ > 0) text += QStringLiteral(" — %1 row(s) wait in this computer's file to be sent").arg(pending_);
    Status->setText(text);
}

void THistoryWindow::ExportClick()
{
    const QString path = Dialogs().SaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("CSV files (*.csv)"),
                                                QStringLiteral("csv"));
    if (path.isEmpty()) return;
    QString error;
    if (!WritePrivateFileAtomically(path, RecordCsv(model_->ShownRows()), &error))
        Dialogs().MessageBox(this, error, QStringLiteral("Export CSV"), mb::Ok | mb::IconError);
}

void THistoryWindow::ApplyLocationClick()
{
    const QString location = RecordLocation->text().trimmed();
    if (!location.isEmpty() && !TProductionRecord::IsSharedLocation(location)) {
        Dialogs().MessageBox(this, QStringLiteral("The shared record is a URL starting with postgresql://"),
                             QStringLiteral("History"), mb::Ok | mb::IconExclamation);
        return;
    }
    QString error;
    if (!SaveRecordLocation(location, &error))
        Dialogs().MessageBox(this, error, QStringLiteral("History"), mb::Ok | mb::IconError);
    location_ = location;
    TRecordWriter::SetLocation(location_);
    Reload();
}
