#include <QLineEdit>
#include "GuiScreenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>

#include <cstdio>

#include "app/Main.h"

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
    void OpenDocument(const std::string&) override {}

private:
    QString sample_;
};

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
    window.RunHandler([&window] { window.btnOpenClick(); });
    window.edtEnd->setText("00:04.500");
    window.edtStart->setText("00:01.250");
    const QDir out(folder);
    if (!Grab(window, out.filePath("split-page.png")))
        return 1;
    window.pgcMain->setCurrentWidget(window.tabTag);
    return Grab(window, out.filePath("tag-page.png")) ? 0 : 1;
}
