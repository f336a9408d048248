#include "volume.h"

#include "datreader.h"
#include "memorylimit.h"

#include <iostream>

bool Volume::load(const std::string &fileName)
{
    DatReadOptions options;
    options.maxDataBytes = loadableDataBytes();
    return readDatFile(fileName, *this, std::cout, std::cerr, options).ok;
}
