// Corvella: cuts MP3 files by byte ranges and edits their ID3 tags.
// "corvella FILE" opens FILE at start as if it had been chosen with Open.
// "corvella --screenshot FOLDER [FILE] [--points N]" draws both pages into
// FOLDER instead, in an N-point font when N is given (Qt's own -style
// option picks the style).
#include <QApplication>
#include <QFont>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/GuiScreenshots.h"
#include "app/Main.h"

namespace {

// "--help" and "-h" are answered on the terminal, before any window (or
// display) is needed; a file of that name is opened as "./--help".
bool AnsweredOnTheTerminal(int argc, char* argv[])
{
    if (argc != 2 || (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0))
        return false;
    std::fputs("Usage: corvella [FILE]\n"
               "       corvella --screenshot FOLDER [FILE] [--points N]\n"
               "Cuts MP3 files without re-encoding and edits their ID3 tags, in a window.\n"
               "FILE is opened at start. See corvella(1) and corvella-cli(1).\n",
               stdout);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (AnsweredOnTheTerminal(argc, argv))
        return 0;
    // Over a file size limit a write then fails with EFBIG and is reported
    // like any other failed write, instead of the signal killing the
    // program halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Corvella");
    QApplication::setOrganizationName("Ondrel");

    QStringList arguments = QApplication::arguments();
    if (arguments.size() >= 3 && arguments.at(1) == "--screenshot") {
        if (const qsizetype at = arguments.indexOf("--points"); at > 0) {
            bool number = false;
            const int points = at + 1 < arguments.size() ? arguments.at(at + 1).toInt(&number) : 0;
            if (!number || points < 4 || points > 72) {
                std::fputs("corvella: --points needs a font size from 4 to 72\n", stderr);
                return 2;
            }
            QFont font = QApplication::font();
            font.setPointSize(points);
            QApplication::setFont(font);
            arguments.remove(at, 2);
        }
        return SaveScreenshots(arguments.at(2), arguments.size() >= 4 ? arguments.at(3) : QString());
    }

    TMainForm MainForm;
    MainForm.RestoreMemory();
    MainForm.show();
    if (arguments.size() >= 2)
        MainForm.OpenCommandLineFile(arguments.at(1));
    return QApplication::exec();
}
