// The GPU half of the mesh: the buffers built and patched as the mesh changes, the five shading
// programs drawing, the octree overlay, and shader or image files missing or broken. (The camera's
// GL viewport is checked through the view, by the app test.)

#include "MeshAsserts.h"
#include "TestIo.h"
#include "render/MeshRenderer.h"
#include "render/SurfaceFormat.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

namespace {

constexpr int imageSize = 200;

// Messages written through Qt while a test listens.
QStringList messages;
void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    messages << message;
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
        QVERIFY2(context.create(), "no OpenGL context (the GL tests need an X server, e.g. Xvfb)");
        surface.setFormat(context.format());
        surface.create();
        QVERIFY(context.makeCurrent(&surface));
        QVERIFY2(context.format().profile() != QSurfaceFormat::CoreProfile,
            "a core profile context has no fixed-function calls");
        fbo = std::make_unique<QOpenGLFramebufferObject>(
            imageSize, imageSize, QOpenGLFramebufferObject::CombinedDepthStencil);
        // The test has no Shaders/ beside it: the source tree's copy is found through the working
        // directory, the last place searched.
        sourceRoot = QFileInfo(QFINDTESTDATA("../../Shaders/phongVertex.glsl")).absolutePath();
        QVERIFY(QDir::setCurrent(sourceRoot += "/.."));
    }
    void cleanupTestCase() { fbo.reset(); }
    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        messages.clear();
        QDir::setCurrent(sourceRoot);
    }
    void buffersPatchedOrRebuilt_data()
    {
        QTest::addColumn<int>("extraVertices"); // new vertices, joined by a triangle strip
        QTest::addColumn<int>("copiedTriangles"); // copies of existing triangles
        // Icosphere level 1: 42 vertices, 80 triangles; buffers built for twice as many.
        QTest::newRow("stroke moves vertices only: patched") << 0 << 0;
        QTest::newRow("triangles reach twice the count: patched") << 0 << 80;
        QTest::newRow("one triangle more: rebuilt") << 0 << 81;
        QTest::newRow("one vertex more: rebuilt") << 43 << 0;
    }
    // A change within the buffers' capacity patches them, one beyond it rebuilds them; either way
    // the buffers hold the mesh's positions, normals, masks and corners.
    void buffersPatchedOrRebuilt()
    {
        QFETCH(int, extraVertices);
        QFETCH(int, copiedTriangles);
        std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(1);
        MeshRenderer *renderer = attachRenderer(*mesh);
        // A brush pushing and masking a few vertices, then records appended as the topology does.
        std::vector<Vertex> &v = mesh->getVertices();
        std::vector<Triangle> &tris = mesh->getTriangles();
        std::set<int> triangles, vertices;
        for (int i = 0; i < 10; ++i) {
            v[i].position *= 1.1f;
            v[i].mask = 0.1f * float(i);
            vertices.insert(i);
            triangles.insert(v[i].triangleIndices.begin(), v[i].triangleIndices.end());
        }
        for (int k = 0; k < extraVertices; ++k)
            v.emplace_back(
                QVector3D(2.0f * k - extraVertices, 5.0f * (k % 2), 1.0f), int(v.size()));
        auto addTriangle = [&](int a, int b, int c) {
            const int id = int(tris.size());
            tris.emplace_back(
                QVector3D::normal(v[a].position, v[b].position, v[c].position), a, b, c, id);
            triangles.insert(id);
            for (int corner : {a, b, c}) {
                v[corner].addTriangle(id);
                vertices.insert(corner);
            }
        };
        for (int k = 0; k + 2 < extraVertices; ++k)
            addTriangle(42 + k, 43 + k, 44 + k);
        for (int k = 0; k < copiedTriangles; ++k)
            addTriangle(tris[k % 80].vertex1, tris[k % 80].vertex2, tris[k % 80].vertex3);
        for (int i : vertices)
            mesh->computeRingVertices(i);
        mesh->updateMesh({triangles.begin(), triangles.end()}, {vertices.begin(), vertices.end()});
        // Buffers for twice the counts at each build: 3 floats per vertex, 1 per mask, 3 indices
        // per triangle.
        const bool rebuilt = extraVertices > 42 || copiedTriangles > 80;
        const int nv = rebuilt ? 2 * mesh->getNbVertices() : 84,
                  nt = rebuilt ? 2 * mesh->getNbTriangles() : 160;
        QCOMPARE(renderer->buildCount(), rebuilt ? 2 : 1);
        QCOMPARE(QList<int>({renderer->vertexBufferBytes(), renderer->normalBufferBytes(),
                     renderer->maskBufferBytes(), renderer->indexBufferBytes()}),
            QList<int>({12 * nv, 12 * nv, 4 * nv, 12 * nt}));
        const std::vector<float> positions = renderer->readPositions(),
                                 normals = renderer->readNormals(), masks = renderer->readMasks();
        const std::vector<unsigned> indices = renderer->readIndices();
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            QCOMPARE(masks[i], v[i].mask);
            for (int k = 0; k < 3; ++k) {
                QCOMPARE(positions[3 * i + k], v[i].position[k]);
                QCOMPARE(normals[3 * i + k], v[i].normal[k]);
            }
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
        int mode = 0;
        for (const char *name :
            {"phong", "wireframe", "transparency", "reflection 1", "reflection 2"})
            QTest::newRow(name) << mode++;
    }
    // Each mode links its program and draws the mesh over the centre, not the corners, in its
    // colour (with transparency's alpha), darker where masked, and the brush outline as a ring
    // around the picked point; transparency leaves no depth, and every mode leaves depth writes on
    // and blending off.
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
        const QRgb centre = plain.pixel(imageSize / 2, imageSize / 2);
        QVERIFY(plain.pixel(imageSize - 1, imageSize - 1) == plain.pixel(0, 0)
            && centre != plain.pixel(0, 0)
            && brushed.pixel(imageSize / 2, imageSize / 2) == centre);
        int outline = 0;
        for (int y = 0; y < imageSize; ++y)
            for (int x = 0; x < imageSize; ++x)
                outline += plain.pixel(x, y) != brushed.pixel(x, y);
        QVERIFY2(outline > 100, "no brush outline");
        // A masked mesh is drawn darker (mean grey level around the centre).
        auto grey = [](const QImage &image) {
            return qGray(image.copy(80, 80, 40, 40)
                             .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .pixel(0, 0));
        };
        for (Vertex &v : mesh->getVertices())
            v.mask = 1.0f;
        mesh->updateMesh(TestMeshes::allTriangles(*mesh), TestMeshes::allVertices(*mesh));
        QVERIFY(grey(render(*mesh)) < 0.9 * grey(plain));
        const int location = renderer->program()->uniformLocation("color");
        float color[4] = {};
        gl()->glGetUniformfv(renderer->program()->programId(), location, color);
        QVERIFY(location < 0 || std::abs(color[3] - (mode == 2 ? 35.0f / 255.0f : 1.0f)) < 1e-3f);
        fbo->bind();
        float depth = 0.0f;
        gl()->glReadPixels(
            imageSize / 2, imageSize / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
        GLboolean depthWrites = GL_FALSE;
        gl()->glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
        fbo->release();
        QCOMPARE(depth < 1.0f, mode != 2);
        QVERIFY(depthWrites == GL_TRUE && gl()->glIsEnabled(GL_BLEND) == GL_FALSE);
        QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
    }
    // Two boxes per node (a single leaf, then a tree), drawn in pure colours centred on the mesh: a
    // mesh far off the origin brings its boxes along; the matrix mode is left as found.
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
            QVERIFY(n > 50 && std::abs((left + right) / 2 - imageSize / 2) <= 3);
            GLint matrixMode = 0;
            gl()->glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
            QCOMPARE(matrixMode, GLint(GL_MODELVIEW));
        }
    }
    // Missing shader files are reported once each and the mesh stays visible through a built-in
    // program; a broken shader is reported once without Qt's copy of its source, and the other
    // modes still work; a missing image leaves the program without its texture until it is there.
    void missingOrBrokenFiles()
    {
        qInstallMessageHandler(collect);
        // Data folders linked to the source tree's; in `broken`, phongFragment.glsl is broken.
        QTemporaryDir empty, broken, imageless;
        const QString shaders = sourceRoot + "/Shaders/", fragment = "Shaders/phongFragment.glsl";
        QVERIFY(QFile::link(shaders, imageless.filePath("Shaders"))
            && QDir(broken.path()).mkpath("Shaders"));
        for (const QString &name : QDir(shaders).entryList(QDir::Files))
            if (!fragment.endsWith(name))
                QVERIFY(QFile::link(shaders + name, broken.filePath("Shaders/" + name)));
        QVERIFY(TestIo::writeFile(broken.filePath(fragment),
            TestIo::readFile(shaders + "phongFragment.glsl") + "\nthis is not glsl;\n"));
        QDir::setCurrent(empty.path());
        std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(2);
        QVERIFY(!attachRenderer(*mesh)->programReady());
        QCOMPARE(messages.filter("phongVertex.glsl").size(), 1);
        QCOMPARE(messages.filter("phongFragment.glsl").size(), 1);
        QVERIFY(messages.first().contains(empty.path()) && visible(*mesh));
        const QStringList first = messages;
        mesh->initVBO(); // every full build reloads the shaders: nothing new
        mesh->initShaders(0);
        QCOMPARE(messages, first);
        mesh->initShaders(1);
        mesh->initShaders(1);
        QCOMPARE(messages.filter("wireframeGeometry.glsl").size(), 1);

        messages.clear();
        QDir::setCurrent(broken.path());
        mesh = TestMeshes::makeIcosphere(2);
        MeshRenderer *renderer = attachRenderer(*mesh);
        QVERIFY(!renderer->programReady() && messages.size() == 1);
        QVERIFY(messages.first().contains(broken.filePath(fragment))
            && messages.first().contains("error", Qt::CaseInsensitive)
            && !messages.first().contains("Problematic"));
        mesh->initVBO();
        QVERIFY(visible(*mesh));
        mesh->initShaders(MeshRenderer::Wireframe);
        QVERIFY(renderer->programReady() && messages.size() == 1);

        messages.clear();
        QDir::setCurrent(imageless.path());
        mesh = TestMeshes::makeIcosphere(2);
        renderer = attachRenderer(*mesh);
        mesh->initShaders(MeshRenderer::Reflection1);
        mesh->initShaders(MeshRenderer::Reflection1);
        QVERIFY(renderer->programReady() && renderer->textureId() == 0 && visible(*mesh));
        QVERIFY(messages.size() == 1 && messages.first().contains("reflection1.png"));
        QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
        QVERIFY(QFile::link(sourceRoot + "/Ressources", imageless.filePath("Ressources")));
        mesh->initShaders(MeshRenderer::Reflection2);
        QVERIFY(renderer->textureId() != 0 && messages.size() == 1);
    }

private:
    QOpenGLFunctions *gl() { return context.functions(); }
    // The mesh seen from 4 radii away along +z.
    QImage render(const Mesh &mesh, QVector3D picked = {}, float radiusSquared = 0.0f)
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
        QImage image = fbo->toImage();
        fbo->release();
        return image;
    }
    bool visible(const Mesh &mesh)
    {
        const QImage image = render(mesh);
        return image.pixel(imageSize / 2, imageSize / 2) != image.pixel(0, 0);
    }

    QOpenGLContext context;
    QOffscreenSurface surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    QString sourceRoot;
};

QTEST_MAIN(TestRender)
#include "tst_render.moc"
