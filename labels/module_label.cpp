#include "labels/module_label.h"

#include <qrencode.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QMutex>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "common/atomic_file.h"

namespace {

constexpr double kMmPerInch = 25.4;
constexpr int kPngDpi = 300;
constexpr int kQuietModules = 2;  // white modules around the code, on top of the label's margin

// Fonts and the PDF writer are shared by the threads of a process; one
// label is drawn at a time.
QMutex& DrawingLock()
{
    static QMutex lock;
    return lock;
}

bool HaveGuiApplication(QString* error)
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return true;
    if (error) *error = QStringLiteral("labels cannot be drawn: the program has no graphics application object");
    return false;
}

struct TQrCodeDeleter {
    void operator()(QRcode* code) const { QRcode_free(code); }
};
using TQrCode = std::unique_ptr<QRcode, TQrCodeDeleter>;

TQrCode EncodeQr(const QString& text, QString* error)
{
    const QByteArray bytes = text.toUtf8();
    TQrCode code(QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M));
    if (!code && error) *error = QStringLiteral("the QR code cannot be made: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    return code;
}

// The largest font of this family and weight (pixel size at most maxPx)
// whose text fits width; at least minPx.
QFont FittingFont(const QString& text, double maxPx, double minPx, double width, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(bold);
    double px = maxPx;
    while (true) {
        font.setPixelSize(qMax(1, qRound(px)));
        if (px <= minPx || QFontMetricsF(font).horizontalAdvance(text) <= width) return font;
        px = qMax(minPx, px * 0.92);
    }
}

// Draws the label in the rectangle (0, 0, w, h) of the painter's device,
// whose resolution is dpi. alignModules: QR modules on whole pixels (the PNG).
void PaintLabel(QPainter& painter, const TLabelContent& content, const QRcode& code, double w, double h, double dpi,
                bool alignModules)
{
    const double mm = dpi / kMmPerInch;
    const double margin = 1.5 * mm;
    painter.fillRect(QRectF(0, 0, w, h), Qt::white);

    // The QR code: a square on the left, as tall as the label allows.
    const int modules = code.width + 2 * kQuietModules;
    double side = qMin(h - 2 * margin, w * 0.45);
    double module = side / modules;
    if (alignModules) {
        module = qMax(1.0, std::floor(module));
        side = module * modules;
    }
    const double qrLeft = margin;
    const double qrTop = (h - side) / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    for (int y = 0; y < code.width; ++y) {
        for (int x = 0; x < code.width; ++x) {
            if (code.data[y * code.width + x] & 1)
                painter.drawRect(QRectF(qrLeft + (x + kQuietModules) * module, qrTop + (y + kQuietModules) * module,
                                        module, module));
        }
    }

    // The texts on the right: the unit address large, then one line each.
    const double textLeft = qrLeft + side + 1.0 * mm;
    const double textWidth = w - textLeft - margin;
    QStringList lines;
    if (!content.profileName.isEmpty()) lines << content.profileName;
    QStringList radio;
    if (!content.mode.isEmpty()) radio << content.mode;
    if (!content.rfChannel.isEmpty()) radio << QStringLiteral("Ch %1").arg(content.rfChannel);
    if (!content.rate.isEmpty()) radio << content.rate;
    if (!radio.isEmpty()) lines << radio.join(QStringLiteral(" · "));
    if (!content.role.isEmpty()) lines << content.role;
    const QDate date = content.date.isValid() ? content.date : QDate::currentDate();
    QStringList made{date.toString(Qt::ISODate)};
    if (!content.station.isEmpty()) made << content.station;
    lines << made.join(QStringLiteral("  "));

    const double usable = h - 2 * margin;
    const double bigPx = usable * 0.34;
    const double linePx = qMin(usable * 0.60 / qMax<qsizetype>(4, lines.size()) / 1.15, 3.2 * mm);
    painter.setPen(Qt::black);
    double y = margin;
    const QString address = content.unitAddress.isEmpty() ? QStringLiteral("----") : content.unitAddress;
    QFont big = FittingFont(address, bigPx, bigPx * 0.4, textWidth, true);
    painter.setFont(big);
    QFontMetricsF bigMetrics(big);
    painter.drawText(QPointF(textLeft, y + bigMetrics.ascent()), address);
    y += bigMetrics.height() + 0.3 * mm;
    // One size for the small lines: the largest at which each fits, not
    // below 60 % (a longer line is cut short).
    QFont font = FittingFont(lines.first(), linePx, linePx * 0.6, textWidth, false);
    for (const QString& line : lines) {
        const QFont fitting = FittingFont(line, font.pixelSize(), linePx * 0.6, textWidth, false);
        if (fitting.pixelSize() < font.pixelSize()) font = fitting;
    }
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    for (const QString& line : lines) {
        painter.drawText(QPointF(textLeft, y + metrics.ascent()), metrics.elidedText(line, Qt::ElideRight, textWidth));
        y += metrics.height() * 1.05;
    }
}

