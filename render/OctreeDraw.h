#pragma once

class Aabb;
class Octree;
class QColor;
class QOpenGLFunctions_3_3_Compatibility;

// Debug overlay of the octree, drawn with fixed-function GL_LINES into the current model-view and
// projection matrices. Needs a current compatibility-profile context; without one (a core
// profile) nothing is drawn and the problem is reported once.

// The twelve edges of `box` as 24 line vertices in `color`, lighting off during the lines (its
// previous state is restored afterwards).
void drawAabb(QOpenGLFunctions_3_3_Compatibility &gl, const Aabb &box, const QColor &color);

// Every node of the tree below and including `node`, in depth-first slot order: its cell box in
// green, then its loose box in red. Returns the number of boxes drawn (twice the node count).
int drawOctree(QOpenGLFunctions_3_3_Compatibility &gl, const Octree &node);
int drawOctree(const Octree &node);

// The fixed-function entry points of the current context, or null when there is no current
// context or it offers no compatibility profile (reported once).
QOpenGLFunctions_3_3_Compatibility *compatibilityFunctions();
