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

void show(const MessageSink &sink, const char *text)
{
    if (sink)
        sink(QString::fromLatin1(text));
}

bool checkCorners(const Mesh &mesh, QString *error)
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

bool commit(QSaveFile &file, bool written, const QString &path, QString *error)
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

} // namespace

bool SaveCommon::start(
    const Mesh &mesh, QSaveFile &file, const QString &path, const MessageSink &sink, QString *error)
{
    show(sink, "Save");
    bool ok = checkCorners(mesh, error);
    if (ok && !file.open(QIODevice::WriteOnly))
        ok = fail(error, cannotWrite(path, file.errorString()));
    if (!ok)
        show(sink, "Argilium");
    return ok;
}

bool SaveCommon::finish(
    QSaveFile &file, bool written, const QString &path, const MessageSink &sink, QString *error)
{
    const bool ok = commit(file, written, path, error);
    show(sink, "Argilium");
    return ok;
}
