#include "ConsoleUi.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

std::atomic<bool> interruptRequested{false};

extern "C" void OnInterrupt(int)
{
    interruptRequested = true;
}

// Message boxes separate their lines with CR LF; a terminal wants LF.
std::string TerminalLines(std::string text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

} // namespace

ConsoleUi::ConsoleUi() : terminal_(::isatty(STDERR_FILENO) == 1)
{
    interruptRequested = false;
    std::signal(SIGINT, OnInterrupt);
}

ConsoleUi::~ConsoleUi()
{
    std::signal(SIGINT, SIG_DFL);
}

void ConsoleUi::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon)
{
    if (progressShown_ && terminal_)
        std::fputs("\n", stderr);
    if (icon == MessageIcon::Information && caption == "Information") {
        std::FILE* stream = commands_ && commands_->Completed() && !keepStandardOutput_ ? stdout : stderr;
        std::fprintf(stream, "%s\n", TerminalLines(text).c_str());
        std::fflush(stream);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), TerminalLines(text).c_str());
}

std::optional<std::string> ConsoleUi::AskOpenFileName()
{
    return std::nullopt;
}

std::optional<std::string> ConsoleUi::AskSaveFileName(const std::string&)
{
    return saveAnswer_;
}

bool ConsoleUi::ExecuteFolderPicker(std::string& path)
{
    if (!folderAnswer_)
        return false;
    path = *folderAnswer_;
    return true;
}

void ConsoleUi::SetProgressVisible(bool visible)
{
    if (progressShown_ && !visible && terminal_)
        std::fputs("\n", stderr);
    progressShown_ = visible;
}

void ConsoleUi::SetProgress(int percent)
{
    if (progressShown_ && terminal_) {
        std::fprintf(stderr, "\r%3d%%", percent);
        std::fflush(stderr);
    }
}

void ConsoleUi::ProcessMessages()
{
    // Nothing here posts events: the one message a run can get is Ctrl-C.
    if (interruptRequested.exchange(false) && commands_)
        commands_->RequestStop();
}
