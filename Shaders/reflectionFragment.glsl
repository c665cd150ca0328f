#version 150
// Reflection (both modes), fragment stage: "reflectionTexture" is a lit sphere seen from the
// front, and the view-space normal's x and y pick the texel showing a surface that faces the
// same way. The picture is tinted by the mesh colour.

in vec3 viewPosition;
in vec3 viewNormal;
in float surfaceMask;

uniform vec4 color;
uniform vec3 centerPicking;
uniform float radiusSquared;
uniform sampler2D reflectionTexture;

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
    vec3 n = normalize(viewNormal);
    if (dot(n, -viewPosition) < 0.0)
        n = -n;
    vec2 uv = n.xy * 0.5 + 0.5;
    vec3 texel = texture(reflectionTexture, uv).rgb;
    vec3 tint = mix(vec3(1.0), color.rgb, 0.6);
    vec3 lit = texel * tint * 1.1;
    lit *= 1.0 - maskDarkening * clamp(surfaceMask, 0.0, 1.0);
    lit = mix(lit, brushColor, 0.85 * brushOutline(viewPosition));
    fragColor = vec4(lit, color.a);
}
