#include "MeshRenderer.h"

#include "DataFiles.h"
#include "OctreeDraw.h"
#include "mesh/Mesh.h"
#include "mesh/Parallel.h"

#include <QFile>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_3_3_Compatibility>
#include <QSizeF>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// The largest element: three floats or three 32-bit indices (a mask is one float).
constexpr int bytesPerElement = 12;

QOpenGLFunctions *functions()
{
    return QOpenGLContext::currentContext()->functions();
}

// Capacity in elements of a buffer holding `count` elements with as much room again, kept
// within the int byte sizes that QOpenGLBuffer takes.
int capacityFor(int count)
{
    const std::int64_t wanted = 2 * static_cast<std::int64_t>(count);
    return static_cast<int>(std::min<std::int64_t>(wanted, INT_MAX / bytesPerElement));
}

// Fills the first `count` elements (of N values each) of a freshly sized buffer with
// `fill(i, element)`, staging them in memory first; the spare room past them is left unwritten.
template<typename T, int N = 3, typename Fill>
void upload(QOpenGLBuffer &buffer, int count, int capacity, Fill fill)
{
    constexpr int bytes = N * sizeof(T);
    if (!buffer.isCreated())
        buffer.create();
    buffer.setUsagePattern(QOpenGLBuffer::DynamicDraw);
    buffer.bind();
    buffer.allocate(capacity * bytes);
    count = std::min(count, capacity);
    if (count > 0) {
        std::vector<T> staging(N * static_cast<size_t>(count));
#pragma omp parallel for schedule(static)
        for (int i = 0; i < count; ++i)
            fill(i, staging.data() + N * static_cast<size_t>(i));
        buffer.write(0, staging.data(), count * bytes);
    }
    buffer.release();
}

// Writes the listed elements in place through mapped memory, in parallel; entries outside the
// capacity are skipped. When the buffer cannot be mapped, the elements are written one by one.
template<typename T, int N = 3, typename Fill>
void patch(QOpenGLBuffer &buffer, int capacity, const std::vector<int> &list, Fill fill)
{
    constexpr int bytes = N * sizeof(T);
    if (list.empty() || !buffer.isCreated() || capacity <= 0)
        return;
    const int n = static_cast<int>(list.size());
    buffer.bind();
    if (void *mapped = buffer.map(QOpenGLBuffer::WriteOnly)) {
        T *data = static_cast<T *>(mapped);
        forEachIndex(n, [&](int k) {
            const int i = list[k];
            if (i >= 0 && i < capacity)
                fill(i, data + N * static_cast<size_t>(i));
        });
        if (!buffer.unmap())
            reportRenderProblem(QStringLiteral("a GPU buffer was corrupted while mapped"));
    } else {
        reportRenderProblem(QStringLiteral("GPU buffers cannot be mapped; they are written "
                                           "element by element instead"));
        for (int k = 0; k < n; ++k) {
            const int i = list[k];
            if (i < 0 || i >= capacity)
                continue;
            T element[N];
            fill(i, element);
            buffer.write(i * bytes, element, bytes);
        }
    }
    buffer.release();
}

void storePosition(const Mesh &mesh, int i, float *out)
{
    const QVector3D &p = mesh.getVertex(i).position;
    out[0] = p.x();
    out[1] = p.y();
    out[2] = p.z();
}

void storeNormal(const Mesh &mesh, int i, float *out)
{
    const QVector3D &n = mesh.getVertex(i).normal;
    out[0] = n.x();
    out[1] = n.y();
    out[2] = n.z();
}

void storeMask(const Mesh &mesh, int i, float *out)
{
    out[0] = mesh.getVertex(i).mask;
}

void storeCorners(const Mesh &mesh, int i, unsigned *out)
{
    const Triangle &t = mesh.getTriangle(i);
    out[0] = static_cast<unsigned>(t.vertex1);
    out[1] = static_cast<unsigned>(t.vertex2);
    out[2] = static_cast<unsigned>(t.vertex3);
}

template<typename T>
std::vector<T> readBack(QOpenGLBuffer &buffer)
{
    if (!buffer.isCreated())
        return {};
    buffer.bind();
    const int bytes = buffer.size();
    std::vector<T> data(std::max(bytes, 0) / sizeof(T));
    if (!data.empty())
        buffer.read(0, data.data(), static_cast<int>(data.size() * sizeof(T)));
    buffer.release();
    return data;
}
} // namespace

MeshRenderer::MeshRenderer()
    : vertexBuffer_(QOpenGLBuffer::VertexBuffer)
    , normalBuffer_(QOpenGLBuffer::VertexBuffer)
    , maskBuffer_(QOpenGLBuffer::VertexBuffer)
    , indexBuffer_(QOpenGLBuffer::IndexBuffer)
{ }

MeshRenderer::~MeshRenderer()
{
    // Buffers and programs free themselves through Qt's shared-resource tracking (at once when
    // a context of their group is current, later otherwise). The texture is a plain name.
    QOpenGLContext *current = QOpenGLContext::currentContext();
    if (textureId_ && current && textureContext_
        && QOpenGLContext::areSharing(current, textureContext_)) {
        GLuint id = textureId_;
        current->functions()->glDeleteTextures(1, &id);
    }
}

