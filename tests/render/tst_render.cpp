#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "mesh/Mesh.h"
#include "mesh/MeshCheck.h"
#include "render/DataFiles.h"
#include "render/MeshRenderer.h"
#include "render/OctreeDraw.h"
#include "render/SurfaceFormat.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int imageSize = 200;

// Messages written to standard error through Qt while a test listens.
QStringList messages;

void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    messages << message;
}

// Appends vertices and triangles as the dynamic topology does (ids = indices, corner lists and
// rings kept up to date) and returns, in the two lists, what Mesh::updateMesh must be given.
void grow(Mesh &mesh, const std::vector<QVector3D> &positions,
    const std::vector<std::array<int, 3>> &triangles, std::vector<int> &changedTriangles,
    std::vector<int> &changedVertices)
{
    std::vector<Vertex> &vertices = mesh.getVertices();
    std::vector<Triangle> &tris = mesh.getTriangles();
    for (const QVector3D &p : positions) {
        changedVertices.push_back(static_cast<int>(vertices.size()));
        vertices.emplace_back(p, static_cast<int>(vertices.size()));
    }
    for (const auto &t : triangles) {
        const int id = static_cast<int>(tris.size());
        tris.emplace_back(QVector3D::normal(vertices[t[0]].position, vertices[t[1]].position,
                              vertices[t[2]].position),
            t[0], t[1], t[2], id);
        changedTriangles.push_back(id);
        for (int corner : t) {
            vertices[corner].addTriangle(id);
            if (std::find(changedVertices.begin(), changedVertices.end(), corner)
                == changedVertices.end())
                changedVertices.push_back(corner);
        }
    }
    for (int v : changedVertices)
        mesh.computeRingVertices(v);
}

float meshRadius(const Mesh &mesh)
{
    float radius = 0.0f;
    for (const Vertex &v : mesh.getVertices())
        radius = std::max(radius, (v.position - mesh.getCenter()).length());
    return radius;
}

// The vertex nearest the viewer of the default view (largest z in mesh space).
QVector3D frontPoint(const Mesh &mesh)
{
    QVector3D best = mesh.getVertex(0).position;
    for (const Vertex &v : mesh.getVertices()) {
        if (v.position.z() > best.z())
            best = v.position;
    }
    return best;
}

int countDifferent(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    }
    return n;
}

bool isPure(QRgb c, int r, int g, int b)
{
    return qRed(c) == r && qGreen(c) == g && qBlue(c) == b;
}

} // namespace

// The GPU half of the mesh: buffers, patching, the five shading programs, drawing, the octree
// overlay, and what happens when shader or image files are missing or broken.
class TestRender : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void dataFileOrder_data();
    void dataFileOrder();
    void fullBuild_data();
    void fullBuild();
    void attachBeforePipeline();
    void patchOrRebuild_data();
    void patchOrRebuild();
    void modesDraw_data();
    void modesDraw();
    void uniforms_data();
    void uniforms();
    void transparencyLeavesDepthAndBlendAsFound();
    void octreeOverlay_data();
    void octreeOverlay();
    void overlayFollowsModelMatrix();
    void missingShaderFiles();
    void brokenShaderReportedOnce();
    void missingImageKeepsProgram();

private:
    QOpenGLFunctions *gl() { return context->functions(); }
    QMatrix4x4 defaultView(const Mesh &mesh) const;
    QMatrix4x4 defaultProjection() const;
    QImage render(const Mesh &mesh, QVector3D picked, float radiusSquared);
    QImage render(const Mesh &mesh, const QMatrix4x4 &view, QVector3D picked, float radiusSquared);
    // Copies of the program's Shaders/ and Ressources/ in a fresh folder that becomes the
    // working directory; `withImages` false leaves Ressources/ out.
    QString makeDataCopy(QTemporaryDir &dir, bool withImages);

    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    QString sourceRoot;
    QString startFolder;
};

