#include "loadreport.h"

#include <ostream>
#include <sstream>

void reportLoadError(std::ostream &err, const std::string &reason)
{
    err << "+ Error loading file." << std::endl;
    if (!reason.empty())
        err << "+ " << reason << std::endl;
    err << std::endl;
}

std::string numberText(double value)
{
    std::ostringstream text;
    text.precision(6);
    text << value;
    return text.str();
}
