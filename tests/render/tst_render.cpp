// The GPU half of the mesh: the buffers built and patched as the mesh changes, the five shading
// programs drawing (with the brush outline and the mask), and shader or image files missing or
// broken. (The camera's GL viewport is checked through the view, by the app test.)

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

class TestRender : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }
    // Messages written through Qt while a test listens.
    static inline QStringList messages;
    static void collect(QtMsgType, const QMessageLogContext &, const QString &m) { messages << m; }
    static constexpr int side = 200; // of the rendered image

private slots:
    void initTestCase()
    {
        QVERIFY2(context.create(), "no OpenGL context (the GL tests need an X server, e.g. Xvfb)");
        surface.setFormat(context.format());
        surface.create();
        QVERIFY(context.makeCurrent(&surface));
        fbo = std::make_unique<QOpenGLFramebufferObject>(
            side, side, QOpenGLFramebufferObject::CombinedDepthStencil);
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
        QTest::addColumn<int>("copies"); // of the first triangles, appended
        QTest::addColumn<bool>("fresh"); // each copy with a new first corner
        // Icosphere level 1: 42 vertices, 80 triangles; buffers built for twice as many.
        QTest::newRow("triangles reach twice the count: patched") << 80 << false;
        QTest::newRow("one triangle more: rebuilt") << 81 << false;
        QTest::newRow("one vertex more: rebuilt") << 43 << true;
    }
    // A change within the buffers' capacity patches them, one beyond it rebuilds them; either way
    // the buffers hold the mesh's positions, normals, masks and corners.
    void buffersPatchedOrRebuilt()
    {
        QFETCH(int, copies);
        QFETCH(bool, fresh);
        std::unique_ptr<Mesh> mesh = TestMeshes::makeIcosphere(1);
        MeshRenderer *renderer = attachRenderer(*mesh);
        // A brush pushing and masking a few vertices, then copies of the first triangles appended
        // as the topology does (their normals left to the update).
        std::vector<Vertex> &v = mesh->getVertices();
        std::vector<Triangle> &t = mesh->getTriangles();
        for (int i = 0; i < 10; ++i)
            v[i].position *= 1.1f, v[i].mask = 0.1f * float(i);
        for (int id = 80; id < 80 + copies; ++id) {
            std::array c = {t[id - 80].vertex1, t[id - 80].vertex2, t[id - 80].vertex3};
            if (fresh) {
                v.emplace_back(1.5f * v[c[0]].position, int(v.size()));
                c[0] = int(v.size()) - 1;
            }
            t.emplace_back(QVector3D(), c[0], c[1], c[2], id);
            for (int corner : c)
                v[corner].addTriangle(id);
        }
        for (int i = 0; i < mesh->getNbVertices(); ++i)
            mesh->computeRingVertices(i);
        mesh->updateMesh(TestMeshes::allTriangles(*mesh), TestMeshes::allVertices(*mesh));
        // Buffers for twice the counts at each build: 3 floats per vertex, 1 per mask, 3 indices
        // per triangle.
        const bool rebuilt = copies > 80 || fresh;
        const int nv = 2 * (rebuilt ? mesh->getNbVertices() : 42),
                  nt = 2 * (rebuilt ? mesh->getNbTriangles() : 80);
        QCOMPARE(renderer->buildCount(), rebuilt ? 2 : 1);
        QCOMPARE(QList<int>({renderer->vertexBufferBytes(), renderer->normalBufferBytes(),
                     renderer->maskBufferBytes(), renderer->indexBufferBytes()}),
            QList<int>({12 * nv, 12 * nv, 4 * nv, 12 * nt}));
        const std::vector<float> p = renderer->readPositions(), n = renderer->readNormals(),
                                 m = renderer->readMasks();
        const std::vector<unsigned> corners = renderer->readIndices();
        auto at = [](const auto &l, int i) {
            return QVector3D(l[3 * i], l[3 * i + 1], l[3 * i + 2]);
        };
        for (int i = 0; i < mesh->getNbVertices(); ++i)
            QVERIFY(at(p, i) == v[i].position && at(n, i) == v[i].normal && m[i] == v[i].mask);
        for (int i = 0; i < mesh->getNbTriangles(); ++i)
            QCOMPARE(at(corners, i), QVector3D(t[i].vertex1, t[i].vertex2, t[i].vertex3));
        VERIFY_MESH(*mesh);
    }
    void modesDraw_data()
    {
        QTest::addColumn<int>("mode"); // phong, wireframe, transparency, reflection 1 and 2
        for (int mode = 0; mode < MeshRenderer::modeCount; ++mode)
            QTest::addRow("mode %d", mode) << mode;
    }
    // Each mode links its program and draws the mesh over the centre, not the corners, darker where
    // masked, and the brush outline around the picked point; transparency leaves no depth, and
    // every mode leaves depth writes on and blending off. (The octree overlay is drawn by the app
    // test.)
    void modesDraw()
    {
        QFETCH(int, mode);
        qInstallMessageHandler(collect);
        MeshRenderer *renderer = sphereIn(sourceRoot);
        mesh->setColor(QColor(10, 100, 200));
        mesh->initShaders(mode);
        QVERIFY2(renderer->programReady(), qPrintable(messages.join(u'\n')));
        QCOMPARE(renderer->textureId() != 0, mode >= 3);
        // The brush at the sphere's front, half its radius wide.
        const float r = (mesh->getVertex(0).position - mesh->getCenter()).length();
        const QImage plain = render(*mesh),
                     brushed = render(*mesh, mesh->getCenter() + QVector3D(0, 0, r), r * r / 4);
        const QRgb centre = plain.pixel(side / 2, side / 2);
        QVERIFY(plain.pixel(side - 1, side - 1) == plain.pixel(0, 0) && centre != plain.pixel(0, 0)
            && brushed.pixel(side / 2, side / 2) == centre);
        for (Vertex &v : mesh->getVertices())
            v.mask = 1.0f;
        mesh->updateMesh(TestMeshes::allTriangles(*mesh), TestMeshes::allVertices(*mesh));
        QVERIFY(grey(render(*mesh)) < 0.9 * grey(plain));
        GLboolean depthWrites = GL_FALSE;
        gl()->glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
        QVERIFY(depthWrites == GL_TRUE && gl()->glIsEnabled(GL_BLEND) == GL_FALSE);
        QCOMPARE(centreDepth < 1.0f, mode != MeshRenderer::Transparency);

        QCOMPARE(gl()->glGetError(), GLenum(GL_NO_ERROR));
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
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
            QVERIFY(fragment.endsWith(name)
                || QFile::link(shaders + name, broken.filePath("Shaders/" + name)));
        QVERIFY(TestIo::writeFile(broken.filePath(fragment),
            TestIo::readFile(shaders + "phongFragment.glsl") + "\nthis is not glsl;\n"));

        QVERIFY(!sphereIn(empty.path())->programReady());
        QCOMPARE(messages.filter("phongVertex.glsl").size(), 1);
        QCOMPARE(messages.filter("phongFragment.glsl").size(), 1);
        QVERIFY(messages.first().contains(empty.path()) && visible());
        mesh->initVBO(); // every full build reloads the shaders, each reported once
        mesh->initShaders(1);
        mesh->initShaders(1);
        QCOMPARE(messages.filter(QRegularExpression("phongVertex|wireframeGeometry")).size(), 2);

        MeshRenderer *renderer = sphereIn(broken.path());
        QVERIFY(!renderer->programReady() && messages.size() == 1);
        QVERIFY(messages.first().contains(broken.filePath(fragment))
            && messages.first().contains("error", Qt::CaseInsensitive)
            && !messages.first().contains("Problematic"));
        mesh->initVBO();
        QVERIFY(visible());
        mesh->initShaders(MeshRenderer::Wireframe);
        QVERIFY(renderer->programReady() && messages.size() == 1);

        renderer = sphereIn(imageless.path());
        mesh->initShaders(MeshRenderer::Reflection1);
        mesh->initShaders(MeshRenderer::Reflection1);
        QVERIFY(renderer->programReady() && renderer->textureId() == 0 && visible());
        QVERIFY(messages.size() == 1 && messages.first().contains("reflection1.png"));
        QVERIFY(QFile::link(sourceRoot + "/Ressources", imageless.filePath("Ressources")));
        mesh->initShaders(MeshRenderer::Reflection2);
        QVERIFY(renderer->textureId() != 0 && messages.size() == 1);
    }

