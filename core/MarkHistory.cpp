#include "MarkHistory.h"

namespace {

// Enough for an afternoon's nudging; the oldest changes go first.
constexpr size_t kMaxSteps = 500;

} // namespace

void MarkHistory::Reset(MarkTexts marks)
{
    current_ = std::move(marks);
    undo_.clear();
    redo_.clear();
}

void MarkHistory::Commit(const MarkTexts& marks)
{
    if (marks == current_)
        return;
    undo_.push_back(std::move(current_));
    if (undo_.size() > kMaxSteps)
        undo_.erase(undo_.begin());
    current_ = marks;
    redo_.clear();
}

std::optional<MarkTexts> MarkHistory::Undo()
{
    if (undo_.empty())
        return std::nullopt;
    redo_.push_back(std::move(current_));
    current_ = std::move(undo_.back());
    undo_.pop_back();
    return current_;
}

std::optional<MarkTexts> MarkHistory::Redo()
{
    if (redo_.empty())
        return std::nullopt;
    undo_.push_back(std::move(current_));
    current_ = std::move(redo_.back());
    redo_.pop_back();
    return current_;
}
