#version 150
// Wireframe, fragment stage: the shaded surface with its triangle edges drawn over it as
// anti-aliased lines about one and a half pixels wide, and the brush outline on top.

in vec3 viewPosition;
in vec3 viewNormal;
in float surfaceMask;
noperspective in vec3 edgeDistance;

uniform vec4 color;
uniform vec3 centerPicking;
uniform float radiusSquared;

out vec4 fragColor;

const vec3 brushColor = vec3(1.0, 0.78, 0.25);
// Share of the light that a fully masked surface loses.
const float maskDarkening = 0.6;
const vec3 edgeColor = vec3(0.06, 0.08, 0.10);

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
    float specular = 0.2 * pow(max(dot(n, normalize(key + toEye)), 0.0), 40.0);
    return base * (0.18 + diffuse) + vec3(specular);
}

void main()
{
    vec3 toEye = normalize(-viewPosition);
    vec3 n = normalize(viewNormal);
    if (dot(n, toEye) < 0.0)
        n = -n;
    vec3 lit = shade(n, toEye, color.rgb);
    float nearest = min(edgeDistance.x, min(edgeDistance.y, edgeDistance.z));
    float edge = 1.0 - smoothstep(0.25, 1.25, nearest);
    lit = mix(lit, edgeColor, 0.8 * edge);
    lit *= 1.0 - maskDarkening * clamp(surfaceMask, 0.0, 1.0);
    lit = mix(lit, brushColor, 0.85 * brushOutline(viewPosition));
    fragColor = vec4(lit, color.a);
}
