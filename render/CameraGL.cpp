#include "CameraGL.h"

#include "geometry/Camera.h"

#include <QtGui/qopengl.h>

void applyViewport(const Camera &camera, qreal devicePixelRatio)
{
    const std::array<int, 4> r = camera.viewportRect(devicePixelRatio);
    glViewport(r[0], r[1], r[2], r[3]);
}

void loadProjection(const Camera &camera)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMultMatrixf(camera.getProjection().constData());
}

void loadView(const Camera &camera)
{
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMultMatrixf(camera.getView().constData());
}

void prepareCameraFrame(Camera &camera, qreal devicePixelRatio)
{
    camera.computeProjection();
    applyViewport(camera, devicePixelRatio);
    camera.computeView();
    loadProjection(camera);
    loadView(camera);
}
