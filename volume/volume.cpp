#include "volume.h"

#include "datreader.h"

bool Volume::load(const std::string &fileName)
{
    return loadDatFile(fileName, *this).ok;
}