void TestRender::initTestCase()
{
    context = std::make_unique<QOpenGLContext>();
    QVERIFY2(context->create(), "no OpenGL context (the GL tests need an X server, e.g. Xvfb)");
    surface = std::make_unique<QOffscreenSurface>();
    surface->setFormat(context->format());
    surface->create();
    QVERIFY(context->makeCurrent(surface.get()));
    QVERIFY2(context->format().profile() != QSurfaceFormat::CoreProfile,
        "a core profile context has no fixed-function calls");

    QOpenGLFramebufferObjectFormat format;
    format.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
    fbo = std::make_unique<QOpenGLFramebufferObject>(imageSize, imageSize, format);
    QVERIFY(fbo->isValid());

    // The test executable has no Shaders/ beside it: the source tree's copy is found through the
    // working directory, the second place searched.
    const QString shader = QFINDTESTDATA("../../Shaders/phongVertex.glsl");
    QVERIFY2(!shader.isEmpty(), "Shaders/ not found from the test's source folder");
    sourceRoot = QFileInfo(shader).absoluteDir().absolutePath() + QStringLiteral("/..");
    sourceRoot = QDir::cleanPath(sourceRoot);
    startFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(sourceRoot));
}

void TestRender::cleanupTestCase()
{
    fbo.reset();
    if (context)
        context->doneCurrent();
    context.reset();
    surface.reset();
    QDir::setCurrent(startFolder);
}

void TestRender::cleanup()
{
    qInstallMessageHandler(nullptr);
    messages.clear();
    QDir::setCurrent(sourceRoot);
}

QMatrix4x4 TestRender::defaultView(const Mesh &mesh) const
{
    QMatrix4x4 view;
    view.lookAt(QVector3D(0, 0, 4.0f * meshRadius(mesh)), QVector3D(0, 0, 0), QVector3D(0, 1, 0));
    return view;
}

QMatrix4x4 TestRender::defaultProjection() const
{
    QMatrix4x4 projection;
    projection.perspective(40.0f, 1.0f, 10.0f, 5000.0f);
    return projection;
}

QImage TestRender::render(const Mesh &mesh, QVector3D picked, float radiusSquared)
{
    return render(mesh, defaultView(mesh), picked, radiusSquared);
}

QImage TestRender::render(
    const Mesh &mesh, const QMatrix4x4 &view, QVector3D picked, float radiusSquared)
{
    fbo->bind();
    gl()->glViewport(0, 0, imageSize, imageSize);
    gl()->glEnable(GL_DEPTH_TEST);
    gl()->glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    gl()->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawMesh(mesh, view, defaultProjection(), QSize(imageSize, imageSize), picked, radiusSquared);
    const QImage image = fbo->toImage();
    fbo->release();
    return image;
}

QString TestRender::makeDataCopy(QTemporaryDir &dir, bool withImages)
{
    const QDir target(dir.path());
    QStringList folders {QStringLiteral("Shaders")};
    if (withImages)
        folders << QStringLiteral("Ressources");
    for (const QString &folder : folders) {
        target.mkpath(folder);
        const QDir source(sourceRoot + QLatin1Char('/') + folder);
        for (const QString &name : source.entryList(QDir::Files))
            QFile::copy(source.filePath(name), target.filePath(folder + QLatin1Char('/') + name));
    }
    QDir::setCurrent(dir.path());
    return dir.path();
}

// ---------------------------------------------------------------------------------------------

void TestRender::dataFileOrder_data()
{
    QTest::addColumn<bool>("inFirst");
    QTest::addColumn<bool>("inSecond");
    QTest::addColumn<int>("expected"); // folder index, -1 for none

    QTest::newRow("program folder wins") << true << true << 0;
    QTest::newRow("working directory second") << false << true << 1;
    QTest::newRow("only program folder") << true << false << 0;
    QTest::newRow("nowhere") << false << false << -1;
}