// ---------------------------------------------------------------------------------------------
// Buffers

void MeshRenderer::build(const Mesh &mesh)
{
    const int nbVertices = mesh.getNbVertices();
    const int nbTriangles = mesh.getNbTriangles();
    const int vertexCapacity = capacityFor(nbVertices);
    const int triangleCapacity = capacityFor(nbTriangles);
    if (vertexCapacity < nbVertices || triangleCapacity < nbTriangles)
        reportRenderProblem(QStringLiteral("the mesh is too large for the GPU buffers; only part "
                                           "of it is drawn"));

    upload<float>(vertexBuffer_, nbVertices, vertexCapacity,
        [&mesh](int i, float *out) { storePosition(mesh, i, out); });
    upload<float>(normalBuffer_, nbVertices, vertexCapacity,
        [&mesh](int i, float *out) { storeNormal(mesh, i, out); });
    upload<float, 1>(maskBuffer_, nbVertices, vertexCapacity,
        [&mesh](int i, float *out) { storeMask(mesh, i, out); });
    upload<unsigned>(indexBuffer_, nbTriangles, triangleCapacity,
        [&mesh](int i, unsigned *out) { storeCorners(mesh, i, out); });

    vertexCapacity_ = vertexCapacity;
    triangleCapacity_ = triangleCapacity;
    ++buildCount_;
}

void MeshRenderer::patchIndices(const Mesh &mesh, const std::vector<int> &triangles)
{
    patch<unsigned>(indexBuffer_, std::min(triangleCapacity_, mesh.getNbTriangles()), triangles,
        [&mesh](int i, unsigned *out) { storeCorners(mesh, i, out); });
}

void MeshRenderer::patchPositions(const Mesh &mesh, const std::vector<int> &vertices)
{
    patch<float>(vertexBuffer_, std::min(vertexCapacity_, mesh.getNbVertices()), vertices,
        [&mesh](int i, float *out) { storePosition(mesh, i, out); });
}

void MeshRenderer::patchNormals(const Mesh &mesh, const std::vector<int> &vertices)
{
    patch<float>(normalBuffer_, std::min(vertexCapacity_, mesh.getNbVertices()), vertices,
        [&mesh](int i, float *out) { storeNormal(mesh, i, out); });
}

void MeshRenderer::patchMasks(const Mesh &mesh, const std::vector<int> &vertices)
{
    patch<float, 1>(maskBuffer_, std::min(vertexCapacity_, mesh.getNbVertices()), vertices,
        [&mesh](int i, float *out) { storeMask(mesh, i, out); });
}

int MeshRenderer::bufferBytes(QOpenGLBuffer &buffer)
{
    if (!buffer.isCreated())
        return -1;
    buffer.bind(); // size() asks the GL about the buffer bound to the buffer's target
    const int bytes = buffer.size();
    buffer.release();
    return bytes;
}

int MeshRenderer::vertexBufferBytes()
{
    return bufferBytes(vertexBuffer_);
}

int MeshRenderer::normalBufferBytes()
{
    return bufferBytes(normalBuffer_);
}

int MeshRenderer::maskBufferBytes()
{
    return bufferBytes(maskBuffer_);
}

int MeshRenderer::indexBufferBytes()
{
    return bufferBytes(indexBuffer_);
}

std::vector<float> MeshRenderer::readPositions()
{
    return readBack<float>(vertexBuffer_);
}

std::vector<float> MeshRenderer::readNormals()
{
    return readBack<float>(normalBuffer_);
}

std::vector<float> MeshRenderer::readMasks()
{
    return readBack<float>(maskBuffer_);
}

std::vector<unsigned> MeshRenderer::readIndices()
{
    return readBack<unsigned>(indexBuffer_);
}

// ---------------------------------------------------------------------------------------------
// Drawing

void MeshRenderer::drawBuffers(const Mesh &mesh)
{
    QOpenGLShaderProgram *program = activeProgram();
    if (!program)
        return;
    const int nbTriangles = std::min(mesh.getNbTriangles(), triangleCapacity_);
    vertexBuffer_.bind();
    program->enableAttributeArray("vertex");
    program->setAttributeBuffer("vertex", GL_FLOAT, 0, 3, 0);
    normalBuffer_.bind();
    program->enableAttributeArray("normal");
    program->setAttributeBuffer("normal", GL_FLOAT, 0, 3, 0);
    maskBuffer_.bind();
    program->enableAttributeArray("mask");
    program->setAttributeBuffer("mask", GL_FLOAT, 0, 1, 0);
    indexBuffer_.bind();
    if (nbTriangles > 0)
        functions()->glDrawElements(GL_TRIANGLES, 3 * nbTriangles, GL_UNSIGNED_INT, nullptr);
    indexBuffer_.release();
    program->disableAttributeArray("mask");
    program->disableAttributeArray("normal");
    program->disableAttributeArray("vertex");
    maskBuffer_.release();
    normalBuffer_.release();
    vertexBuffer_.release();
}

