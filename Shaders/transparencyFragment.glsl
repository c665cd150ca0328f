#version 150
// Transparency, fragment stage: a faint glassy surface drawn without depth writes and blended
// over what is behind. Surfaces seen edge-on are more opaque, so the silhouette and the folds
// stay readable; the brush outline is drawn nearly opaque.

in vec3 viewPosition;
in vec3 viewNormal;
in float surfaceMask;
in float outward;

uniform vec4 color;   // alpha is the base opacity
uniform vec3 centerPicking;
uniform float radiusSquared;

out vec4 fragColor;

const vec3 brushColor = vec3(1.0, 0.78, 0.25);
// Share of the light that a fully masked surface loses.
const float maskDarkening = 0.6;

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

void main()
{
    vec3 toEye = normalize(-viewPosition);
    vec3 n = normalize(viewNormal);
    float facing = abs(dot(n, toEye));
    float rim = pow(1.0 - facing, 2.0);
    vec3 key = normalize(vec3(-0.4, 0.6, 0.7));
    float diffuse = 0.6 * abs(dot(n, key));
    // Outer surfaces a little brighter than inner ones.
    float glow = 0.85 + 0.15 * outward;
    vec3 lit = color.rgb * (0.35 + diffuse) * glow + vec3(0.35 * rim);
    float alpha = clamp(color.a + 0.45 * rim, 0.0, 1.0);
    float brush = brushOutline(viewPosition);
    lit *= 1.0 - maskDarkening * clamp(surfaceMask, 0.0, 1.0);
    lit = mix(lit, brushColor, brush);
    alpha = mix(alpha, 0.9, brush);
    fragColor = vec4(lit, alpha);
}