void TestRender::dataFileOrder()
{
    QFETCH(bool, inFirst);
    QFETCH(bool, inSecond);
    QFETCH(int, expected);

    QTemporaryDir first;
    QTemporaryDir second;
    const QStringList folders {first.path(), second.path()};
    const bool present[2] = {inFirst, inSecond};
    for (int k = 0; k < 2; ++k) {
        QDir(folders[k]).mkpath(QStringLiteral("Shaders"));
        if (present[k]) {
            QFile f(folders[k] + QStringLiteral("/Shaders/phongVertex.glsl"));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
    }
    const QString found = findDataFile(QStringLiteral("Shaders/phongVertex.glsl"), folders);
    if (expected < 0)
        QVERIFY(found.isEmpty());
    else
        QCOMPARE(
            found, QDir(folders[expected]).filePath(QStringLiteral("Shaders/phongVertex.glsl")));
}

void TestRender::fullBuild_data()
{
    QTest::addColumn<int>("shape"); // 0 tetrahedron, 1 grid, 2 icosphere
    QTest::addColumn<int>("size");

    QTest::newRow("tetrahedron") << 0 << 0;
    QTest::newRow("open grid 5") << 1 << 5;
    QTest::newRow("icosphere 2") << 2 << 2;
    QTest::newRow("icosphere 4") << 2 << 4;
}

void TestRender::fullBuild()
{
    QFETCH(int, shape);
    QFETCH(int, size);

    std::unique_ptr<Mesh> mesh = shape == 0 ? TestMeshes::makeTetrahedron()
        : shape == 1                        ? TestMeshes::makeGrid(size)
                                            : TestMeshes::makeIcosphere(size);
    // The readers run the loading pipeline themselves: attaching afterwards builds at once.
    MeshRenderer *renderer = attachRenderer(*mesh);
    QCOMPARE(rendererOf(*mesh), renderer);
    const int v = mesh->getNbVertices();
    const int t = mesh->getNbTriangles();
    QCOMPARE(renderer->buildCount(), 1);
    QCOMPARE(renderer->vertexBufferBytes(), 24 * v);
    QCOMPARE(renderer->normalBufferBytes(), 24 * v);
    QCOMPARE(renderer->indexBufferBytes(), 24 * t);
    QCOMPARE(renderer->vertexCapacity(), 2 * v);
    QCOMPARE(renderer->triangleCapacity(), 2 * t);

    const std::vector<float> positions = renderer->readPositions();
    const std::vector<float> normals = renderer->readNormals();
    const std::vector<unsigned> indices = renderer->readIndices();
    for (int i = 0; i < v; ++i) {
        const Vertex &vertex = mesh->getVertex(i);
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(positions[3 * i + c], vertex.position[c]);
            QCOMPARE(normals[3 * i + c], vertex.normal[c]);
        }
        QVERIFY(qAbs(vertex.normal.length() - 1.0f) < 1e-4f);
    }
    for (int i = 0; i < t; ++i) {
        const Triangle &tri = mesh->getTriangle(i);
        QCOMPARE(indices[3 * i], unsigned(tri.vertex1));
        QCOMPARE(indices[3 * i + 1], unsigned(tri.vertex2));
        QCOMPARE(indices[3 * i + 2], unsigned(tri.vertex3));
    }
    QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
}

void TestRender::attachBeforePipeline()
{
    // Attached to an empty mesh, the renderer waits for the pipeline's initVBO.
    const TestMeshes::IcosphereData data = TestMeshes::icosphereData(1);
    std::unique_ptr<Mesh> mesh = TestMeshes::rawMeshFromArrays(data.positions, data.triangles);
    auto empty = std::make_unique<Mesh>();
    QCOMPARE(attachRenderer(*empty)->buildCount(), 0);
    QVERIFY(render(*empty, QVector3D(), 0.0f).pixel(imageSize / 2, imageSize / 2)
        == render(*empty, QVector3D(), 0.0f).pixel(0, 0));

    // Records without the pipeline: the renderer uploads them, and the pipeline's initVBO
    // uploads again the scaled positions and the normals.
    MeshRenderer *renderer = attachRenderer(*mesh);
    const int builds = renderer->buildCount();
    mesh->initTopology();
    mesh->initVBO();
    mesh->moveTo(QVector3D());
    QCOMPARE(renderer->buildCount(), builds + 1);
    QCOMPARE(renderer->indexBufferBytes(), 24 * mesh->getNbTriangles());
    QVERIFY(renderer->programReady());
}

