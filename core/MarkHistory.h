// MarkHistory: undo and redo of the split page's marks. The page commits
// the marks (the two time texts, as typed or set) whenever a change of
// them is complete: a drag when the button is released, a typed time when
// its field is left. Undo gives back the marks committed before the
// current ones, redo what undo took; a new change drops what could be redone.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct MarkTexts {
    std::string Start;
    std::string End;

    bool operator==(const MarkTexts&) const = default;
};

class MarkHistory {
public:
    // Starts over from marks (a newly opened file), with nothing to undo.
    void Reset(MarkTexts marks);
    // Records marks as the current ones; the same marks again change nothing.
    void Commit(const MarkTexts& marks);
    // The marks to show, or nothing when there is nothing to undo or redo.
    std::optional<MarkTexts> Undo();
    std::optional<MarkTexts> Redo();
    const MarkTexts& Current() const { return current_; }

private:
    MarkTexts current_;
    std::vector<MarkTexts> undo_;
    std::vector<MarkTexts> redo_;
};
