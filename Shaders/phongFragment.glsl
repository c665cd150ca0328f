#version 150
// Phong shading, fragment stage: a key light above left of the camera, a dimmer fill from the
// lower right and a Blinn highlight, in the mesh colour; both sides of the surface are lit.
// The brush shows as a bright ring where the surface crosses the brush sphere.

in vec3 viewPosition;
in vec3 viewNormal;
in float surfaceMask;

uniform vec4 color;
uniform vec3 centerPicking;   // picked point, view space
uniform float radiusSquared;  // squared brush radius; 0 when nothing is picked

out vec4 fragColor;

const vec3 brushColor = vec3(1.0, 0.78, 0.25);
// Share of the light that a fully masked surface loses.
const float maskDarkening = 0.6;

// 1 on the brush outline, 0 away from it: a ring of roughly constant screen width where the
// view-space distance to the picked point equals the brush radius.
float brushOutline(vec3 p)
{
    if (radiusSquared <= 0.0)
        return 0.0;
    float radius = sqrt(radiusSquared);
    float d = length(p - centerPicking);
    float pixel = max(fwidth(d), 1e-6);
    float halfWidth = max(1.25 * pixel, 0.012 * radius);
    return 1.0 - smoothstep(halfWidth, halfWidth + pixel, abs(d - radius));
}

vec3 shade(vec3 n, vec3 toEye, vec3 base)
{
    vec3 key = normalize(vec3(-0.4, 0.6, 0.7));
    vec3 fill = normalize(vec3(0.6, -0.4, 0.5));
    float diffuse = 0.8 * max(dot(n, key), 0.0) + 0.25 * max(dot(n, fill), 0.0);
    float specular = 0.25 * pow(max(dot(n, normalize(key + toEye)), 0.0), 40.0);
    return base * (0.18 + diffuse) + vec3(specular);
}

void main()
{
    vec3 toEye = normalize(-viewPosition);
    vec3 n = normalize(viewNormal);
    if (dot(n, toEye) < 0.0)
        n = -n;
    vec3 lit = shade(n, toEye, color.rgb);
    lit *= 1.0 - maskDarkening * clamp(surfaceMask, 0.0, 1.0);
    lit = mix(lit, brushColor, 0.85 * brushOutline(viewPosition));
    fragColor = vec4(lit, color.a);
}
