#version 150
// Wireframe, vertex stage. No normal matrix is given in this mode: the model-view matrix is a
// rotation and a translation, so its upper 3x3 turns normals as well.

in vec3 vertex;
in vec3 normal;
in float mask;               // 0 free, 1 fully masked

uniform mat4 modelViewMatrix;
uniform mat4 modelViewProjectionMatrix;

out vec3 vertexViewPosition;
out vec3 vertexViewNormal;
out float vertexMask;

void main()
{
    vertexViewPosition = (modelViewMatrix * vec4(vertex, 1.0)).xyz;
    vertexViewNormal = mat3(modelViewMatrix) * normal;
    vertexMask = mask;
    gl_Position = modelViewProjectionMatrix * vec4(vertex, 1.0);
}