void TestRender::patchOrRebuild_data()
{
    QTest::addColumn<int>("extraVertices"); // new vertices, joined by a triangle strip
    QTest::addColumn<int>("copiedTriangles"); // copies of existing triangles
    QTest::addColumn<bool>("moveSome");
    QTest::addColumn<bool>("rebuild");

    // Icosphere level 1: 42 vertices, 80 triangles; capacities 84 and 160.
    QTest::newRow("stroke moves vertices only") << 0 << 0 << true << false;
    QTest::newRow("triangles reach twice the count") << 0 << 80 << false << false;
    QTest::newRow("one triangle more") << 0 << 81 << false << true;
    QTest::newRow("vertices reach twice the count") << 42 << 0 << true << false;
    QTest::newRow("one vertex more") << 43 << 0 << true << true;
    QTest::newRow("both at twice") << 42 << 40 << false << false;
}

void TestRender::patchOrRebuild()
{
    QFETCH(int, extraVertices);
    QFETCH(int, copiedTriangles);
    QFETCH(bool, moveSome);
    QFETCH(bool, rebuild);

    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(1);
    MeshRenderer *renderer = attachRenderer(*mesh);
    const int v0 = mesh->getNbVertices();
    const int t0 = mesh->getNbTriangles();
    QCOMPARE(v0, 42);
    QCOMPARE(t0, 80);

    std::vector<int> triangles;
    std::vector<int> vertices;
    if (moveSome) {
        // A brush pushing a few vertices outwards.
        for (int i = 0; i < 10; ++i) {
            Vertex &v = mesh->getVertex(i);
            v.position += 0.1f * (v.position - mesh->getCenter());
            vertices.push_back(i);
            for (int t : v.triangleIndices) {
                if (std::find(triangles.begin(), triangles.end(), t) == triangles.end())
                    triangles.push_back(t);
            }
        }
    }
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> newTriangles;
    const QVector3D c = mesh->getCenter();
    for (int k = 0; k < extraVertices; ++k)
        positions.push_back(c + QVector3D(2.0f * k - extraVertices, 5.0f * (k % 2), 1.0f));
    for (int k = 0; k + 2 < extraVertices; ++k)
        newTriangles.push_back({v0 + k, v0 + k + 1, v0 + k + 2});
    for (int k = 0; k < copiedTriangles; ++k) {
        const Triangle &t = mesh->getTriangle(k % t0);
        newTriangles.push_back({t.vertex1, t.vertex2, t.vertex3});
    }
    grow(*mesh, positions, newTriangles, triangles, vertices);
    const int v1 = mesh->getNbVertices();
    const int t1 = mesh->getNbTriangles();

    mesh->updateMesh(triangles, vertices);

    QCOMPARE(renderer->buildCount(), rebuild ? 2 : 1);
    const int bytesV = 24 * (rebuild ? v1 : v0);
    const int bytesT = 24 * (rebuild ? t1 : t0);
    QCOMPARE(renderer->vertexBufferBytes(), bytesV);
    QCOMPARE(renderer->normalBufferBytes(), bytesV);
    QCOMPARE(renderer->indexBufferBytes(), bytesT);

    // Whether patched or rebuilt, the GPU holds what the mesh holds.
    const std::vector<float> gpuPositions = renderer->readPositions();
    const std::vector<float> gpuNormals = renderer->readNormals();
    const std::vector<unsigned> gpuIndices = renderer->readIndices();
    for (int i = 0; i < v1; ++i) {
        const Vertex &vertex = mesh->getVertex(i);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(gpuPositions[3 * i + k], vertex.position[k]);
            QCOMPARE(gpuNormals[3 * i + k], vertex.normal[k]);
        }
    }
    for (int i = 0; i < t1; ++i) {
        const Triangle &tri = mesh->getTriangle(i);
        QCOMPARE(gpuIndices[3 * i], unsigned(tri.vertex1));
        QCOMPARE(gpuIndices[3 * i + 2], unsigned(tri.vertex3));
    }
    QVERIFY(renderer->programReady());
    QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
    VERIFY_MESH(*mesh);
}