private:
    QOpenGLFunctions *gl() { return context.functions(); }
    // A fresh sphere in `mesh`, with its data files looked up in `folder`; messages start anew.
    MeshRenderer *sphereIn(const QString &folder)
    {
        messages.clear();
        QDir::setCurrent(folder);
        return attachRenderer(*(mesh = TestMeshes::makeIcosphere(2)));
    }
    // The sphere seen from 4 radii away along +z, and the depth at the centre.
    QImage render(const Mesh &m, QVector3D picked = {}, float radiusSquared = 0.0f)
    {
        const float radius = (m.getVertex(0).position - m.getCenter()).length(); // a sphere
        QMatrix4x4 view, projection;
        view.lookAt(QVector3D(0, 0, 4.0f * radius), QVector3D(0, 0, 0), QVector3D(0, 1, 0));
        projection.perspective(40.0f, 1.0f, 10.0f, 5000.0f);
        fbo->bind();
        gl()->glViewport(0, 0, side, side);
        gl()->glEnable(GL_DEPTH_TEST);
        gl()->glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
        gl()->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawMesh(m, view, projection, QSize(side, side), picked, radiusSquared);
        gl()->glReadPixels(side / 2, side / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &centreDepth);
        QImage image = fbo->toImage();
        fbo->release();
        return image;
    }
    bool visible()
    {
        const QImage image = render(*mesh);
        return image.pixel(side / 2, side / 2) != image.pixel(0, 0);
    }
    // The mean grey level around the centre.
    static int grey(const QImage &image)
    {
        return qGray(image.copy(80, 80, 40, 40)
                         .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .pixel(0, 0));
    }

    QOpenGLContext context;
    QOffscreenSurface surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    QString sourceRoot;
    std::unique_ptr<Mesh> mesh;
    float centreDepth = 0.0f;
};

QTEST_MAIN(TestRender)
#include "tst_render.moc"
