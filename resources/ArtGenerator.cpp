// Draws the program's pictures at build time: the banner across the top of
// the main window (written as a JPEG with libjpeg, the form the window
// decodes), the 32 x 32 logo (PNG) and the desktop icons: the same logo as
// PNG in every hicolor size and as SVG, both from one description of its
// shapes. Usage: corvella_art OUTPUT_FOLDER
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace {

constexpr int kBannerWidth = 653;
constexpr int kBannerHeight = 57;
const QColor kInk(0x1b, 0x2a, 0x3a);
const QColor kAccent(0x1f, 0x5f, 0xd6);

// A deterministic waveform-like contour so the picture is identical on every build.
double Envelope(double x)
{
    return 0.55 + 0.45 * std::sin(x * 0.021) * std::sin(x * 0.0047 + 0.8);
}

void DrawWave(QPainter& painter, double left, double right, double middle, double height, const QColor& colour)
{
    painter.setPen(QPen(colour, 1.4));
    for (double x = left; x < right; x += 3.0) {
        const double amplitude = height * Envelope(x) * (0.35 + 0.65 * std::fabs(std::sin(x * 0.37)));
        painter.drawLine(QPointF(x, middle - amplitude), QPointF(x, middle + amplitude));
    }
}

QImage DrawBanner()
{
    QImage image(kBannerWidth, kBannerHeight, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, kBannerWidth, 0);
    background.setColorAt(0.0, QColor(0xdc, 0xe8, 0xf7));
    background.setColorAt(0.6, QColor(0xf4, 0xf8, 0xfd));
    background.setColorAt(1.0, QColor(0xff, 0xff, 0xff));
    painter.fillRect(image.rect(), background);

    // The waveform behind the name, with a marked section between two cuts.
    const double middle = kBannerHeight / 2.0;
    DrawWave(painter, 230, 470, middle, 18, QColor(0xb7, 0xc9, 0xe2));
    DrawWave(painter, 300, 390, middle, 18, QColor(0x6f, 0x98, 0xdb));
    painter.setPen(QPen(kAccent, 2));
    painter.drawLine(QPointF(300, 6), QPointF(300, kBannerHeight - 6));
    painter.drawLine(QPointF(390, 6), QPointF(390, kBannerHeight - 6));

    QFont name("DejaVu Sans");
    name.setPixelSize(28);
    name.setBold(true);
    painter.setFont(name);
    painter.setPen(kInk);
    painter.drawText(QRect(56, 4, 260, 34), Qt::AlignLeft | Qt::AlignVCenter, "Corvella");
    QFont tagline("DejaVu Sans");
    tagline.setPixelSize(11);
    painter.setFont(tagline);
    painter.setPen(QColor(0x45, 0x55, 0x66));
    painter.drawText(QRect(57, 36, 260, 16), Qt::AlignLeft | Qt::AlignVCenter, "MP3 cutter and ID3 tag editor");
    painter.setPen(QColor(0xc5, 0xd3, 0xe6));
    painter.drawLine(0, kBannerHeight - 1, kBannerWidth, kBannerHeight - 1);
    return image;
}

// The logo on a 32-unit square: a rounded tile, the bars of a waveform and
// two cut marks. Both the pictures and the SVG icon are drawn from this.
struct LogoShapes {
    static constexpr double kTileInset = 1, kTileSize = 30, kTileRadius = 6;
    static constexpr double kBarHeights[7] = {4, 8, 12, 7, 10, 5, 3};
    static constexpr double kBarLeft = 7, kBarStep = 3, kBarWidth = 2, kMiddle = 16, kBarScale = 1.4;
    static constexpr double kMarks[2] = {12.5, 22.5};
    static constexpr double kMarkTop = 5, kMarkBottom = 27, kMarkWidth = 1.6;
    static constexpr const char* kTileTop = "#3b7be8";
    static constexpr const char* kTileBottom = "#1645a8";
    static constexpr const char* kMark = "#ffd34d";
};

QImage DrawLogo(int size)
{
    using L = LogoShapes;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    QLinearGradient fill(0, 0, 0, 32);
    fill.setColorAt(0, QColor(L::kTileTop));
    fill.setColorAt(1, QColor(L::kTileBottom));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(L::kTileInset, L::kTileInset, L::kTileSize, L::kTileSize), L::kTileRadius,
                            L::kTileRadius);
    painter.setPen(QPen(Qt::white, L::kBarWidth, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 7; ++i) {
        const double x = L::kBarLeft + i * L::kBarStep;
        const double half = L::kBarHeights[i] / L::kBarScale;
        painter.drawLine(QPointF(x, L::kMiddle - half), QPointF(x, L::kMiddle + half));
    }
    painter.setPen(QPen(QColor(L::kMark), L::kMarkWidth));
    for (double x : L::kMarks)
        painter.drawLine(QPointF(x, L::kMarkTop), QPointF(x, L::kMarkBottom));
    return image;
}

QString LogoSvg()
{
    using L = LogoShapes;
    QString svg;
    QTextStream out(&svg);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
        << "  <defs><linearGradient id=\"tile\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"32\" gradientUnits=\"userSpaceOnUse\">"
        << "<stop offset=\"0\" stop-color=\"" << L::kTileTop << "\"/><stop offset=\"1\" stop-color=\"" << L::kTileBottom
        << "\"/></linearGradient></defs>\n"
        << "  <rect x=\"" << L::kTileInset << "\" y=\"" << L::kTileInset << "\" width=\"" << L::kTileSize << "\" height=\""
        << L::kTileSize << "\" rx=\"" << L::kTileRadius << "\" fill=\"url(#tile)\"/>\n"
        << "  <g stroke=\"#ffffff\" stroke-width=\"" << L::kBarWidth << "\" stroke-linecap=\"round\">\n";
    for (int i = 0; i < 7; ++i) {
        const double x = L::kBarLeft + i * L::kBarStep;
        const double half = L::kBarHeights[i] / L::kBarScale;
        out << "    <line x1=\"" << x << "\" y1=\"" << L::kMiddle - half << "\" x2=\"" << x << "\" y2=\""
            << L::kMiddle + half << "\"/>\n";
    }
    out << "  </g>\n  <g stroke=\"" << L::kMark << "\" stroke-width=\"" << L::kMarkWidth << "\">\n";
    for (double x : L::kMarks)
        out << "    <line x1=\"" << x << "\" y1=\"" << L::kMarkTop << "\" x2=\"" << x << "\" y2=\"" << L::kMarkBottom
            << "\"/>\n";
    out << "  </g>\n</svg>\n";
    return svg;
}

// The desktop icons under folder/icons/hicolor, named after the program's
// desktop entry.
bool WriteIcons(const QDir& folder)
{
    const QString name = QStringLiteral("org.corvella.corvella");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString sizeFolder = QString("icons/hicolor/%1x%1/apps").arg(size);
        if (!QDir().mkpath(folder.filePath(sizeFolder))
            || !DrawLogo(size).save(folder.filePath(sizeFolder + "/" + name + ".png"), "PNG"))
            return false;
    }
    const QString scalable = QStringLiteral("icons/hicolor/scalable/apps");
    QFile svg(folder.filePath(scalable + "/" + name + ".svg"));
    if (!QDir().mkpath(folder.filePath(scalable)) || !svg.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text = LogoSvg().toUtf8();
    return svg.write(text) == text.size();
}

bool WriteJpeg(const QImage& source, const QString& fileName, int quality)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(fileName.toLocal8Bit().constData(), "wb"), &std::fclose);
    if (!out)
        return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out.get());
    info.image_width = static_cast<JDIMENSION>(image.width());
    info.image_height = static_cast<JDIMENSION>(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(image.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvella_art OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path()))
        return 1;
    if (!WriteJpeg(DrawBanner(), folder.filePath("banner.jpg"), 90))
        return 1;
    if (!DrawLogo(32).save(folder.filePath("logo.png"), "PNG"))
        return 1;
    return WriteIcons(folder) ? 0 : 1;
}
