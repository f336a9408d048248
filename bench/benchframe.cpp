#include "benchcommands.h"

#include <iostream>

int benchFrame(int &, char **, const std::vector<std::string> &)
{
    std::cerr << "kelvara-bench: frame is not built yet" << std::endl;
    return 1;
}
