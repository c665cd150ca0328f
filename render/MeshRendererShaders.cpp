// The shader programs of MeshRenderer (one per shading mode, and the fallback) and the
// reflection texture.
#include "MeshRenderer.h"

#include "DataFiles.h"
#include "mesh/Mesh.h"

#include <QFile>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

namespace {

// Qt prints every failed compile with the whole shader source, and a failed link, at each
// attempt. Failures are reported once through reportRenderProblem instead, so Qt's own shader
// messages are dropped while a program is being built. Other messages pass through.
class QuietShaderMessages
{
public:
    QuietShaderMessages() { previous = qInstallMessageHandler(&QuietShaderMessages::handle); }
    ~QuietShaderMessages() { qInstallMessageHandler(previous); }
    QuietShaderMessages(const QuietShaderMessages &) = delete;
    QuietShaderMessages &operator=(const QuietShaderMessages &) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (message.startsWith(QLatin1String("QOpenGLShader"))
            || message.startsWith(QLatin1String("*** Problematic")))
            return;
        if (previous)
            previous(type, context, message);
    }
    static inline QtMessageHandler previous = nullptr;
};

// Drawn when a mode's own program cannot be built, so that the mesh stays visible: plain
// two-sided diffuse light in the mesh colour. It accepts the same attributes and uniforms.
const char *fallbackVertexSource = R"(#version 150
in vec3 vertex;
in vec3 normal;
uniform mat4 modelViewMatrix;
uniform mat4 modelViewProjectionMatrix;
in float mask;
out vec3 viewNormal;
out float fragmentMask;
void main()
{
    viewNormal = mat3(modelViewMatrix) * normal;
    fragmentMask = mask;
    gl_Position = modelViewProjectionMatrix * vec4(vertex, 1.0);
}
)";

const char *fallbackFragmentSource = R"(#version 150
in vec3 viewNormal;
in float fragmentMask;
uniform vec4 color;
out vec4 fragColor;
void main()
{
    vec3 n = normalize(viewNormal);
    fragColor = vec4(color.rgb * (0.25 + 0.75 * abs(n.z)) * (1.0 - 0.6 * fragmentMask), color.a);
}
)";

} // namespace

QStringList MeshRenderer::shaderFiles(int mode)
{
    switch (mode) {
    case Wireframe:
        return {QStringLiteral("wireframeVertex.glsl"), QStringLiteral("wireframeGeometry.glsl"),
            QStringLiteral("wireframeFragment.glsl")};
    case Transparency:
        return {
            QStringLiteral("transparencyVertex.glsl"), QStringLiteral("transparencyFragment.glsl")};
    case Reflection1:
    case Reflection2:
        return {QStringLiteral("reflectionVertex.glsl"), QStringLiteral("reflectionFragment.glsl")};
    default:
        return {QStringLiteral("phongVertex.glsl"), QStringLiteral("phongFragment.glsl")};
    }
}

QString MeshRenderer::textureFile(int mode)
{
    if (mode == Reflection1)
        return QStringLiteral("reflection1.png");
    if (mode == Reflection2)
        return QStringLiteral("reflection2.png");
    return {};
}

void MeshRenderer::initShaders(const Mesh &mesh)
{
    int mode = mesh.getShaderType();
    if (mode < 0 || mode >= modeCount) {
        reportRenderProblem(QStringLiteral("unknown shading mode %1; phong is used").arg(mode));
        mode = Phong;
    }
    shaderType_ = mode;
    if (mode == Reflection1 || mode == Reflection2)
        loadTexture(mode);
    programReady_ = buildProgram(mode);
    if (!programReady_ && !(fallback_ && fallback_->isLinked()))
        buildFallbackProgram();
}

