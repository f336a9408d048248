#pragma once

#include <QString>

struct Volume;
struct VolumeReadResult;

// The status-bar line after loading the file called shownName: on success its
// dimensions, voxel spacing, value range and any warning; on failure why.
// loaded is the volume read (only looked at on success).
QString loadStatusText(const QString &shownName, const Volume &loaded,
                       const VolumeReadResult &result);
