#pragma once
// What the program says about itself: --help and --version.

#include <string>
#include <vector>

// The help text, one ANSI text per console line.
std::vector<std::string> HelpLines();

// "path2ini" and the version of the build.
std::string VersionLine();
