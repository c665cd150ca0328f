#include "SaveFormat.h"

#include <QCoreApplication>

namespace SaveFormat {

QString stlFilter()
{
    return QCoreApplication::translate("Widget3D", "STL Files (*.stl )");
}

QString objFilter()
{
    return QCoreApplication::translate("Widget3D", "OBJ Files (*.obj)");
}

QString filters()
{
    return stlFilter() + QStringLiteral(";;") + objFilter();
}

QString pathFor(const QString &name, const QString &selectedFilter)
{
    if (name.isEmpty() || selectedFilter != objFilter())
        return name;
    if (name.endsWith(QLatin1String(".obj"), Qt::CaseInsensitive)
        || name.endsWith(QLatin1String(".stl"), Qt::CaseInsensitive))
        return name;
    return name + QStringLiteral(".obj");
}

} // namespace SaveFormat
