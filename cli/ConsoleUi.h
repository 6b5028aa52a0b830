// ConsoleUi: the prompts, messages and gauge of the split commands and the
// player on a terminal. Answers that a dialog would ask for come from the
// command line and are set before a command runs. The split commands'
// success message goes to stdout, every other message to stderr; the player's
// error boxes go to stderr. The gauge is drawn on stderr only when stderr
// is a terminal. Ctrl-C during an equal-parts run asks it to stop before
// its next part. Main thread only.
#pragma once

#include <optional>
#include <string>

#include "core/SplitCommands.h"

class ConsoleUi : public SplitUi {
public:
    ConsoleUi();
    ~ConsoleUi() override;
    ConsoleUi(const ConsoleUi&) = delete;
    ConsoleUi& operator=(const ConsoleUi&) = delete;

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;
    std::optional<std::string> AskOpenFileName() override;
    std::optional<std::string> AskSaveFileName(const std::string& proposedName) override;
    bool ExecuteFolderPicker(std::string& path) override;
    void SetProgressVisible(bool visible) override;
    void SetProgress(int percent) override;
    void ProcessMessages() override;
    void StopPlayerTimer() override {}

    // What the save dialog answers (nullopt: the user cancelled).
    void SetSaveAnswer(std::optional<std::string> answer) { saveAnswer_ = std::move(answer); }
    // What the folder picker answers (nullopt: the user cancelled).
    void SetFolderAnswer(std::optional<std::string> answer) { folderAnswer_ = std::move(answer); }
    // The commands it serves: a Ctrl-C asks them to stop, and their
    // success message is the one message for stdout.
    void SetCommands(TSplitCommands* commands) { commands_ = commands; }
    // The success message goes to stderr too, leaving stdout to a report
    // that must be nothing but itself (JSON).
    void KeepStandardOutput() { keepStandardOutput_ = true; }

private:
    std::optional<std::string> saveAnswer_;
    std::optional<std::string> folderAnswer_;
    TSplitCommands* commands_ = nullptr;
    bool progressShown_ = false;
    bool terminal_ = false;
    bool keepStandardOutput_ = false;
};
