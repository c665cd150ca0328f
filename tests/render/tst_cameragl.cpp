#include "geometry/Camera.h"
#include "render/CameraGL.h"
#include "render/SurfaceFormat.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QtGui/qopengl.h>
#include <QtTest>

#include <memory>

// The GL half of the camera: what ends up in the viewport and the fixed-function matrix stacks.
class TestCameraGL : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void viewport_data();
    void viewport();
    void matrices_data();
    void matrices();

private:
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLContext> context;
};

void TestCameraGL::initTestCase()
{
    context = std::make_unique<QOpenGLContext>();
    QVERIFY2(context->create(), "no OpenGL context (the GL tests need an X server, e.g. Xvfb)");
    surface = std::make_unique<QOffscreenSurface>();
    surface->setFormat(context->format());
    surface->create();
    QVERIFY(context->makeCurrent(surface.get()));
    QVERIFY2(context->format().profile() != QSurfaceFormat::CoreProfile,
        "a core profile context has no fixed-function matrix stacks");
}

void TestCameraGL::cleanupTestCase()
{
    if (context)
        context->doneCurrent();
    context.reset();
    surface.reset();
}

void TestCameraGL::viewport_data()
{
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");
    QTest::addColumn<double>("pixelRatio");
    QTest::addColumn<QRect>("expected");

    QTest::newRow("800 x 600") << 800.0 << 600.0 << 1.0 << QRect(0, 0, 800, 600);
    QTest::newRow("fractional size truncates") << 640.9 << 480.2 << 1.0 << QRect(0, 0, 640, 480);
    QTest::newRow("device pixel ratio 2") << 800.0 << 600.0 << 2.0 << QRect(0, 0, 1600, 1200);
    QTest::newRow("not yet sized") << -1.0 << -1.0 << 1.0 << QRect(0, 0, 0, 0);
}

void TestCameraGL::viewport()
{
    QFETCH(double, w);
    QFETCH(double, h);
    QFETCH(double, pixelRatio);
    QFETCH(QRect, expected);

    Camera camera;
    camera.setViewport(w, h);
    glViewport(1, 2, 3, 4);
    prepareCameraFrame(camera, pixelRatio);
    GLint v[4] = {-1, -1, -1, -1};
    glGetIntegerv(GL_VIEWPORT, v);
    QCOMPARE(QRect(v[0], v[1], v[2], v[3]), expected);
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
}

void TestCameraGL::matrices_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("trackball sphere") << 0;
    QTest::newRow("trackball plane") << 1;
    QTest::newRow("freelook") << 2;
}

void TestCameraGL::matrices()
{
    QFETCH(int, mode);

    Camera camera;
    camera.setViewport(1024, 512);
    camera.setMotionScale(300.0f);
    camera.setMode(mode);
    camera.startRotation(QPointF(512, 256));
    camera.rotate(QPointF(700, 100));
    camera.pan(0.05, -0.02);

    // Leave junk on both stacks first: the loads replace it.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glScalef(2, 3, 4);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(5, 6, 7);

    prepareCameraFrame(camera);

    GLfloat projection[16];
    GLfloat modelView[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    GLint matrixMode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
    QCOMPARE(matrixMode, GLint(GL_MODELVIEW));

    for (int i = 0; i < 16; ++i) {
        QCOMPARE(projection[i], camera.getProjection().constData()[i]);
        QCOMPARE(modelView[i], camera.getView().constData()[i]);
    }
    // And they are not the identity: the camera did compute them.
    QVERIFY(!camera.getView().isIdentity());
    QVERIFY(!camera.getProjection().isIdentity());
}

QTEST_MAIN(TestCameraGL)
#include "tst_cameragl.moc"
