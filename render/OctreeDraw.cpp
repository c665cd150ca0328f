#include "OctreeDraw.h"

#include "DataFiles.h"
#include "mesh/Aabb.h"
#include "mesh/Octree.h"

#include <QColor>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Compatibility>
#include <QOpenGLVersionFunctionsFactory>

QOpenGLFunctions_3_3_Compatibility *compatibilityFunctions()
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!context)
        return nullptr;
    auto *gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Compatibility>(context);
    // A core profile context has no fixed-function entry points: initialisation fails silently
    // and the first call through the object would crash.
    if (!gl || !gl->initializeOpenGLFunctions()) {
        reportRenderProblem(QStringLiteral("the OpenGL context has no compatibility profile; the "
                                           "octree overlay is not drawn"));
        return nullptr;
    }
    return gl;
}

void drawAabb(QOpenGLFunctions_3_3_Compatibility &gl, const Aabb &box, const QColor &color)
{
    const QVector3D &a = box.min;
    const QVector3D &b = box.max;
    // Edges: the face z = min.z around, then the vertical edges and the face z = max.z.
    const float corners[24][3] = {
        {a.x(), a.y(), a.z()}, {b.x(), a.y(), a.z()}, // bottom face
        {b.x(), a.y(), a.z()}, {b.x(), b.y(), a.z()}, //
        {b.x(), b.y(), a.z()}, {a.x(), b.y(), a.z()}, //
        {a.x(), b.y(), a.z()}, {a.x(), a.y(), a.z()}, //
        {a.x(), a.y(), a.z()}, {a.x(), a.y(), b.z()}, // up at (min.x, min.y)
        {a.x(), a.y(), b.z()}, {b.x(), a.y(), b.z()}, // along x at (min.y, max.z)
        {b.x(), a.y(), b.z()}, {b.x(), a.y(), a.z()}, // down at (max.x, min.y)
        {b.x(), a.y(), b.z()}, {b.x(), b.y(), b.z()}, // along y at (max.x, max.z)
        {b.x(), b.y(), b.z()}, {b.x(), b.y(), a.z()}, // down at (max.x, max.y)
        {b.x(), b.y(), b.z()}, {a.x(), b.y(), b.z()}, // along x at (max.y, max.z)
        {a.x(), b.y(), b.z()}, {a.x(), b.y(), a.z()}, // down at (min.x, max.y)
        {a.x(), b.y(), b.z()}, {a.x(), a.y(), b.z()}, // along y at (min.x, max.z)
    };
    const GLboolean lighting = gl.glIsEnabled(GL_LIGHTING);
    gl.glDisable(GL_LIGHTING);
    gl.glBegin(GL_LINES);
    gl.glColor3f(color.redF(), color.greenF(), color.blueF());
    for (const auto &c : corners)
        gl.glVertex3f(c[0], c[1], c[2]);
    gl.glEnd();
    if (lighting)
        gl.glEnable(GL_LIGHTING);
}

int drawOctree(QOpenGLFunctions_3_3_Compatibility &gl, const Octree &node)
{
    drawAabb(gl, node.aabbSplit, QColor(0, 255, 0, 255));
    drawAabb(gl, node.aabbLoose, QColor(255, 0, 0, 255));
    int boxes = 2;
    if (!node.isLeaf()) {
        for (const auto &child : node.children) {
            if (child)
                boxes += drawOctree(gl, *child);
        }
    }
    return boxes;
}

int drawOctree(const Octree &node)
{
    QOpenGLFunctions_3_3_Compatibility *gl = compatibilityFunctions();
    return gl ? drawOctree(*gl, node) : 0;
}
