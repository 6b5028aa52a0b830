#include "Errors.h"

CorvellaError FileOpenError(const std::string& path, const std::string& reason)
{
    return CorvellaError("Cannot open file \"" + path + "\". " + reason);
}

CorvellaError FileCreateError(const std::string& path, const std::string& reason)
{
    return CorvellaError("Cannot create file \"" + path + "\". " + reason);
}

CorvellaError StreamReadError()
{
    return CorvellaError("Stream read error");
}

CorvellaError StreamWriteError(const std::string& path, const std::string& reason)
{
    return CorvellaError("Stream write error: \"" + path + "\". " + reason);
}

CorvellaError IntegerConvertError(const std::string& text)
{
    return CorvellaError("'" + text + "' is not a valid integer value");
}
