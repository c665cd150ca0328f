#pragma once

#include <QString>

// The formats offered by the "&Save" dialog: binary STL first, then OBJ. The file's name picks
// the writer (Files::save): OBJ for a name ending in ".obj", binary STL otherwise.
namespace SaveFormat {

QString stlFilter();
QString objFilter();
// Both filters, for QFileDialog.
QString filters();
// The name to save under: as typed, except that with the OBJ filter chosen a name that ends in
// neither ".obj" nor ".stl" gets ".obj", so that the chosen format is the one written. A null
// name (a cancelled dialog) stays null.
QString pathFor(const QString &name, const QString &selectedFilter);

} // namespace SaveFormat
