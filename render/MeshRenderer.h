#pragma once

#include "mesh/MeshGpu.h"

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector3D>

#include <memory>
#include <vector>

class Mesh;
class QOpenGLContext;

// The GPU half of a mesh: four buffers (positions, vertex normals, masks, triangle corner indices),
// the shader program of the mesh's shading mode and, in the two reflection modes, the
// environment texture. Every call needs the view's OpenGL context current; the renderer must be
// destroyed with that context current too (otherwise its texture is left to the context).
class MeshRenderer : public MeshGpu
{
public:
    // Shading modes, in the order of the shader buttons.
    enum Mode { Phong = 0, Wireframe = 1, Transparency = 2, Reflection1 = 3, Reflection2 = 4 };
    static constexpr int modeCount = 5;
    // Alpha of the mesh colour in the transparency mode, out of 255.
    static constexpr int transparencyAlpha = 35;

    MeshRenderer();
    ~MeshRenderer() override;
    MeshRenderer(const MeshRenderer &) = delete;
    MeshRenderer &operator=(const MeshRenderer &) = delete;

    // --- MeshGpu ---
    void build(const Mesh &mesh) override;
    void initShaders(const Mesh &mesh) override;
    int triangleCapacity() const override { return triangleCapacity_; }
    int vertexCapacity() const override { return vertexCapacity_; }
    void patchIndices(const Mesh &mesh, const std::vector<int> &triangles) override;
    void patchPositions(const Mesh &mesh, const std::vector<int> &vertices) override;
    void patchNormals(const Mesh &mesh, const std::vector<int> &vertices) override;
    void patchMasks(const Mesh &mesh, const std::vector<int> &vertices) override;

    // Binds the buffers to the attributes "vertex", "normal" and "mask" and draws the
    // triangles. The program must be bound.
    void drawBuffers(const Mesh &mesh);

    // Draws the mesh once: binds the program of the shading mode, sets its uniforms from the
    // camera's view and projection matrices, the viewport size in device pixels (what glViewport
    // received), the picked point in mesh space and the squared brush radius (0: no brush
    // outline), sets the mode's blending, depth and texture state, draws, restores the state,
    // and overlays the octree when the mesh asks for it.
    void draw(const Mesh &mesh, const QMatrix4x4 &view, const QMatrix4x4 &projection,
        QSize viewport, QVector3D pickedPoint, float radiusSquared);

    // --- State, for the view's status and for tests ---
    // Mode of the program built last.
    int shaderType() const { return shaderType_; }
    // True when the mode's own program compiled and linked; otherwise a plain built-in program
    // draws the mesh so that it stays visible.
    bool programReady() const { return programReady_; }
    // Texture of the reflection modes (0 when no image was ever loaded).
    unsigned textureId() const { return textureId_; }
    // The program that draws the mesh: the mode's own, the built-in replacement, or null.
    QOpenGLShaderProgram *program() { return activeProgram(); }
    // Number of full builds so far.
    int buildCount() const { return buildCount_; }
    // Boxes drawn by the octree overlay during the last draw (0 when it was off).
    int overlayBoxCount() const { return overlayBoxCount_; }
    // Sizes in bytes as the GL reports them (each buffer is bound for the query), -1 before the
    // first build.
    int vertexBufferBytes();
    int normalBufferBytes();
    int maskBufferBytes();
    int indexBufferBytes();
    // Whole contents of a buffer read back from the GPU, for checks.
    std::vector<float> readPositions();
    std::vector<float> readNormals();
    std::vector<float> readMasks();
    std::vector<unsigned> readIndices();

    // Shader files of a mode, in the order vertex, geometry (wireframe only), fragment.
    static QStringList shaderFiles(int mode);
    // Image of a reflection mode, empty for the others.
    static QString textureFile(int mode);

private:
    void loadTexture(int mode);
    bool buildProgram(int mode);
    bool buildFallbackProgram();
    QOpenGLShaderProgram *activeProgram();
    void setCommonUniforms(QOpenGLShaderProgram &program, const QMatrix4x4 &modelView,
        const QMatrix4x4 &modelViewProjection, QVector3D pickedPoint, float radiusSquared,
        bool withNormalMatrix);
    void drawOverlay(const Mesh &mesh, const QMatrix4x4 &view, const QMatrix4x4 &projection);
    int bufferBytes(QOpenGLBuffer &buffer);

    QOpenGLBuffer vertexBuffer_;
    QOpenGLBuffer normalBuffer_;
    QOpenGLBuffer maskBuffer_;
    QOpenGLBuffer indexBuffer_;
    int vertexCapacity_ = 0;
    int triangleCapacity_ = 0;
    int buildCount_ = 0;

    std::unique_ptr<QOpenGLShaderProgram> program_;
    std::unique_ptr<QOpenGLShaderProgram> fallback_;
    bool programReady_ = false;
    int shaderType_ = 0;

    unsigned textureId_ = 0;
    QOpenGLContext *textureContext_ = nullptr; // not owning
    int overlayBoxCount_ = 0;
};

// Gives `mesh` a renderer and, when the mesh already holds triangles (a reader has run its
// loading pipeline), uploads its buffers and builds the program of its shading mode at once, so
// that nothing of the pipeline has to run again. Needs the view's OpenGL context current.
MeshRenderer *attachRenderer(Mesh &mesh);

// The renderer attached to `mesh`, or null.
MeshRenderer *rendererOf(const Mesh &mesh);

// Draws `mesh` through its renderer; does nothing for a mesh without one.
void drawMesh(const Mesh &mesh, const QMatrix4x4 &view, const QMatrix4x4 &projection,
    QSize viewport, QVector3D pickedPoint, float radiusSquared);
