// Corvella: cuts MP3 files by byte ranges and edits their ID3 tags.
// "corvella FILE" opens FILE at start as if it had been chosen with Open.
// "corvella --screenshot FOLDER [FILE]" draws both pages into FOLDER instead.
#include <QApplication>
#include <QStringList>

#include <csignal>

#include "app/GuiScreenshots.h"
#include "app/Main.h"

int main(int argc, char* argv[])
{
    // Over a file size limit a write then fails with EFBIG and is reported
    // like any other failed write, instead of the signal killing the
    // program halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Corvella");
    QApplication::setOrganizationName("Ondrel");

    const QStringList arguments = QApplication::arguments();
    if (arguments.size() >= 3 && arguments.at(1) == "--screenshot")
        return SaveScreenshots(arguments.at(2), arguments.size() >= 4 ? arguments.at(3) : QString());

    TMainForm MainForm;
    MainForm.show();
    if (arguments.size() >= 2)
        MainForm.OpenCommandLineFile(arguments.at(1));
    return QApplication::exec();
}