void TestRender::modesDraw_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("phong") << 0;
    QTest::newRow("wireframe") << 1;
    QTest::newRow("transparency") << 2;
    QTest::newRow("reflection 1") << 3;
    QTest::newRow("reflection 2") << 4;
}

void TestRender::modesDraw()
{
    QFETCH(int, mode);
    qInstallMessageHandler(collect);

    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
    MeshRenderer *renderer = attachRenderer(*mesh);
    mesh->initShaders(mode);
    QCOMPARE(renderer->shaderType(), mode);
    QVERIFY2(renderer->programReady(), qPrintable(messages.join(QLatin1Char('\n'))));
    QVERIFY(renderer->program()->isLinked());
    QCOMPARE(renderer->program()->shaders().size(), mode == 1 ? 3 : 2);
    if (mode >= 3)
        QVERIFY(renderer->textureId() != 0);

    const QVector3D picked = frontPoint(*mesh);
    const float radius = 0.5f * meshRadius(*mesh);
    const QImage plain = render(*mesh, picked, 0.0f);
    const QImage brushed = render(*mesh, picked, radius * radius);
    QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
    // ARGILIUM_RENDER_DUMP=<folder> keeps the pictures for a look.
    const QString dump = qEnvironmentVariable("ARGILIUM_RENDER_DUMP");
    if (!dump.isEmpty())
        brushed.save(QDir(dump).filePath(QStringLiteral("mode%1.png").arg(mode)));

    // The mesh covers the centre and not the corners.
    const QRgb background = plain.pixel(0, 0);
    QCOMPARE(plain.pixel(imageSize - 1, imageSize - 1), background);
    QVERIFY(plain.pixel(imageSize / 2, imageSize / 2) != background);
    int meshPixels = 0;
    for (int y = 0; y < imageSize; ++y) {
        for (int x = 0; x < imageSize; ++x)
            meshPixels += plain.pixel(x, y) != background;
    }
    QVERIFY2(meshPixels > imageSize * imageSize / 5, qPrintable(QString::number(meshPixels)));

    // The brush outline is a ring: pixels on it change, the picked point itself does not.
    const int changed = countDifferent(plain, brushed);
    QVERIFY2(changed > 100, qPrintable(QString::number(changed)));
    QCOMPARE(
        brushed.pixel(imageSize / 2, imageSize / 2), plain.pixel(imageSize / 2, imageSize / 2));
    // No outline without a radius, wherever the picked point is.
    const QImage elsewhere = render(*mesh, picked + QVector3D(30.0f, -20.0f, 0.0f), 0.0f);
    QCOMPARE(countDifferent(plain, elsewhere), 0);

    if (mode == 1) {
        // Dark edge lines over the lit surface.
        int dark = 0;
        for (int y = imageSize / 3; y < 2 * imageSize / 3; ++y) {
            for (int x = imageSize / 3; x < 2 * imageSize / 3; ++x)
                dark += qGray(plain.pixel(x, y)) < 90;
        }
        QVERIFY2(dark > 100, qPrintable(QString::number(dark)));
    }
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
}

