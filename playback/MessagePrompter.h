// MessagePrompter: how a component that is not a window shows a modal
// message box. The main window implements it with real message boxes, the
// command-line companion on stderr, and tests record what was shown.
#pragma once

#include <string>

enum class MessageIcon { Information, Warning, Error, Confirmation };

class MessagePrompter {
public:
    virtual ~MessagePrompter() = default;
    // Shows text (lines separated by "\r\n" or "\n") in a modal box with one
    // OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) = 0;
};
