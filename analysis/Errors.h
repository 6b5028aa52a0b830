// CorvellaError: the one error type a command may end with. It carries the
// message the user sees ("Cannot open file ...", "Stream read error", ...);
// the window shows it once at its event-handler boundary, the command-line
// companion prints it and exits with status 1.
#pragma once

#include <stdexcept>
#include <string>

class CorvellaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "Cannot open file "<path>". <reason>"
CorvellaError FileOpenError(const std::string& path, const std::string& reason);
// "Cannot create file "<path>". <reason>"
CorvellaError FileCreateError(const std::string& path, const std::string& reason);
// "Stream read error"
CorvellaError StreamReadError();
// "Stream write error: "<path>". <reason>"
CorvellaError StreamWriteError(const std::string& path, const std::string& reason);
// "'<text>' is not a valid integer value"
CorvellaError IntegerConvertError(const std::string& text);