QString Number(double v)
{
    return QString::number(v, 'g', 6);
}

}  // namespace

bool TLabelSize::IsValid() const
{
    return widthMm >= 10 && widthMm <= 300 && heightMm >= 10 && heightMm <= 300;
}

bool TLabelSize::Parse(const QString& text, TLabelSize* out, QString* error)
{
    static const QRegularExpression re(QStringLiteral(R"(^\s*(\d+(?:\.\d+)?)\s*[xX]\s*(\d+(?:\.\d+)?)\s*(?:mm)?\s*$)"));
    const QRegularExpressionMatch m = re.match(text);
    TLabelSize size;
    if (m.hasMatch()) {
        size.widthMm = m.captured(1).toDouble();
        size.heightMm = m.captured(2).toDouble();
    }
    if (!m.hasMatch() || !size.IsValid()) {
        if (error)
            *error = QStringLiteral("label size \"%1\": give width x height in millimetres, each 10 to 300 (e.g. 62x29)")
                         .arg(text);
        return false;
    }
    *out = size;
    return true;
}

QString TLabelSize::ToText() const
{
    return Number(widthMm) + QLatin1Char('x') + Number(heightMm);
}

QString LabelQrText(const TLabelContent& content)
{
    QString text = QStringLiteral("TARNWICK UNIT %1").arg(content.unitAddress);
    if (!content.rowId.isEmpty()) text += QStringLiteral(" ROW %1").arg(content.rowId);
    return text;
}

QString LabelFileName(const TLabelContent& content)
{
    static const QRegularExpression unsafe(QStringLiteral("[^0-9A-Za-z_-]"));
    QString unit = content.unitAddress;
    unit.replace(unsafe, QStringLiteral("_"));
    if (unit.isEmpty()) unit = QStringLiteral("none");
    QString name = QStringLiteral("unit-") + unit;
    if (!content.rowId.isEmpty()) name += QStringLiteral("-row-") + QString(content.rowId).replace(unsafe, QStringLiteral("_"));
    return name;
}

QImage DrawLabel(const TLabelContent& content, const TLabelSize& size, int dpi, QString* error)
{
    if (!size.IsValid()) {
        if (error) *error = QStringLiteral("label size %1 mm is out of range").arg(size.ToText());
        return {};
    }
    if (!HaveGuiApplication(error)) return {};
    const TQrCode code = EncodeQr(LabelQrText(content), error);
    if (!code) return {};
    const int w = qRound(size.widthMm / kMmPerInch * dpi);
    const int h = qRound(size.heightMm / kMmPerInch * dpi);
    QMutexLocker locker(&DrawingLock());
    QImage image(w, h, QImage::Format_RGB32);
    const int dotsPerMetre = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    PaintLabel(painter, content, *code, w, h, dpi, true);
    return image;
}

