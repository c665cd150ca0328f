#pragma once

// Sets the default OpenGL surface format of the program: a compatibility profile (the overlays use
// fixed-function calls), a 24-bit depth buffer and multisampling. Call before the application
// object is constructed.
void setDefaultSurfaceFormat(int samples = 4);
