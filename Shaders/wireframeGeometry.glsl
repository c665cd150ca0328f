#version 150
// Wireframe, geometry stage: passes each triangle through unchanged and gives every corner its
// distance in pixels to the opposite edge, so that the fragment stage knows how far it is from
// the nearest edge. "winScale" is the viewport size in pixels.
//
// The stage's settings (triangles in, a triangle strip of three vertices out) are the layout
// qualifiers below; Qt 6 has no program-side calls for them. Like the other stages this one is
// core GLSL 1.50: every matrix arrives as a uniform, no fixed-function state is read.

layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;

uniform vec2 winScale;

in vec3 vertexViewPosition[];
in vec3 vertexViewNormal[];
in float vertexMask[];

out vec3 viewPosition;
out vec3 viewNormal;
out float surfaceMask;
noperspective out vec3 edgeDistance;

void main()
{
    vec2 p[3];
    bool behindEye = false;
    for (int i = 0; i < 3; ++i) {
        vec4 c = gl_in[i].gl_Position;
        if (c.w <= 0.0)
            behindEye = true;
        p[i] = 0.5 * winScale * (c.xy / max(abs(c.w), 1e-9));
    }
    vec2 e0 = p[2] - p[1];
    vec2 e1 = p[0] - p[2];
    vec2 e2 = p[1] - p[0];
    float twiceArea = abs(e1.x * e2.y - e1.y * e2.x);
    // Heights of the triangle on screen: corner i to the edge facing it.
    vec3 heights = twiceArea / max(vec3(length(e0), length(e1), length(e2)), vec3(1e-6));
    // A triangle crossing the eye plane has no meaningful screen shape: no edges for it.
    if (behindEye)
        heights = vec3(1e6);

    for (int i = 0; i < 3; ++i) {
        viewPosition = vertexViewPosition[i];
        viewNormal = vertexViewNormal[i];
        surfaceMask = vertexMask[i];
        edgeDistance = vec3(0.0);
        edgeDistance[i] = heights[i];
        gl_Position = gl_in[i].gl_Position;
        EmitVertex();
    }
    EndPrimitive();
}
