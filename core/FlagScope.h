// FlagScope: raises a flag for the length of a scope and lowers it again on
// every way out, so a flag can never stay raised after the change it marks
// (an exception, or setting a text to the text it already holds, which
// emits no change at all).
#pragma once

class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};
