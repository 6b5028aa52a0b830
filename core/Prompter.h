// Prompter: every modal question the program asks, in one small interface.
// The main window answers with real dialogs, the command-line companion
// from its arguments, and tests with scripted answers.
#pragma once

#include <optional>
#include <string>

#include "playback/MessagePrompter.h"

class Prompter : public MessagePrompter {
public:
    // The open dialog of the split and tag pages ("MP3 files (*.mp3)" first,
    // then every audio file the player reads, then all files).
    // Empty when the user cancelled.
    virtual std::optional<std::string> AskOpenFileName() = 0;
    // The save dialog of the section command: filter "MP3 Files (*.mp3)",
    // default suffix mp3, asks before overwriting an existing file;
    // proposedName is a bare file name. Empty when the user cancelled.
    virtual std::optional<std::string> AskSaveFileName(const std::string& proposedName) = 0;
    // The folder picker: shows it starting at path (when not empty) and, on
    // confirmation, stores the chosen folder in path and returns true;
    // returns false and leaves path unchanged on cancel.
    virtual bool ExecuteFolderPicker(std::string& path) = 0;
};
