// The window as common desktops draw it: at their font sizes and styles
// every caption is whole and no two controls lie on each other, the window
// can be made larger and gives the room to the waveform and the comment,
// and the transport glyphs and the link stay readable on a dark palette.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <optional>
#include <string>

#include "app/Main.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace {

class QuietPrompter : public GuiPrompterBase {
public:
    void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}
    std::optional<std::string> AskOpenFileName() override { return std::nullopt; }
    std::optional<std::string> AskSaveFileName(const std::string&) override { return std::nullopt; }
    bool ExecuteFolderPicker(std::string&) override { return false; }
    bool OpenDocument(const std::string&) override { return true; }
};

std::unique_ptr<TMainForm> ShownWindow()
{
    auto window = std::make_unique<TMainForm>(std::make_unique<QuietPrompter>(), testsupport::BinFolder());
    window->show();
    QApplication::processEvents();
    return window;
}

// A caption as drawn: "&Open" shows as "Open", "&&" as "&".
QString Shown(QString text)
{
    text.replace("&&", QChar(0x1));
    text.remove('&');
    text.replace(QChar(0x1), '&');
    return text;
}

// The rectangle a control draws its caption in, or nothing for a control
// without one.
std::optional<QRect> CaptionRoom(QWidget* widget, QString& caption)
{
    if (auto* label = qobject_cast<QLabel*>(widget); label && label->pixmap().isNull()) {
        caption = label->text();
        return label->contentsRect();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        caption = edit->text();
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        // Qt's line edit keeps 2 pixels each side of its text, and one for the cursor.
        return edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit)
            .marginsRemoved(edit->textMargins())
            .adjusted(2, 0, -3, 0);
    }
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (!button)
        return std::nullopt;
    caption = Shown(button->text());
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = caption;
    if (qobject_cast<QCheckBox*>(button))
        return button->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
    if (qobject_cast<QRadioButton*>(button))
        return button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
    if (qobject_cast<QPushButton*>(button))
        return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    if (auto* tool = qobject_cast<QToolButton*>(button); tool && tool->toolButtonStyle() == Qt::ToolButtonTextOnly)
        return tool->contentsRect();
    return std::nullopt;
}

// Every control of the page shown whose caption does not fit, and every
// pair of controls side by side that cover each other.
QStringList Faults(QWidget& window)
{
    QStringList faults;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->isWindow())
            continue;
        QString caption;
        const std::optional<QRect> room = CaptionRoom(widget, caption);
        if (room && !caption.isEmpty()) {
            const QFontMetrics metrics = widget->fontMetrics();
            const QSize needed(metrics.horizontalAdvance(caption), metrics.height());
            if (needed.width() > room->width() || needed.height() > room->height())
                faults << QString("%1 \"%2\" needs %3x%4 and has %5x%6")
                              .arg(widget->objectName(), caption)
                              .arg(needed.width())
                              .arg(needed.height())
                              .arg(room->width())
                              .arg(room->height());
        }
        QList<QWidget*> siblings;
        for (QObject* child : widget->children())
            if (auto* sibling = qobject_cast<QWidget*>(child); sibling && sibling->isVisible() && !sibling->isWindow())
                siblings << sibling;
        for (qsizetype i = 0; i < siblings.size(); ++i)
            for (qsizetype j = i + 1; j < siblings.size(); ++j)
                if (siblings[i]->geometry().intersects(siblings[j]->geometry()))
                    faults << QString("%1 and %2 overlap in %3")
                                  .arg(siblings[i]->objectName(), siblings[j]->objectName(), widget->objectName());
    }
    return faults;
}

int Lightness(QRgb pixel) { return QColor(pixel).lightness(); }

// The largest difference in lightness between the image's pixels drawn
// fully and background.
int Contrast(const QImage& image, const QColor& background)
{
    int largest = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255)
                largest = std::max(largest, std::abs(Lightness(image.pixel(x, y)) - background.lightness()));
    return largest;
}