void MeshRenderer::loadTexture(int mode)
{
    const QString relative = QStringLiteral("Ressources/") + textureFile(mode);
    const QString path = findDataFile(relative);
    QImage image;
    if (path.isEmpty() || !image.load(path)) {
        const QString where = path.isEmpty()
            ? QStringLiteral("not found in %1").arg(dataFolders().join(QStringLiteral(", ")))
            : QStringLiteral("%1 cannot be read as an image").arg(path);
        reportRenderProblem(QStringLiteral("reflection image %1: %2; the previous texture is "
                                           "kept")
                                .arg(relative, where));
        return;
    }
    // Rows bottom-up, four bytes per texel, as glTexImage2D reads them.
    const QImage texels = image.convertToFormat(QImage::Format_RGBA8888).mirrored();

    QOpenGLFunctions *gl = QOpenGLContext::currentContext()->functions();
    if (textureId_ && textureContext_
        && QOpenGLContext::areSharing(QOpenGLContext::currentContext(), textureContext_)) {
        GLuint old = textureId_;
        gl->glDeleteTextures(1, &old);
    }
    GLuint id = 0;
    gl->glGenTextures(1, &id);
    gl->glBindTexture(GL_TEXTURE_2D, id);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, texels.width(), texels.height(), 0, GL_RGBA,
        GL_UNSIGNED_BYTE, texels.constBits());
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    textureId_ = id;
    textureContext_ = QOpenGLContext::currentContext();
}

bool MeshRenderer::buildProgram(int mode)
{
    // A fresh program object each time: stages of an earlier mode never linger.
    program_ = std::make_unique<QOpenGLShaderProgram>();
    QuietShaderMessages quiet;

    const QStringList files = shaderFiles(mode);
    bool ok = true;
    for (int k = 0; k < files.size(); ++k) {
        QOpenGLShader::ShaderType type = QOpenGLShader::Fragment;
        if (k == 0)
            type = QOpenGLShader::Vertex;
        else if (files.size() == 3 && k == 1)
            type = QOpenGLShader::Geometry;
        const QString relative = QStringLiteral("Shaders/") + files[k];
        const QString path = findDataFile(relative);
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            const QString where = path.isEmpty()
                ? QStringLiteral("not found in %1").arg(dataFolders().join(QStringLiteral(", ")))
                : QStringLiteral("%1 cannot be read").arg(path);
            reportRenderProblem(QStringLiteral("shader %1: %2").arg(relative, where));
            ok = false;
            continue;
        }
        if (!program_->addShaderFromSourceCode(type, file.readAll())) {
            reportRenderProblem(QStringLiteral("shader %1 does not compile:\n%2")
                                    .arg(path, program_->log().trimmed()));
            ok = false;
        }
    }
    if (!ok)
        return false;
    // The wireframe's geometry stage (triangles in, a strip of three vertices out) is declared
    // by layout qualifiers in its source: Qt 6 programs have no geometry settings of their own.
    program_->bindAttributeLocation("vertex", 0);
    program_->bindAttributeLocation("normal", 1);
    program_->bindAttributeLocation("mask", 2);
    if (!program_->link()) {
        reportRenderProblem(QStringLiteral("shaders %1 do not link:\n%2")
                                .arg(files.join(QStringLiteral(", ")), program_->log().trimmed()));
        return false;
    }
    return true;
}

bool MeshRenderer::buildFallbackProgram()
{
    fallback_ = std::make_unique<QOpenGLShaderProgram>();
    QuietShaderMessages quiet;
    bool ok = fallback_->addShaderFromSourceCode(QOpenGLShader::Vertex, fallbackVertexSource)
        && fallback_->addShaderFromSourceCode(QOpenGLShader::Fragment, fallbackFragmentSource);
    if (ok) {
        fallback_->bindAttributeLocation("vertex", 0);
        fallback_->bindAttributeLocation("normal", 1);
        fallback_->bindAttributeLocation("mask", 2);
        ok = fallback_->link();
    }
    if (!ok)
        reportRenderProblem(QStringLiteral("the built-in replacement shaders do not build "
                                           "either; the mesh is not drawn:\n%1")
                                .arg(fallback_->log().trimmed()));
    return ok;
}

QOpenGLShaderProgram *MeshRenderer::activeProgram()
{
    if (programReady_ && program_)
        return program_.get();
    if (fallback_ && fallback_->isLinked())
        return fallback_.get();
    return nullptr;
}
