#pragma once

#include <iosfwd>
#include <string>

// The error lines of a failed load, the same for every file format:
// "+ Error loading file.", then "+ REASON" where a reason is known, then an
// empty line.
void reportLoadError(std::ostream &err, const std::string &reason);

// A number as load messages give it: six significant digits ("0.5", "1e+306").
std::string numberText(double value);
