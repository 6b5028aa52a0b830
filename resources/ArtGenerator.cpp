// Draws the program's pictures at build time: the banner across the top of
// the main window (written as a JPEG with libjpeg, the form the window
// decodes) and the 32 x 32 logo (PNG). Usage: corvella_art OUTPUT_FOLDER
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

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

QImage DrawLogo()
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 32);
    fill.setColorAt(0, QColor(0x3b, 0x7b, 0xe8));
    fill.setColorAt(1, QColor(0x16, 0x45, 0xa8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    const double heights[] = {4, 8, 12, 7, 10, 5, 3};
    for (int i = 0; i < 7; ++i) {
        const double x = 7 + i * 3;
        painter.drawLine(QPointF(x, 16 - heights[i] / 1.4), QPointF(x, 16 + heights[i] / 1.4));
    }
    painter.setPen(QPen(QColor(0xff, 0xd3, 0x4d), 1.6));
    painter.drawLine(QPointF(12.5, 5), QPointF(12.5, 27));
    painter.drawLine(QPointF(22.5, 5), QPointF(22.5, 27));
    return image;
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
    return DrawLogo().save(folder.filePath("logo.png"), "PNG") ? 0 : 1;
}