void TestRender::uniforms_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("identityView");
    for (int mode = 0; mode < MeshRenderer::modeCount; ++mode) {
        QTest::addRow("mode %d", mode) << mode << false;
        QTest::addRow("mode %d, identity view", mode) << mode << true;
    }
}

void TestRender::uniforms()
{
    QFETCH(int, mode);
    QFETCH(bool, identityView);

    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(1);
    mesh->setColor(QColor(10, 100, 200));
    MeshRenderer *renderer = attachRenderer(*mesh);
    mesh->initShaders(mode);
    QMatrix4x4 view;
    if (!identityView) {
        view.lookAt(QVector3D(30, 40, 600), QVector3D(0, 0, 0), QVector3D(0, 1, 0));
        view.rotate(25.0f, 0.3f, 1.0f, 0.0f);
    }
    const QVector3D picked(12.0f, -7.0f, 3.0f);
    render(*mesh, view, picked, 1234.5f);

    QOpenGLShaderProgram *program = renderer->program();
    QVERIFY(program && renderer->programReady());
    const GLuint id = program->programId();
    auto read = [&](const char *name, int n) {
        const int location = program->uniformLocation(name);
        std::vector<float> values(16, -999.0f);
        if (location >= 0)
            gl()->glGetUniformfv(id, location, values.data());
        values.resize(location >= 0 ? n : 0);
        return values;
    };
    auto near = [](const std::vector<float> &got, const float *expected, int n) {
        if (static_cast<int>(got.size()) != n)
            return false;
        for (int i = 0; i < n; ++i) {
            if (std::abs(got[i] - expected[i]) > 1e-3f * (1.0f + std::abs(expected[i])))
                return false;
        }
        return true;
    };

    const QMatrix4x4 modelView = view * mesh->getTransformation();
    const QMatrix4x4 mvp = defaultProjection() * modelView;
    QVERIFY(near(read("modelViewMatrix", 16), modelView.constData(), 16));
    QVERIFY(near(read("modelViewProjectionMatrix", 16), mvp.constData(), 16));
    const QVector3D center = modelView.map(picked);
    const float centerData[3] = {center.x(), center.y(), center.z()};
    QVERIFY(near(read("centerPicking", 3), centerData, 3));
    if (identityView && mesh->getTransformation().isIdentity())
        QCOMPARE(center, picked);
    const float radiusSquared = 1234.5f;
    QVERIFY(near(read("radiusSquared", 1), &radiusSquared, 1));
    const float alpha = mode == 2 ? 35.0f / 255.0f : 1.0f;
    const float color[4] = {10 / 255.0f, 100 / 255.0f, 200 / 255.0f, alpha};
    QVERIFY(near(read("color", 4), color, 4));
    if (mode != 1) {
        const QMatrix3x3 normalMatrix = modelView.normalMatrix();
        QVERIFY(near(read("normalMatrix", 9), normalMatrix.constData(), 9));
    }
    if (mode == 1) {
        const float scale[2] = {float(imageSize), float(imageSize)};
        QVERIFY(near(read("winScale", 2), scale, 2));
    }
    if (mode == 2) {
        const QVector3D light = mesh->getCenter();
        const float lightData[3] = {light.x(), light.y(), light.z()};
        QVERIFY(near(read("lightPosition", 3), lightData, 3));
    }
    if (mode >= 3) {
        GLint unit = -1;
        gl()->glGetUniformiv(id, program->uniformLocation("reflectionTexture"), &unit);
        QCOMPARE(unit, 0);
    }
}

