#include "loadreport.h"

#include <ostream>

void reportLoadError(std::ostream &err, const std::string &reason)
{
    err << "+ Error loading file." << std::endl;
    if (!reason.empty())
        err << "+ " << reason << std::endl;
    err << std::endl;
}
