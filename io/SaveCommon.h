#pragma once

// Steps shared by the mesh writers of Files (saveSTL, saveOBJ): the messages around a save, the
// check of the triangles' corners, and opening and finishing the temporary file.

#include "mesh/Mesh.h"

#include <QString>

class QSaveFile;

namespace SaveCommon {

// Shows "Save" on the sink, checks that every triangle names existing vertices, and opens
// `file` (whose target is `path`) for writing. On failure: the reason in *error, "Argilium" on
// the sink, and false.
bool start(const Mesh &mesh, QSaveFile &file, const QString &path, const MessageSink &sink,
    QString *error);
// Finishes the writing: with `written` false the temporary file is dropped and the write error
// reported, otherwise it replaces the target. Shows "Argilium" on the sink; false with the
// reason in *error on failure.
bool finish(
    QSaveFile &file, bool written, const QString &path, const MessageSink &sink, QString *error);

} // namespace SaveCommon
