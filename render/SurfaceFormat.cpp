#include "SurfaceFormat.h"

#include <QSurfaceFormat>

void setDefaultSurfaceFormat(int samples)
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(3, 3);
    // Without this option a request for 3.0 or above silently yields a core profile context.
    format.setOption(QSurfaceFormat::DeprecatedFunctions);
    format.setDepthBufferSize(24);
    format.setSamples(samples);
    QSurfaceFormat::setDefaultFormat(format);
}
