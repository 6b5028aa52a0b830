#include <algorithm>
#include <sys/stat.h>

#include "analysis/Errors.h"
#include "cli/Commands.h"
#include "files/BinaryFile.h"

const char* const kUsageText =
    "Usage:\n"
    "  corvella-cli info FILE [--json]\n"
    "  corvella-cli tags FILE [--json] [--v1 FIELD=VALUE]... [--v2 FIELD=VALUE]...\n"
    "  corvella-cli tags FILE|FOLDER... [--recursive] [--jobs J] [--json] [--v1 ...] [--v2 ...]\n"
    "      v1 fields: Title Artist Album Year Comment Track GenreID\n"
    "      v2 fields: Title Artist Album Year Genre Comment Track (N or N/M)\n"
    "  corvella-cli cut FILE START END OUT [--force] [--gapless]\n"
    "      START, END: time texts MM:SS.mmm\n"
    "  corvella-cli split FILE N OUTDIR [--gapless]\n"
    "  corvella-cli split FILE OUTDIR (--cue SHEET | --every MM:SS.mmm |\n"
    "                    --at MM:SS.mmm[,MM:SS.mmm...] | --times LISTFILE |\n"
    "                    --silence [--threshold DB] [--min-silence SECONDS]\n"
    "                              [--min-part SECONDS] [--parts N]\n"
    "                              [--cut-at-end] [--trim])\n"
    "                    [--names TEMPLATE] [--gapless] [--json]\n"
    "  corvella-cli split-many OUTDIR FILE|FOLDER... (--parts N | --cue-beside |\n"
    "                    --every MM:SS.mmm | --silence [options as above])\n"
    "                    [--recursive] [--jobs J] [--names TEMPLATE] [--gapless] [--json]\n"
    "      --gapless: parts join without a gap in players that honour the\n"
    "      LAME encoder delay and padding, to the sample\n"
    "      --names: fields {n} {k} {title} {artist} {album} {source}; default\n"
    "      \"{n} - {title}\" when the parts have titles, else \"{source}_part_{n}\"\n"
    "      --silence: cut in the middle of every silence (RMS below --threshold,\n"
    "      default -40 dB) of at least --min-silence seconds (default 1.0), no\n"
    "      part shorter than --min-part seconds (default 5.0); --parts N cuts\n"
    "      the N-1 longest silences only; --cut-at-end cuts where each silence\n"
    "      ends; --trim leaves the silences out of the parts\n"
    "      split-many, tags over folders: a folder's .mp3 files (--recursive:\n"
    "      its subfolders' too) on J threads (default: the cores), one JSON\n"
    "      line per file with --json; exit 1 when any file failed\n"
    "      --json: one JSON line per part written (number, file, start, end,\n"
    "      title, artist)\n"
    "  corvella-cli gain FILE DB [--start TIME] [--end TIME] [--force]\n"
    "  corvella-cli fade FILE [--in TIME] [--out TIME] [--start TIME] [--end TIME]\n"
    "                    [--floor DB] [--curve db|cosine]\n"
    "  corvella-cli loudness FILE... [--apply | --tag] [--album] [--force]\n"
    "  corvella-cli undo FILE\n"
    "      gain, fade, loudness --apply: the level in steps of 1.5 dB without\n"
    "      re-encoding; undo takes the last of them back; TIME: MM:SS.mmm or seconds\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

bool TakeFlag(Arguments& args, const std::string& name)
{
    auto found = std::find(args.begin(), args.end(), name);
    if (found == args.end())
        return false;
    args.erase(found);
    return true;
}

std::optional<std::string> TakeOption(Arguments& args, const std::string& name)
{
    auto found = std::find(args.begin(), args.end(), name);
    if (found == args.end())
        return std::nullopt;
    if (found + 1 == args.end())
        throw UsageError(name + " needs a value");
    std::string value = *(found + 1);
    args.erase(found, found + 2);
    if (std::find(args.begin(), args.end(), name) != args.end())
        throw UsageError(name + " is given twice");
    return value;
}

void RejectUnknownOptions(const Arguments& args)
{
    for (const auto& arg : args)
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
            throw UsageError("unknown option " + arg);
}

void RequireReadableFile(const std::string& fileName)
{
    struct stat status {};
    if (::stat(fileName.c_str(), &status) != 0)
        throw FileOpenError(fileName, "No such file.");
    if (S_ISDIR(status.st_mode))
        throw FileOpenError(fileName, "It is a folder.");
    // Opening a pipe or a device could wait forever or read what is not a file.
    if (!S_ISREG(status.st_mode))
        throw FileOpenError(fileName, "It is a device, a pipe or a socket, not a regular file.");
    BinaryFile file;
    if (!file.Open(fileName, BinaryFile::Mode::Read))
        throw FileOpenError(fileName, file.LastError());
    char first = 0;
    if (file.Read(&first, 1) == 0 && !file.LastError().empty())
        throw FileOpenError(fileName, file.LastError());
}
