#pragma once
// A programmed module's label: drawn to a PNG and a PDF sized for a label
// roll (62 x 29 mm by default), and sent to a printer. The drawing uses
// QtGui (QPainter, QPdfWriter) but never widgets and needs no display: the
// program makes a QGuiApplication on the offscreen platform
// (MakeLabelApplication). The QR code is encoded by libqrencode. Every
// function here may be called from any thread, several at once.
#include <QDate>
#include <QString>
#include <memory>

class QCoreApplication;
class QImage;

// The label's size in millimetres.
struct TLabelSize {
    double widthMm = 62.0;
    double heightMm = 29.0;

    bool IsValid() const;  // both between 10 and 300 mm
    // "62x29" (also "62x29mm", "62 X 29", decimals allowed); false with
    // *error on anything else.
    static bool Parse(const QString& text, TLabelSize* out, QString* error);
    QString ToText() const;  // "62x29"
    bool operator==(const TLabelSize&) const = default;
};

// What the label shows. Texts are shown as given; empty ones are left out.
struct TLabelContent {
    QString unitAddress;  // 4 hex digits, "0A07": large
    QString profileName;
    QString mode;         // the module's mode as the panel names it
    QString rfChannel;    // as shown, e.g. "12"
    QString rate;         // as shown, e.g. "115200"
    QString role;         // "Point A", "Point B"; empty when not a pair
    QDate date;           // invalid: today
    QString station;      // the station's name
    QString rowId;        // the record's row id (a UUID); empty when none
};

// Where WriteLabel put the label.
struct TLabelFiles {
    QString png;
    QString pdf;
};

// The text the QR code holds: "TARNWICK UNIT 0A07 ROW <row id>" (without
// " ROW ..." when there is no row id). A scanner's text finds the row.
QString LabelQrText(const TLabelContent& content);

// A file name (no folder, no suffix) for the label: "unit-0A07-row-<row id>",
// "unit-0A07" without a row id; characters unsafe in a file name replaced.
QString LabelFileName(const TLabelContent& content);

// The label as an image at the given resolution (dots per inch).
// Null image with *error when it cannot be drawn (no QGuiApplication, a QR
// text libqrencode refuses).
QImage DrawLabel(const TLabelContent& content, const TLabelSize& size, int dpi, QString* error);

// Writes <dir>/<name>.png (300 dpi) and <dir>/<name>.pdf (the page exactly
// the label's size, vector text). Each file is written to a temporary file
// and renamed, so a reader never sees half a label. The folder is made when
// missing. Returns an empty text on success, else what went wrong (then
// neither file is left behind).
QString WriteLabel(const TLabelContent& content, const TLabelSize& size, const QString& dir, const QString& name,
                   TLabelFiles* files = nullptr);

// Sends a file (the PDF, or the PNG) to the named CUPS printer with `lp`,
// the page size set to the label's. Waits for lp to queue the job (at most
// timeoutMs). Returns an empty text on success with *jobId set ("Labels-12"),
// else lp's own message or why lp could not run. The scheduler is the one lp
// finds (CUPS_SERVER, ~/.cups/client.conf, /etc/cups/client.conf).
QString PrintLabel(const QString& file, const QString& printer, const TLabelSize& size, QString* jobId = nullptr,
                   int timeoutMs = 30000);

// The application object for a program that draws labels without a window:
// a QGuiApplication on the offscreen platform (unless QT_QPA_PLATFORM names
// another). Make it instead of the QCoreApplication, before any other Qt object.
std::unique_ptr<QCoreApplication> MakeLabelApplication(int& argc, char** argv);
