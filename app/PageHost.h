// What the window's pages share, held by the window: the prompts, the error
// boundary every handler runs in, the preview player, the two tag objects
// (the split page reads them and its commands write them into the parts;
// the tag page edits them), and the help, web and About commands of the
// links at the foot of each page.
#pragma once

#include <functional>
#include <string>

class GuiPrompterBase;
class TBASSPlayer;
class TID3v1;
class TID3v2;

class PageHost {
public:
    virtual GuiPrompterBase& prompts() = 0;
    // Runs a handler; an error it ends with is shown once in an error box.
    virtual void RunHandler(const std::function<void()>& handler) = 0;
    virtual TBASSPlayer& Player() = 0;
    virtual TID3v1& Id3v1() = 0;
    virtual TID3v2& Id3v2() = 0;

    virtual const std::string& WebAddress() const = 0;
    virtual void ShowHelp() = 0;
    virtual void ShowWebSite() = 0;
    virtual void ShowAbout() = 0;

protected:
    ~PageHost() = default;
};
