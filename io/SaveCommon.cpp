#include "SaveCommon.h"

#include <QSaveFile>

namespace {

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

QString cannotWrite(const QString &path, const QString &reason)
{
    return QStringLiteral("cannot write \"%1\": %2").arg(path, reason);
}

} // namespace

void SaveCommon::begin(const MessageSink &sink)
{
    if (sink)
        sink(QStringLiteral("Save"));
}

bool SaveCommon::end(const MessageSink &sink, bool ok)
{
    if (sink)
        sink(QStringLiteral("Argilium"));
    return ok;
}

bool SaveCommon::checkCorners(const Mesh &mesh, QString *error)
{
    const int vertexCount = static_cast<int>(mesh.getVertices().size());
    for (const Triangle &t : mesh.getTriangles()) {
        for (int v : {t.vertex1, t.vertex2, t.vertex3}) {
            if (v < 0 || v >= vertexCount)
                return fail(error,
                    QStringLiteral("cannot save: triangle %1 names vertex %2, which does not "
                                   "exist")
                        .arg(t.id)
                        .arg(v));
        }
    }
    return true;
}

bool SaveCommon::open(QSaveFile &file, const QString &path, QString *error)
{
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, cannotWrite(path, file.errorString()));
    return true;
}

bool SaveCommon::commit(QSaveFile &file, bool written, const QString &path, QString *error)
{
    if (!written) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(error, cannotWrite(path, reason));
    }
    if (!file.commit())
        return fail(error, cannotWrite(path, file.errorString()));
    return true;
}
