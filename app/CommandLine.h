#pragma once

#include <QString>

// The options that answer on the command line without opening a window. Read from argv before
// the application object exists, so they work without a display. Only these exact words are
// taken; everything else (the first argument "vrok", other options) is left to the program.
namespace CommandLine {
// "--help" / "-h" or "--version" / "-v" anywhere on the command line: prints the answer to
// standard output and returns true (the program then ends with exit code 0).
bool answered(int argc, char* argv[]);
QString helpText();
QString versionText();
} // namespace CommandLine
