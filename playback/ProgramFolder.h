// The folder of the running executable, always ending in "/": Option.ini,
// the help page and the audio library are looked for there.
#pragma once

#include <string>

std::string ProgramFolder();
