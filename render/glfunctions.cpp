#include "glfunctions.h"

#include <QStringList>

namespace {

const char *nameOr(const char *name, const char *memberName)
{
    return name ? name : memberName;
}

} // namespace

bool GlFunctions::load(const Resolver &resolve, QString *missing)
{
    QStringList absent;
    const auto find = [&](const char *name, const char *otherName) {
        void *found = resolve(name);
        if (!found && otherName)
            found = resolve(otherName);
        return found;
    };
#define KELVARA_GL_FUNCTION(required, returnType, name, parameters, firstName, secondName)         \
    name = reinterpret_cast<decltype(name)>(find(nameOr(firstName, #name), secondName));           \
    if (required && !name)                                                                         \
        absent << QStringLiteral(#name);
#include "glfunctionlist.h"
#undef KELVARA_GL_FUNCTION
    if (missing)
        *missing = absent.join(QStringLiteral(", "));
    return absent.isEmpty();
}
