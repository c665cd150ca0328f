#version 150
// Reflection (both modes), vertex stage.

in vec3 vertex;
in vec3 normal;
in float mask;               // 0 free, 1 fully masked

uniform mat4 modelViewMatrix;
uniform mat4 modelViewProjectionMatrix;
uniform mat3 normalMatrix;

out vec3 viewPosition;
out vec3 viewNormal;
out float surfaceMask;

void main()
{
    viewPosition = (modelViewMatrix * vec4(vertex, 1.0)).xyz;
    viewNormal = normalMatrix * normal;
    surfaceMask = mask;
    gl_Position = modelViewProjectionMatrix * vec4(vertex, 1.0);
}
