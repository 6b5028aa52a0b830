#include "GuiScreenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>

#include <cstdio>

#include "app/Main.h"
#include "app/WaveformView.h"
#include "playback/WaveformEnvelope.h"

namespace {

// Opens the sample file when the window asks for one and shows every
// message on stderr, so that nothing waits for a click.
class SamplePrompter : public GuiPrompterBase {
public:
    explicit SamplePrompter(QString sample) : sample_(std::move(sample)) {}

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    std::optional<std::string> AskOpenFileName() override
    {
        if (sample_.isEmpty())
            return std::nullopt;
        return sample_.toStdString();
    }
    std::optional<std::string> AskSaveFileName(const std::string&) override { return std::nullopt; }
    bool ExecuteFolderPicker(std::string&) override { return false; }
    bool OpenDocument(const std::string&) override { return true; }

private:
    QString sample_;
};

bool WaitForEnvelope(TMainForm& window)
{
    bool decoded = false;
    QEventLoop loop;
    auto* envelope = window.findChild<WaveformEnvelope*>("Envelope");
    QObject::connect(envelope, &WaveformEnvelope::envelopeFinished, &loop, [&](bool ok) {
        decoded = ok;
        loop.quit();
    });
    if (!envelope->Running())
        return false;
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    return decoded;
}

bool Grab(QWidget& window, const QString& fileName)
{
    QCoreApplication::processEvents();
    return window.grab().save(fileName, "PNG");
}

} // namespace

int SaveScreenshots(const QString& folder, const QString& sampleFile)
{
    if (!QDir().mkpath(folder))
        return 1;
    TMainForm window(std::make_unique<SamplePrompter>(sampleFile));
    window.show();
    if (!sampleFile.isEmpty())
        window.RunHandler([&] { window.OpenFile(sampleFile.toStdString()); });
    // The split page is drawn with the whole waveform of the sample.
    if (!sampleFile.isEmpty() && !WaitForEnvelope(window)) {
        std::fprintf(stderr, "No waveform: the audio library could not decode %s\n", qPrintable(sampleFile));
        return 1;
    }
    // The controls are the pages' own; they are reached as the user sees them.
    window.findChild<QLineEdit*>("edtEnd")->setText("00:47.500");
    window.findChild<QLineEdit*>("edtStart")->setText("00:20.250");
    // The waveform zoomed in on the selection, the ruler in seconds.
    window.findChild<WaveformView*>("wavView")->ZoomToSelection();
    const QDir out(folder);
    if (!Grab(window, out.filePath("split-page.png")))
        return 1;
    window.findChild<QTabWidget*>("pgcMain")->setCurrentWidget(window.findChild<QWidget*>("tabTag"));
    return Grab(window, out.filePath("tag-page.png")) ? 0 : 1;
}
