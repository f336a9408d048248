#include "windowsettings.h"

#include <QSettings>

namespace WindowSettings {

std::unique_ptr<QSettings> open(bool wanted)
{
    if (!wanted || qEnvironmentVariableIsSet(disableVariable))
        return nullptr;
    return std::make_unique<QSettings>(QSettings::UserScope, "Kelvara", "kelvara");
}

} // namespace WindowSettings