void TestRender::transparencyLeavesDepthAndBlendAsFound()
{
    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
    attachRenderer(*mesh);
    mesh->initShaders(MeshRenderer::Transparency);

    fbo->bind();
    gl()->glViewport(0, 0, imageSize, imageSize);
    gl()->glEnable(GL_DEPTH_TEST);
    gl()->glDepthMask(GL_TRUE);
    gl()->glDisable(GL_BLEND);
    gl()->glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    gl()->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawMesh(*mesh, defaultView(*mesh), defaultProjection(), QSize(imageSize, imageSize),
        QVector3D(), 0.0f);

    GLboolean depthWrites = GL_FALSE;
    gl()->glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
    QCOMPARE(depthWrites, GLboolean(GL_TRUE));
    QCOMPARE(gl()->glIsEnabled(GL_BLEND), GLboolean(GL_FALSE));
    // The transparent mesh wrote no depth where it covers the view...
    float depth = 0.0f;
    gl()->glReadPixels(imageSize / 2, imageSize / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    QCOMPARE(depth, 1.0f);
    // ...but it was drawn, blended with the background.
    const QImage image = fbo->toImage();
    fbo->release();
    const QRgb centre = image.pixel(imageSize / 2, imageSize / 2);
    QVERIFY(centre != image.pixel(0, 0));
    QVERIFY(qAbs(qBlue(centre) - qBlue(image.pixel(0, 0))) < 100);

    // An opaque mode writes depth.
    mesh->initShaders(MeshRenderer::Phong);
    render(*mesh, QVector3D(), 0.0f);
    fbo->bind();
    gl()->glReadPixels(imageSize / 2, imageSize / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    fbo->release();
    QVERIFY(depth < 1.0f);
    QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
}

void TestRender::octreeOverlay_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("split");
    QTest::newRow("unsplit root") << 2 << false;
    QTest::newRow("split root") << 5 << true;
}

void TestRender::octreeOverlay()
{
    QFETCH(int, level);
    QFETCH(bool, split);

    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(level);
    MeshRenderer *renderer = attachRenderer(*mesh);
    QVERIFY(mesh->getOctree());
    QCOMPARE(!mesh->getOctree()->isLeaf(), split);
    const int nodes = mesh->getOctree()->countNodes();

    const QImage without = render(*mesh, QVector3D(), 0.0f);
    QCOMPARE(renderer->overlayBoxCount(), 0);
    mesh->toggleDrawOctree();
    const QImage with = render(*mesh, QVector3D(), 0.0f);
    QCOMPARE(renderer->overlayBoxCount(), 2 * nodes);
    if (!split)
        QCOMPARE(renderer->overlayBoxCount(), 2);
    QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));

    int lines = 0;
    for (int y = 0; y < imageSize; ++y) {
        for (int x = 0; x < imageSize; ++x) {
            const QRgb c = with.pixel(x, y);
            lines += isPure(c, 0, 255, 0) || isPure(c, 255, 0, 0);
        }
    }
    QVERIFY2(lines > 50, qPrintable(QString::number(lines)));
    QVERIFY(countDifferent(without, with) > 0);

    // The overlay leaves the fixed-function matrices as it found them.
    GLint mode = 0;
    context->functions()->glGetIntegerv(GL_MATRIX_MODE, &mode);
    QCOMPARE(mode, GLint(GL_MODELVIEW));
}

