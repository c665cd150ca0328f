#pragma once

#include <QtGlobal>

class Camera;

// The OpenGL half of the camera. Each needs the view's OpenGL context current and a context
// with the fixed-function matrix stacks (a compatibility profile).

// Sets the GL viewport to (0, 0, width, height) of the camera's view, in device pixels: widget
// sizes and mouse positions are in widget pixels, the framebuffer in device pixels.
void applyViewport(const Camera &camera, qreal devicePixelRatio = 1.0);
// Loads the camera's projection matrix into GL_PROJECTION.
void loadProjection(const Camera &camera);
// Loads the camera's view matrix into GL_MODELVIEW and leaves GL_MODELVIEW selected.
void loadView(const Camera &camera);

// The start of a frame: builds the projection, sets the viewport, builds the view and loads both
// matrices, in that order.
void prepareCameraFrame(Camera &camera, qreal devicePixelRatio = 1.0);
