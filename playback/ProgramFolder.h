// The program's folder, always ending in "/": Option.ini, the help page and
// the audio library are looked for there. In the build tree that is the
// executable's own folder. An installed program keeps them in a private
// library folder named in its run path (bin/../lib/corvella): the first
// run-path folder that holds libbass.so is taken then.
#pragma once

#include <string>
#include <vector>

std::string ProgramFolder();

// The folder the program's files are in: executableFolder when it holds
// libraryFile, else the first of runPath (entries may use $ORIGIN or
// ${ORIGIN} for executableFolder) that does, else executableFolder.
// Every folder returned ends in "/".
std::string ChooseProgramFolder(const std::string& executableFolder, const std::vector<std::string>& runPath,
                                const std::string& libraryFile);