void TestRender::overlayFollowsModelMatrix()
{
    // A sphere far off the origin: the model matrix brings it back to the centre of the view,
    // and the overlay's boxes must come along.
    TestMeshes::IcosphereData data = TestMeshes::icosphereData(2);
    for (QVector3D &p : data.positions)
        p += QVector3D(6.0f, 0.0f, 0.0f);
    std::unique_ptr<Mesh> mesh = TestMeshes::meshFromArrays(data.positions, data.triangles);
    QVERIFY(qAbs(mesh->getCenter().x()) > 100.0f);
    attachRenderer(*mesh);
    mesh->toggleDrawOctree();
    const QImage image = render(*mesh, QVector3D(), 0.0f);

    int left = imageSize;
    int right = -1;
    for (int y = 0; y < imageSize; ++y) {
        for (int x = 0; x < imageSize; ++x) {
            const QRgb c = image.pixel(x, y);
            if (isPure(c, 0, 255, 0) || isPure(c, 255, 0, 0)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    QVERIFY(right > left);
    QVERIFY2(qAbs((left + right) / 2 - imageSize / 2) <= 3,
        qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
}

void TestRender::missingShaderFiles()
{
    QTemporaryDir empty;
    QDir::setCurrent(empty.path());
    qInstallMessageHandler(collect);

    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
    MeshRenderer *renderer = attachRenderer(*mesh);
    QVERIFY(!renderer->programReady());
    const QStringList first = messages;
    QCOMPARE(first.filter(QStringLiteral("phongVertex.glsl")).size(), 1);
    QCOMPARE(first.filter(QStringLiteral("phongFragment.glsl")).size(), 1);
    QVERIFY(first.first().contains(empty.path()));

    // The mesh stays visible through the built-in program.
    const QImage image = render(*mesh, QVector3D(), 0.0f);
    QVERIFY(image.pixel(imageSize / 2, imageSize / 2) != image.pixel(0, 0));

    // Rebuilding (every full buffer build reloads the shaders) reports nothing new.
    mesh->initVBO();
    mesh->initShaders(0);
    QCOMPARE(messages, first);
    // Another mode's missing files are reported, once.
    mesh->initShaders(1);
    mesh->initShaders(1);
    QCOMPARE(messages.filter(QStringLiteral("wireframeGeometry.glsl")).size(), 1);
}

void TestRender::brokenShaderReportedOnce()
{
    QTemporaryDir dir;
    makeDataCopy(dir, true);
    QFile broken(dir.path() + QStringLiteral("/Shaders/phongFragment.glsl"));
    QVERIFY(broken.open(QIODevice::Append));
    broken.write("\nthis is not glsl;\n");
    broken.close();
    qInstallMessageHandler(collect);

    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
    MeshRenderer *renderer = attachRenderer(*mesh);
    QVERIFY(!renderer->programReady());
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().contains(broken.fileName()));
    QVERIFY2(messages.first().contains(QStringLiteral("error"), Qt::CaseInsensitive),
        qPrintable(messages.first()));
    // Qt's own copy of the failing source is not printed.
    QVERIFY(messages.filter(QStringLiteral("Problematic")).isEmpty());

    mesh->initVBO();
    QCOMPARE(messages.size(), 1);
    const QImage image = render(*mesh, QVector3D(), 0.0f);
    QVERIFY(image.pixel(imageSize / 2, imageSize / 2) != image.pixel(0, 0));

    // The other modes are unaffected.
    mesh->initShaders(MeshRenderer::Wireframe);
    QVERIFY(renderer->programReady());
    QCOMPARE(messages.size(), 1);
}

void TestRender::missingImageKeepsProgram()
{
    QTemporaryDir dir;
    makeDataCopy(dir, false);
    qInstallMessageHandler(collect);

    std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
    MeshRenderer *renderer = attachRenderer(*mesh);
    mesh->initShaders(MeshRenderer::Reflection1);
    QVERIFY(renderer->programReady());
    QCOMPARE(renderer->textureId(), 0u);
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().contains(QStringLiteral("reflection1.png")));
    mesh->initShaders(MeshRenderer::Reflection1);
    QCOMPARE(messages.size(), 1);
    render(*mesh, QVector3D(), 0.0f);
    QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));

    // Once the image is there, the next build loads it.
    QDir(dir.path()).mkpath(QStringLiteral("Ressources"));
    QVERIFY(QFile::copy(sourceRoot + QStringLiteral("/Ressources/reflection2.png"),
        dir.path() + QStringLiteral("/Ressources/reflection2.png")));
    mesh->initShaders(MeshRenderer::Reflection2);
    QVERIFY(renderer->textureId() != 0);
    QCOMPARE(messages.size(), 1);
}

QTEST_MAIN(TestRender)
#include "tst_render.moc"
