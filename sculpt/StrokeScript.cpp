#include "StrokeScript.h"

#include "Sculptor.h"
#include "Stroke.h"
#include "geometry/Geometry.h"
#include "geometry/Picking.h"
#include "mesh/Mesh.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>

namespace {

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool readVector(const QJsonValue &value, const QString &what, QVector3D &out, QString *error)
{
    const QJsonArray a = value.toArray();
    if (!value.isArray() || a.size() != 3)
        return fail(error, QStringLiteral("%1 must be an array of three numbers").arg(what));
    float c[3];
    for (int i = 0; i < 3; ++i) {
        if (!a[i].isDouble())
            return fail(error, QStringLiteral("%1 must be an array of three numbers").arg(what));
        const double d = a[i].toDouble();
        if (!std::isfinite(d) || !std::isfinite(float(d)))
            return fail(error, QStringLiteral("%1 has a coordinate that is not finite").arg(what));
        c[i] = float(d);
    }
    out = QVector3D(c[0], c[1], c[2]);
    return true;
}

bool readRay(const QJsonValue &value, const QString &what, StrokeScript::Ray &ray,
    const QStringList &allowed, QString *error)
{
    if (!value.isObject())
        return fail(error, QStringLiteral("%1 must be an object").arg(what));
    const QJsonObject o = value.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!allowed.contains(it.key()))
            return fail(error, QStringLiteral("%1: unknown key \"%2\"").arg(what, it.key()));
    }
    if (!o.contains(QStringLiteral("origin")) || !o.contains(QStringLiteral("direction")))
        return fail(error, QStringLiteral("%1 needs \"origin\" and \"direction\"").arg(what));
    if (!readVector(
            o.value(QStringLiteral("origin")), what + QStringLiteral(" origin"), ray.origin, error))
        return false;
    if (!readVector(o.value(QStringLiteral("direction")), what + QStringLiteral(" direction"),
            ray.direction, error))
        return false;
    if (!(ray.direction.lengthSquared() > 0.0f) || !std::isfinite(ray.direction.lengthSquared()))
        return fail(error, QStringLiteral("%1 direction must be a non-zero vector").arg(what));
    return true;
}

// A setting given as a button text or as its id.
bool readChoice(const QJsonValue &value, const QString &what, const QStringList &names, int &out,
    QString *error)
{
    if (value.isString()) {
        const int index = names.indexOf(value.toString());
        if (index < 0)
            return fail(error,
                QStringLiteral("\"%1\" must be one of %2, not \"%3\"")
                    .arg(what, names.join(QStringLiteral(", ")), value.toString()));
        out = index;
        return true;
    }
    const double d = value.toDouble(-1.0);
    if (value.isDouble() && d >= 0.0 && d < names.size() && d == std::floor(d)) {
        out = int(d);
        return true;
    }
    return fail(error,
        QStringLiteral("\"%1\" must be one of %2 or an id from 0 to %3")
            .arg(what, names.join(QStringLiteral(", ")))
            .arg(names.size() - 1));
}

bool readUnit(const QJsonValue &value, const QString &what, float &out, QString *error)
{
    const double d = value.toDouble(-1.0);
    if (!value.isDouble() || !(d >= 0.0 && d <= 1.0))
        return fail(error, QStringLiteral("\"%1\" must be a number from 0 to 1").arg(what));
    out = float(d);
    return true;
}

bool readBool(const QJsonValue &value, const QString &what, bool &out, QString *error)
{
    if (!value.isBool())
        return fail(error, QStringLiteral("\"%1\" must be true or false").arg(what));
    out = value.toBool();
    return true;
}

bool readDocument(const QByteArray &json, QJsonObject &out, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(error,
            QStringLiteral("not valid JSON at offset %1: %2")
                .arg(parseError.offset)
                .arg(parseError.errorString()));
    if (!doc.isObject())
        return fail(error, QStringLiteral("the stroke must be a JSON object"));
    out = doc.object();
    return true;
}

bool readStroke(const QJsonObject &o, StrokeScript &script, QString *error)
{
    using Dab = StrokeScript::Dab;
    script = StrokeScript();
    // The tool and topology names are the texts of the view's radio buttons, in id order.
    const QStringList tools {QStringLiteral("inflate"), QStringLiteral("deflate"),
        QStringLiteral("smooth"), QStringLiteral("flatten"), QStringLiteral("sweep"),
        QStringLiteral("mask"), QStringLiteral("crease")};
    const QStringList topologies {QStringLiteral("decimate"), QStringLiteral("subdivide"),
        QStringLiteral("uniform"), QStringLiteral("adaptive"), QStringLiteral("static")};

    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString &key = it.key();
        const QJsonValue v = it.value();
        bool ok = true;
        if (key == QLatin1String("tool"))
            ok = readChoice(v, key, tools, script.tool, error);
        else if (key == QLatin1String("topology"))
            ok = readChoice(v, key, topologies, script.topology, error);
        else if (key == QLatin1String("intensity"))
            ok = readUnit(v, key, script.intensity, error);
        else if (key == QLatin1String("detail"))
            ok = readUnit(v, key, script.detail, error);
        else if (key == QLatin1String("culling"))
            ok = readBool(v, key, script.culling, error);
        else if (key == QLatin1String("symmetry"))
            ok = readBool(v, key, script.symmetry, error);
        else if (key == QLatin1String("invert"))
            ok = readBool(v, key, script.invert, error);
        else if (key == QLatin1String("press")) {
            ok = readRay(v, QStringLiteral("press"), script.press,
                {QStringLiteral("origin"), QStringLiteral("direction")}, error);
            script.hasPress = ok;
        } else if (key == QLatin1String("dabs")) {
            if (!v.isArray())
                return fail(error, QStringLiteral("\"dabs\" must be an array"));
            const QJsonArray dabs = v.toArray();
            script.dabs.reserve(dabs.size());
            for (qsizetype i = 0; i < dabs.size(); ++i) {
                const QString what = QStringLiteral("dab %1").arg(i);
                Dab dab;
                if (!readRay(dabs[i], what, dab.ray,
                        {QStringLiteral("origin"), QStringLiteral("direction"),
                            QStringLiteral("radius")},
                        error))
                    return false;
                const QJsonValue r = dabs[i].toObject().value(QStringLiteral("radius"));
                const double radius = r.toDouble(-1.0);
                if (!r.isDouble() || !(radius > 0.0) || !std::isfinite(float(radius * radius)))
                    return fail(
                        error, QStringLiteral("%1 needs a positive finite \"radius\"").arg(what));
                dab.radius = float(radius);
                script.dabs.push_back(dab);
            }
        } else {
            return fail(error, QStringLiteral("unknown key \"%1\"").arg(key));
        }
        if (!ok)
            return false;
    }
    if (!o.contains(QStringLiteral("dabs")))
        return fail(error, QStringLiteral("the stroke needs a \"dabs\" array"));
    return true;
}

} // namespace