QPalette DarkPalette()
{
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
    return dark;
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void everyCaptionIsWholeAndNoControlsOverlap_data();
    void everyCaptionIsWholeAndNoControlsOverlap();
    void extraRoomGoesToTheWaveformAndTheComment();
    void glyphsAndLinkStandOutFromThePalette_data();
    void glyphsAndLinkStandOutFromThePalette();

private:
    QFont font_;
    QString style_;
    QPalette palette_;
};

void LayoutTest::initTestCase()
{
    font_ = QApplication::font();
    style_ = QApplication::style()->name();
    palette_ = QApplication::palette();
}

void LayoutTest::cleanup()
{
    QApplication::setStyle(QStyleFactory::create(style_));
    QApplication::setFont(font_);
    QApplication::setPalette(palette_);
}

void LayoutTest::everyCaptionIsWholeAndNoControlsOverlap_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<int>("points");
    for (int points : {10, 11, 12, 14})
        QTest::addRow("Fusion %d pt", points) << "Fusion" << points;
    QTest::addRow("Adwaita 11 pt") << "Adwaita" << 11;
    QTest::addRow("Adwaita-Dark 12 pt") << "Adwaita-Dark" << 12;
}

void LayoutTest::everyCaptionIsWholeAndNoControlsOverlap()
{
    QFETCH(QString, style);
    QFETCH(int, points);
    QStyle* drawn = QStyleFactory::create(style);
    QVERIFY2(drawn, qPrintable(style + " is not installed (Debian package adwaita-qt6)"));
    QApplication::setStyle(drawn);
    QApplication::setPalette(drawn->standardPalette());
    QFont font = font_;
    font.setPointSize(points);
    QApplication::setFont(font);

    const auto window = ShownWindow();
    auto* pages = Control<QTabWidget>(window, "pgcMain");
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        QApplication::processEvents();
        const QStringList faults = Faults(*window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }
    QVERIFY(window->minimumSize() != window->maximumSize());
    // The comment is edited in lines; one line is not a box to edit it in.
    auto* comment = Control<QPlainTextEdit>(window, "CommentMemo");
    QVERIFY2(comment->viewport()->height() >= 3 * comment->fontMetrics().lineSpacing(),
             qPrintable(QString::number(comment->viewport()->height())));
}

void LayoutTest::extraRoomGoesToTheWaveformAndTheComment()
{
    const auto window = ShownWindow();
    auto* pages = Control<QTabWidget>(window, "pgcMain");
    auto* waveform = Control<QWidget>(window, "wavView");
    auto* file = Control<QWidget>(window, "edtFile");
    auto* comment = Control<QPlainTextEdit>(window, "CommentMemo");
    const QSize before[] = {waveform->size(), file->size()};
    window->resize(window->size() + QSize(300, 200));
    QApplication::processEvents();
    QVERIFY(waveform->height() >= before[0].height() + 100);
    QVERIFY(waveform->width() >= before[0].width() + 250);
    QVERIFY(file->width() >= before[1].width() + 250);
    pages->setCurrentIndex(1);
    QApplication::processEvents();
    const int commentHeight = comment->height();
    window->resize(window->size() + QSize(0, 200));
    QApplication::processEvents();
    QVERIFY(comment->height() >= commentHeight + 150);
}

void LayoutTest::glyphsAndLinkStandOutFromThePalette_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::addRow("light") << QStyleFactory::create("Fusion")->standardPalette();
    QTest::addRow("dark") << DarkPalette();
}

void LayoutTest::glyphsAndLinkStandOutFromThePalette()
{
    QFETCH(QPalette, palette);
    // The desktop switches to the palette while the window is open.
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(QApplication::style()->standardPalette());
    const auto window = ShownWindow();
    QApplication::setPalette(palette);
    QApplication::processEvents();
    const QColor button = palette.color(QPalette::Button);
    QWidget* link = Control<QWidget>(window, "sbtnWeb1");
    QVERIFY(Contrast(link->grab().toImage(), palette.color(QPalette::Window)) >= 100);
    for (const char* name : {"sbtnPlay", "sbtnPause", "sbtnStop"})
        QVERIFY2(Contrast(Control<QToolButton>(window, name)->icon().pixmap(16).toImage(), button) >= 100, name);
}

QTEST_MAIN(LayoutTest)
#include "qtest_Layout.moc"