QString WriteLabel(const TLabelContent& content, const TLabelSize& size, const QString& dir, const QString& name,
                   TLabelFiles* files)
{
    QString error;
    const QImage image = DrawLabel(content, size, kPngDpi, &error);
    if (image.isNull()) return error;
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG")) return QStringLiteral("the label cannot be encoded as PNG");
    }

    QByteArray pdf;
    {
        const TQrCode code = EncodeQr(LabelQrText(content), &error);
        if (!code) return error;
        QMutexLocker locker(&DrawingLock());
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Tarnwick Control Panel"));
        writer.setTitle(QStringLiteral("Unit %1").arg(content.unitAddress));
        writer.setResolution(kPngDpi);
        writer.setPageSize(QPageSize(QSizeF(size.widthMm, size.heightMm), QPageSize::Millimeter,
                                     QStringLiteral("Label %1 mm").arg(size.ToText()), QPageSize::ExactMatch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        QPainter painter;
        if (!painter.begin(&writer)) return QStringLiteral("the label's PDF cannot be drawn");
        const double w = size.widthMm / kMmPerInch * kPngDpi;
        const double h = size.heightMm / kMmPerInch * kPngDpi;
        PaintLabel(painter, content, *code, w, h, kPngDpi, false);
        painter.end();
    }

    if (!QDir().mkpath(dir)) return QStringLiteral("the labels folder %1 cannot be made").arg(dir);
    const QString base = QDir(dir).filePath(name);
    const QString pngPath = base + QStringLiteral(".png");
    const QString pdfPath = base + QStringLiteral(".pdf");
    if (!WriteFileAtomically(pngPath, png, &error)) return QStringLiteral("label %1: %2").arg(pngPath, error);
    if (!WriteFileAtomically(pdfPath, pdf, &error)) {
        QFile::remove(pngPath);
        return QStringLiteral("label %1: %2").arg(pdfPath, error);
    }
    if (files) *files = {pngPath, pdfPath};
    return {};
}

QString PrintLabel(const QString& file, const QString& printer, const TLabelSize& size, QString* jobId, int timeoutMs)
{
    if (printer.isEmpty()) return QStringLiteral("no printer named");
    if (!QFileInfo(file).isFile()) return QStringLiteral("label %1 not found").arg(file);
    QProcess lp;
    lp.setProgram(QStringLiteral("lp"));
    lp.setArguments({QStringLiteral("-d"), printer, QStringLiteral("-t"), QFileInfo(file).completeBaseName(),
                     QStringLiteral("-o"), QStringLiteral("media=Custom.%1x%2mm").arg(Number(size.widthMm), Number(size.heightMm)),
                     QStringLiteral("--"), file});
    lp.setStandardInputFile(QProcess::nullDevice());
    lp.start();
    if (!lp.waitForStarted(timeoutMs))
        return QStringLiteral("lp cannot run (%1): install the CUPS client programs").arg(lp.errorString());
    if (!lp.waitForFinished(timeoutMs)) {
        lp.kill();
        lp.waitForFinished(-1);
        return QStringLiteral("lp did not answer within %1 s (is the printing service running?)").arg(timeoutMs / 1000);
    }
    const QString out = QString::fromLocal8Bit(lp.readAllStandardOutput()).trimmed();
    const QString err = QString::fromLocal8Bit(lp.readAllStandardError()).trimmed();
    if (lp.exitStatus() != QProcess::NormalExit || lp.exitCode() != 0)
        return err.isEmpty() ? QStringLiteral("lp failed (exit status %1)").arg(lp.exitCode()) : err;
    static const QRegularExpression requestId(QStringLiteral(R"(request id is (\S+))"));
    const QRegularExpressionMatch m = requestId.match(out);
    if (jobId) *jobId = m.hasMatch() ? m.captured(1) : QString();
    return {};
}

std::unique_ptr<QCoreApplication> MakeLabelApplication(int& argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}
