#include "volume.h"

#include "volumefile.h"

bool Volume::load(const std::string &fileName)
{
    return loadVolumeFile(fileName, *this).ok;
}