bool StrokeScript::parse(const QByteArray &json, StrokeScript &script, QString *error)
{
    QJsonObject o;
    if (!readDocument(json, o, error))
        return false;
    return readStroke(o, script, error);
}

bool StrokeScript::parseList(
    const QByteArray &json, std::vector<StrokeScript> &strokes, QString *error)
{
    strokes.clear();
    QJsonObject o;
    if (!readDocument(json, o, error))
        return false;
    if (!o.contains(QStringLiteral("strokes"))) {
        StrokeScript script;
        if (!readStroke(o, script, error))
            return false;
        strokes.push_back(std::move(script));
        return true;
    }
    const QJsonValue list = o.value(QStringLiteral("strokes"));
    if (o.size() != 1 || !list.isArray() || list.toArray().isEmpty())
        return fail(
            error, QStringLiteral("a file of strokes holds only \"strokes\", a non-empty array"));
    const QJsonArray array = list.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        StrokeScript script;
        QString reason;
        if (!array[i].isObject())
            return fail(error, QStringLiteral("stroke %1 must be a JSON object").arg(i));
        if (!readStroke(array[i].toObject(), script, &reason))
            return fail(error, QStringLiteral("stroke %1: %2").arg(i).arg(reason));
        strokes.push_back(std::move(script));
    }
    return true;
}

namespace {

// The segment of a ray that reaches beyond everything the octree holds.
void raySegment(
    const Mesh &mesh, const StrokeScript::Ray &ray, QVector3D &nearPoint, QVector3D &farPoint)
{
    nearPoint = ray.origin;
    float length = 1.0f;
    if (const Octree *root = mesh.getOctree()) {
        const Aabb &box = root->aabbLoose;
        length += (ray.origin - box.computeCenter()).length() + (box.max - box.min).length();
    }
    farPoint = ray.origin + Geometry::unitVector(ray.direction) * length;
}

} // namespace

StrokeReport replayStroke(Mesh &mesh, const StrokeScript &script)
{
    StrokeReport report;
    if (script.dabs.empty())
        return report;

    Sculptor sculptor;
    sculptor.setTool(script.tool);
    sculptor.setTopoMode(script.topology);
    sculptor.setIntensity(script.intensity);
    sculptor.setDetail(script.detail);
    sculptor.setCulling(script.culling);
    sculptor.setInvert(script.invert);
    Picking picking;

    // Press: the pick of the ray under the cursor, then the history state and sweep centre.
    QVector3D nearPoint;
    QVector3D farPoint;
    raySegment(mesh, script.hasPress ? script.press : script.dabs.front().ray, nearPoint, farPoint);
    picking.intersectRay(&mesh, nearPoint, farPoint);
    Stroke::press(mesh, picking, sculptor);
    // The near point of the last application, from which the sweep direction is measured (the
    // view measures it between the near-plane points under the last and the current cursor).
    QVector3D lastNear = nearPoint;

    report.dabs.reserve(script.dabs.size());
    for (const StrokeScript::Dab &dab : script.dabs) {
        QElapsedTimer timer;
        timer.start();
        StrokeReport::DabReport result;
        raySegment(mesh, dab.ray, nearPoint, farPoint);
        result.hit = picking.intersectRay(&mesh, nearPoint, farPoint);
        const float radiusSquared = dab.radius * dab.radius;
        if (result.hit)
            picking.setRadiusWorldSquared(radiusSquared);
        if (result.hit || sculptor.isSweep()) {
            if (sculptor.isSweep()) {
                sculptor.setSweepCenter(
                    Geometry::projectOnLine(sculptor.getSweepCenter(), nearPoint, farPoint));
                sculptor.setSweepDir(Geometry::unitVector(nearPoint - lastNear));
                picking.setMesh(&mesh);
                picking.setIntersectionPoint(sculptor.getSweepCenter());
                picking.setRadiusWorldSquared(radiusSquared);
            }
            result.applications =
                Stroke::sculptDab(mesh, picking, sculptor, nearPoint, farPoint, script.symmetry);
            lastNear = nearPoint;
        }
        result.milliseconds = timer.nsecsElapsed() / 1e6;
        report.hits += result.hit ? 1 : 0;
        report.applications += result.applications;
        report.dabs.push_back(result);
    }

    Stroke::release(mesh);
    return report;
}
