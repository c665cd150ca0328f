#pragma once

// Camera set-up shared by the tests of picking, the camera and the screen transforms.

#include "geometry/Camera.h"

// A camera as the view sets it up after loading a mesh whose box diagonal is `scale`, in a view
// of width x height: in the trackball modes it looks at the origin from (0, 0, 0.4 scale).
// Projection and view are computed.
inline Camera fittedCamera(int mode, float scale, double width = 800.0, double height = 600.0)
{
    Camera camera;
    camera.setViewport(width, height);
    camera.setMotionScale(scale);
    camera.setMode(mode);
    camera.computeProjection();
    camera.computeView();
    return camera;
}
