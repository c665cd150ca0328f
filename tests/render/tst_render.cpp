// The GPU half of the mesh and the camera: buffers built and patched, the five shading programs
// drawing, the octree overlay, the camera's viewport and matrices, and what happens when shader
// or image files are missing or broken.

#include "MeshAsserts.h"
#include "TestCamera.h"
#include "TestIo.h"
#include "TestMeshes.h"
#include "render/CameraGL.h"
#include "render/DataFiles.h"
#include "render/MeshRenderer.h"
#include "render/SurfaceFormat.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int imageSize = 200;

// Messages written through Qt while a test listens.
QStringList messages;
void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    messages << message;
}

int countDifferent(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

} // namespace

class TestRender : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase()
    {
        context = std::make_unique<QOpenGLContext>();
        QVERIFY2(context->create(), "no OpenGL context (the GL tests need an X server, e.g. Xvfb)");
        surface = std::make_unique<QOffscreenSurface>();
        surface->setFormat(context->format());
        surface->create();
        QVERIFY(context->makeCurrent(surface.get()));
        QVERIFY2(context->format().profile() != QSurfaceFormat::CoreProfile,
            "a core profile context has no fixed-function calls");
        fbo = std::make_unique<QOpenGLFramebufferObject>(
            imageSize, imageSize, QOpenGLFramebufferObject::CombinedDepthStencil);
        QVERIFY(fbo->isValid());
        // The test executable has no Shaders/ beside it: the source tree's copy is found through
        // the working directory, the second place searched.
        const QString shader = QFINDTESTDATA("../../Shaders/phongVertex.glsl");
        QVERIFY2(!shader.isEmpty(), "Shaders/ not found from the test's source folder");
        sourceRoot = QDir::cleanPath(QFileInfo(shader).absolutePath() + QStringLiteral("/.."));
        startFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(sourceRoot));
    }
    void cleanupTestCase()
    {
        fbo.reset();
        context.reset();
        surface.reset();
        QDir::setCurrent(startFolder);
    }
    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        messages.clear();
        QDir::setCurrent(sourceRoot);
    }
    // Shaders/ and Ressources/ files are looked for in the first folder, then in the second.
    void dataFileOrder()
    {
        for (int present = 0; present < 4; ++present) {
            QTemporaryDir first, second;
            const QStringList folders {first.path(), second.path()};
            for (int k = 0; k < 2; ++k) {
                QDir(folders[k]).mkpath(QStringLiteral("Shaders"));
                if (present & (1 << k))
                    QVERIFY(TestIo::writeFile(folders[k] + "/Shaders/phongVertex.glsl", {}));
            }
            QCOMPARE(findDataFile(QStringLiteral("Shaders/phongVertex.glsl"), folders),
                present ? folders[present & 1 ? 0 : 1] + "/Shaders/phongVertex.glsl" : QString());
        }
    }
    void buffersPatchedOrRebuilt_data()
    {
        QTest::addColumn<int>("extraVertices"); // new vertices, joined by a triangle strip
        QTest::addColumn<int>("copiedTriangles"); // copies of existing triangles
        // Icosphere level 1: 42 vertices, 80 triangles; capacities 84 and 160.
        QTest::newRow("stroke moves vertices only: patched") << 0 << 0;
        QTest::newRow("triangles reach twice the count: patched") << 0 << 80;
        QTest::newRow("one triangle more: rebuilt") << 0 << 81;
        QTest::newRow("one vertex more: rebuilt") << 43 << 0;
    }
    // Built once at twice the counts; a stroke that stays within patches, one that outgrows them
    // rebuilds; either way the buffers hold what the mesh holds.
    void buffersPatchedOrRebuilt()
    {
        QFETCH(int, extraVertices);
        QFETCH(int, copiedTriangles);
        std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(1);
        MeshRenderer *renderer = attachRenderer(*mesh);
        QCOMPARE(renderer->buildCount(), 1);
        // A brush pushing a few vertices outwards, then records appended as the topology does.
        std::vector<int> triangles, vertices;
        auto &v = mesh->getVertices();
        auto &tris = mesh->getTriangles();
        auto add = [](std::vector<int> &list, int i) {
            if (std::find(list.begin(), list.end(), i) == list.end())
                list.push_back(i);
        };
        for (int i = 0; i < 10; ++i) {
            v[i].position *= 1.1f;
            add(vertices, i);
            for (int t : v[i].triangleIndices)
                add(triangles, t);
        }
        for (int k = 0; k < extraVertices; ++k) {
            vertices.push_back(int(v.size()));
            v.emplace_back(
                QVector3D(2.0f * k - extraVertices, 5.0f * (k % 2), 1.0f), int(v.size()));
        }
        auto addTriangle = [&](int a, int b, int c) {
            const int id = int(tris.size());
            tris.emplace_back(
                QVector3D::normal(v[a].position, v[b].position, v[c].position), a, b, c, id);
            triangles.push_back(id);
            for (int corner : {a, b, c}) {
                v[corner].addTriangle(id);
                add(vertices, corner);
            }
        };
        for (int k = 0; k + 2 < extraVertices; ++k)
            addTriangle(42 + k, 43 + k, 44 + k);
        for (int k = 0; k < copiedTriangles; ++k)
            addTriangle(tris[k % 80].vertex1, tris[k % 80].vertex2, tris[k % 80].vertex3);
        for (int i : vertices)
            mesh->computeRingVertices(i);
        mesh->updateMesh(triangles, vertices);
        const bool rebuild = extraVertices > 42 || copiedTriangles > 80;
        QCOMPARE(renderer->buildCount(), rebuild ? 2 : 1);
        const int nv = rebuild ? mesh->getNbVertices() : 42,
                  nt = rebuild ? mesh->getNbTriangles() : 80;
        QCOMPARE(renderer->vertexBufferBytes(), 24 * nv);
        QCOMPARE(renderer->normalBufferBytes(), 24 * nv);
        QCOMPARE(renderer->indexBufferBytes(), 24 * nt);
        const std::vector<float> positions = renderer->readPositions(),
                                 normals = renderer->readNormals();
        const std::vector<unsigned> indices = renderer->readIndices();
        for (int i = 0; i < mesh->getNbVertices(); ++i)
            for (int k = 0; k < 3; ++k) {
                QCOMPARE(positions[3 * i + k], v[i].position[k]);
                QCOMPARE(normals[3 * i + k], v[i].normal[k]);
            }
        for (int i = 0; i < mesh->getNbTriangles(); ++i)
            QCOMPARE(indices[3 * i + 2], unsigned(tris[i].vertex3));
        QVERIFY(renderer->programReady());
        QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
        VERIFY_MESH(*mesh);
    }
    void modesDraw_data()
    {
        QTest::addColumn<int>("mode");
        const char *names[] = {
            "phong", "wireframe", "transparency", "reflection 1", "reflection 2"};
        for (int mode = 0; mode < MeshRenderer::modeCount; ++mode)
            QTest::newRow(names[mode]) << mode;
    }
    // Each mode links its program and draws the mesh over the centre, not the corners, with the
    // brush outline as a ring around the picked point; transparency leaves no depth and the state
    // as found.
    void modesDraw()
    {
        QFETCH(int, mode);
        qInstallMessageHandler(collect);
        std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
        mesh->setColor(QColor(10, 100, 200));
        MeshRenderer *renderer = attachRenderer(*mesh);
        mesh->initShaders(mode);
        QVERIFY2(renderer->programReady(), qPrintable(messages.join(u'\n')));
        QCOMPARE(renderer->textureId() != 0, mode >= 3);
        QVector3D front = mesh->getVertex(0).position;
        for (const Vertex &v : mesh->getVertices())
            if (v.position.z() > front.z())
                front = v.position;
        const float radius = 0.5f * (front - mesh->getCenter()).length();
        const QImage plain = render(*mesh, front), brushed = render(*mesh, front, radius * radius);
        QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
        const QRgb centre = plain.pixel(imageSize / 2, imageSize / 2);
        QCOMPARE(plain.pixel(imageSize - 1, imageSize - 1), plain.pixel(0, 0));
        QVERIFY(centre != plain.pixel(0, 0));
        QVERIFY2(countDifferent(plain, brushed) > 100, "no brush outline");
        QCOMPARE(brushed.pixel(imageSize / 2, imageSize / 2), centre);
        QCOMPARE(countDifferent(plain, render(*mesh, front + QVector3D(30, -20, 0))), 0);
        // The colour reaches the program, with transparency's alpha.
        const int location = renderer->program()->uniformLocation("color");
        float color[4] = {};
        gl()->glGetUniformfv(renderer->program()->programId(), location, color);
        QVERIFY(location < 0 || std::abs(color[3] - (mode == 2 ? 35.0f / 255.0f : 1.0f)) < 1e-3f);
        // The transparent mesh wrote no depth and left depth writes on and blending off.
        fbo->bind();
        float depth = 0.0f;
        gl()->glReadPixels(
            imageSize / 2, imageSize / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
        GLboolean depthWrites = GL_FALSE;
        gl()->glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
        fbo->release();
        QCOMPARE(depth < 1.0f, mode != 2);
        QCOMPARE(depthWrites, GLboolean(GL_TRUE));
        QCOMPARE(gl()->glIsEnabled(GL_BLEND), GLboolean(GL_FALSE));
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
    }
    // Two boxes per node, drawn in pure colours centred on the mesh: a mesh far off the origin
    // brings its boxes along.
    void octreeOverlay()
    {
        for (int level : {2, 5}) {
            TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
            for (QVector3D &p : data.positions)
                p += QVector3D(6.0f, 0.0f, 0.0f);
            std::unique_ptr<Mesh> mesh = TestMeshes::meshFromArrays(data.positions, data.triangles);
            MeshRenderer *renderer = attachRenderer(*mesh);
            render(*mesh);
            QCOMPARE(renderer->overlayBoxCount(), 0);
            mesh->toggleDrawOctree();
            const QImage with = render(*mesh);
            QCOMPARE(renderer->overlayBoxCount(), 2 * mesh->getOctree()->countNodes());
            QCOMPARE(mesh->getOctree()->isLeaf(), level == 2);
            int n = 0, left = imageSize, right = -1;
            for (int y = 0; y < imageSize; ++y)
                for (int x = 0; x < imageSize; ++x)
                    if (const QRgb c = with.pixel(x, y);
                        c == qRgb(0, 255, 0) || c == qRgb(255, 0, 0))
                        ++n, left = std::min(left, x), right = std::max(right, x);
            QVERIFY(n > 50);
            QVERIFY2(std::abs((left + right) / 2 - imageSize / 2) <= 3,
                qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
            GLint matrixMode = 0; // the fixed-function matrices as found
            gl()->glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
            QCOMPARE(matrixMode, GLint(GL_MODELVIEW));
        }
    }
    // The viewport in device pixels, and the camera's matrices loaded over whatever was there.
    void cameraFrame()
    {
        Camera camera = fittedCamera(Camera::TRACKBALL_PLANE, 300.0f);
        camera.startRotation(QPointF(320, 240));
        camera.rotate(QPointF(500, 100));
        camera.pan(0.05, -0.02);
        glMatrixMode(GL_PROJECTION);
        glScalef(2, 3, 4);
        glMatrixMode(GL_MODELVIEW);
        glTranslatef(5, 6, 7);
        prepareCameraFrame(camera, 2.0);
        GLint v[4];
        GLfloat projection[16], modelView[16];
        glGetIntegerv(GL_VIEWPORT, v);
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
        QCOMPARE(QRect(v[0], v[1], v[2], v[3]), QRect(0, 0, 1600, 1200));
        QVERIFY(std::equal(projection, projection + 16, camera.getProjection().constData()));
        QVERIFY(std::equal(modelView, modelView + 16, camera.getView().constData()));
        QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
    }
    // Missing shader files are reported once each and the mesh stays visible through a built-in
    // program; a broken shader is reported once without Qt's copy of its source, and the other
    // modes still work; a missing image leaves the program without its texture until the image is
    // there.
    void missingOrBrokenFiles()
    {
        auto copyData = [this](QTemporaryDir &dir, QStringList folders) {
            for (const QString &folder : folders) {
                QDir(dir.path()).mkpath(folder);
                for (const QString &name : QDir(sourceRoot + u'/' + folder).entryList(QDir::Files))
                    QFile::copy(sourceRoot + u'/' + folder + u'/' + name,
                        dir.path() + u'/' + folder + u'/' + name);
            }
            QDir::setCurrent(dir.path());
        };
        qInstallMessageHandler(collect);
        {
            QTemporaryDir empty;
            copyData(empty, {});
            std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
            QVERIFY(!attachRenderer(*mesh)->programReady());
            QCOMPARE(messages.filter("phongVertex.glsl").size(), 1);
            QCOMPARE(messages.filter("phongFragment.glsl").size(), 1);
            QVERIFY(messages.first().contains(empty.path()));
            QVERIFY(visible(*mesh));
            const QStringList first = messages;
            mesh->initVBO(); // every full build reloads the shaders: nothing new
            mesh->initShaders(0);
            QCOMPARE(messages, first);
            mesh->initShaders(1);
            mesh->initShaders(1);
            QCOMPARE(messages.filter("wireframeGeometry.glsl").size(), 1);
        }
        messages.clear();
        {
            QTemporaryDir dir;
            copyData(dir, {"Shaders", "Ressources"});
            QFile broken(dir.path() + QStringLiteral("/Shaders/phongFragment.glsl"));
            QVERIFY(broken.open(QIODevice::Append));
            broken.write("\nthis is not glsl;\n");
            broken.close();
            std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
            MeshRenderer *renderer = attachRenderer(*mesh);
            QVERIFY(!renderer->programReady());
            QCOMPARE(messages.size(), 1);
            QVERIFY(messages.first().contains(broken.fileName())
                && messages.first().contains("error", Qt::CaseInsensitive));
            QVERIFY(messages.filter("Problematic").isEmpty());
            mesh->initVBO();
            QVERIFY(visible(*mesh));
            mesh->initShaders(MeshRenderer::Wireframe);
            QVERIFY(renderer->programReady());
            QCOMPARE(messages.size(), 1);
        }
        messages.clear();
        QTemporaryDir dir;
        copyData(dir, {"Shaders"});
        std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
        MeshRenderer *renderer = attachRenderer(*mesh);
        mesh->initShaders(MeshRenderer::Reflection1);
        mesh->initShaders(MeshRenderer::Reflection1);
        QVERIFY(renderer->programReady());
        QCOMPARE(renderer->textureId(), 0u);
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().contains("reflection1.png"));
        QVERIFY(visible(*mesh));
        QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
        QDir(dir.path()).mkpath("Ressources");
        QVERIFY(QFile::copy(sourceRoot + "/Ressources/reflection2.png",
            dir.path() + "/Ressources/reflection2.png"));
        mesh->initShaders(MeshRenderer::Reflection2);
        QVERIFY(renderer->textureId() != 0);
        QCOMPARE(messages.size(), 1);
    }

private:
    QOpenGLFunctions *gl() { return context->functions(); }
    QImage render(const Mesh &mesh, QVector3D picked = {}, float radiusSquared = 0.0f);
    bool visible(const Mesh &mesh)
    {
        const QImage image = render(mesh);
        return image.pixel(imageSize / 2, imageSize / 2) != image.pixel(0, 0);
    }

    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    QString sourceRoot, startFolder;
};

// The mesh seen from 4 radii away along +z.
QImage TestRender::render(const Mesh &mesh, QVector3D picked, float radiusSquared)
{
    float radius = 0.0f;
    for (const Vertex &v : mesh.getVertices())
        radius = std::max(radius, (v.position - mesh.getCenter()).length());
    QMatrix4x4 view, projection;
    view.lookAt(QVector3D(0, 0, 4.0f * radius), QVector3D(0, 0, 0), QVector3D(0, 1, 0));
    projection.perspective(40.0f, 1.0f, 10.0f, 5000.0f);
    fbo->bind();
    gl()->glViewport(0, 0, imageSize, imageSize);
    gl()->glEnable(GL_DEPTH_TEST);
    gl()->glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    gl()->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawMesh(mesh, view, projection, QSize(imageSize, imageSize), picked, radiusSquared);
    const QImage image = fbo->toImage();
    fbo->release();
    return image;
}

QTEST_MAIN(TestRender)
#include "tst_render.moc"
