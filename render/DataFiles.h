#pragma once

#include <QString>
#include <QStringList>

// Data files read at run time (shader sources under "Shaders/", images under "Ressources/").

// Folders searched for data files, in order: share/argilium beside the program's bin/ folder (an
// installed program), the program's own folder (the build copies Shaders/ and Ressources/ beside
// the executable), then the working directory.
QStringList dataFolders();

// Path of the first existing file `relativePath` (for example "Shaders/phongVertex.glsl") under
// `folders`, in their order; an empty string when none exists.
QString findDataFile(const QString &relativePath, const QStringList &folders);
QString findDataFile(const QString &relativePath);

// Writes `message` to standard error unless the very same message was written before by this
// process, so that a failure met at every rebuild (a broken shader, a missing image) is reported
// once and not once per rebuild. Returns true when the message was written.
bool reportRenderProblem(const QString &message);
