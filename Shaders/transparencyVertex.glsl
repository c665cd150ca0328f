#version 150
// Transparency, vertex stage. "lightPosition" is the mesh centre in the mesh's own
// coordinates; the direction from it to the vertex tells outer from inner surfaces.

in vec3 vertex;
in vec3 normal;
in float mask;               // 0 free, 1 fully masked

uniform mat4 modelViewMatrix;
uniform mat4 modelViewProjectionMatrix;
uniform mat3 normalMatrix;
uniform vec3 lightPosition;

out vec3 viewPosition;
out vec3 viewNormal;
out float outward;
out float surfaceMask;

void main()
{
    viewPosition = (modelViewMatrix * vec4(vertex, 1.0)).xyz;
    viewNormal = normalMatrix * normal;
    surfaceMask = mask;
    vec3 fromCenter = vertex - lightPosition;
    float len = length(fromCenter);
    outward = len > 0.0 ? dot(normalize(normal), fromCenter / len) : 0.0;
    gl_Position = modelViewProjectionMatrix * vec4(vertex, 1.0);
}