void MeshRenderer::setCommonUniforms(QOpenGLShaderProgram &program, const QMatrix4x4 &modelView,
    const QMatrix4x4 &modelViewProjection, QVector3D pickedPoint, float radiusSquared,
    bool withNormalMatrix)
{
    program.setUniformValue("modelViewMatrix", modelView);
    program.setUniformValue("modelViewProjectionMatrix", modelViewProjection);
    if (withNormalMatrix)
        program.setUniformValue("normalMatrix", modelView.normalMatrix());
    program.setUniformValue("centerPicking", modelView.map(pickedPoint));
    program.setUniformValue("radiusSquared", radiusSquared);
}

void MeshRenderer::draw(const Mesh &mesh, const QMatrix4x4 &view, const QMatrix4x4 &projection,
    QSize viewport, QVector3D pickedPoint, float radiusSquared)
{
    overlayBoxCount_ = 0;
    if (buildCount_ == 0)
        return;
    const QMatrix4x4 modelView = view * mesh.getTransformation();
    const QMatrix4x4 modelViewProjection = projection * modelView;
    QOpenGLFunctions *gl = functions();

    if (QOpenGLShaderProgram *program = activeProgram()) {
        const QColor color = mesh.getColor();
        switch (shaderType_) {
        case Wireframe:
            program->bind();
            setCommonUniforms(
                *program, modelView, modelViewProjection, pickedPoint, radiusSquared, false);
            program->setUniformValue("color", color);
            program->setUniformValue("winScale", QSizeF(viewport));
            drawBuffers(mesh);
            program->release();
            break;
        case Transparency:
            // Neither depth writes nor sorting: every layer of the mesh shows through.
            gl->glDepthMask(GL_FALSE);
            gl->glEnable(GL_BLEND);
            gl->glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            program->bind();
            setCommonUniforms(
                *program, modelView, modelViewProjection, pickedPoint, radiusSquared, true);
            program->setUniformValue("lightPosition", mesh.getCenter());
            program->setUniformValue("color",
                QColor::fromRgb(color.red(), color.green(), color.blue(), transparencyAlpha));
            drawBuffers(mesh);
            program->release();
            gl->glDisable(GL_BLEND);
            gl->glDepthMask(GL_TRUE);
            break;
        case Reflection1:
        case Reflection2:
            program->bind();
            setCommonUniforms(
                *program, modelView, modelViewProjection, pickedPoint, radiusSquared, true);
            program->setUniformValue("color", color);
            program->setUniformValue("reflectionTexture", 0);
            gl->glActiveTexture(GL_TEXTURE0);
            gl->glBindTexture(GL_TEXTURE_2D, textureId_);
            drawBuffers(mesh);
            gl->glBindTexture(GL_TEXTURE_2D, 0);
            program->release();
            break;
        default:
            program->bind();
            setCommonUniforms(
                *program, modelView, modelViewProjection, pickedPoint, radiusSquared, true);
            program->setUniformValue("color", color);
            drawBuffers(mesh);
            program->release();
            break;
        }
    }

    if (mesh.getDrawOctree() && mesh.getOctree())
        drawOverlay(mesh, view, projection);
}

void MeshRenderer::drawOverlay(
    const Mesh &mesh, const QMatrix4x4 &view, const QMatrix4x4 &projection)
{
    QOpenGLFunctions_3_3_Compatibility *gl = compatibilityFunctions();
    if (!gl)
        return;
    // The camera has loaded the same two matrices into the fixed-function stacks; loading them
    // here again keeps the overlay right whatever the stacks hold, and the stacks are restored.
    gl->glMatrixMode(GL_PROJECTION);
    gl->glPushMatrix();
    gl->glLoadMatrixf(projection.constData());
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glPushMatrix();
    gl->glLoadMatrixf(view.constData());
    gl->glMultMatrixf(mesh.getTransformationData());
    overlayBoxCount_ = drawOctree(*gl, *mesh.getOctree());
    gl->glPopMatrix();
    gl->glMatrixMode(GL_PROJECTION);
    gl->glPopMatrix();
    gl->glMatrixMode(GL_MODELVIEW);
}

// ---------------------------------------------------------------------------------------------

MeshRenderer *attachRenderer(Mesh &mesh)
{
    auto owned = std::make_unique<MeshRenderer>();
    MeshRenderer *renderer = owned.get();
    mesh.setGpu(std::move(owned));
    if (mesh.getNbTriangles() > 0) {
        renderer->build(mesh);
        renderer->initShaders(mesh);
    }
    return renderer;
}

MeshRenderer *rendererOf(const Mesh &mesh)
{
    return dynamic_cast<MeshRenderer *>(mesh.getGpu());
}

void drawMesh(const Mesh &mesh, const QMatrix4x4 &view, const QMatrix4x4 &projection,
    QSize viewport, QVector3D pickedPoint, float radiusSquared)
{
    if (MeshRenderer *renderer = rendererOf(mesh))
        renderer->draw(mesh, view, projection, viewport, pickedPoint, radiusSquared);
}
