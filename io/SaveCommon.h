#pragma once

// Steps shared by the mesh writers of Files (saveSTL, saveOBJ): the messages around a save, the
// check of the triangles' corners, and opening and finishing the temporary file.

#include "mesh/Mesh.h"

#include <QString>

class QSaveFile;

namespace SaveCommon {

// Shows "Save" on the sink (when there is one); every save starts with it.
void begin(const MessageSink &sink);
// Shows "Argilium" on the sink and returns `ok`; every way out of a save ends with it.
bool end(const MessageSink &sink, bool ok);

// False, with the reason in *error, when a triangle names a vertex that does not exist.
bool checkCorners(const Mesh &mesh, QString *error);
// Opens `file` (whose target is `path`) for writing; false with the reason in *error.
bool open(QSaveFile &file, const QString &path, QString *error);
// Finishes the writing: with `written` false the temporary file is dropped and the write error
// reported, otherwise it replaces the target. False with the reason in *error.
bool commit(QSaveFile &file, bool written, const QString &path, QString *error);

} // namespace SaveCommon
