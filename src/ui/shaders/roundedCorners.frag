#version 440
// Cuts the lanes to a rounded rectangle: full coverage inside, an antialiased edge one point wide
// along each corner's arc, nothing outside.

layout(location = 0) in vec2 qt_TexCoord0;
layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    vec2 itemSize;  // the item's size in points
    float radius;   // corner radius in points
} ubuf;

layout(binding = 1) uniform sampler2D source;

void main()
{
    vec2 p = qt_TexCoord0 * ubuf.itemSize;
    vec2 nearest = clamp(p, vec2(ubuf.radius), ubuf.itemSize - vec2(ubuf.radius));
    float coverage = clamp(ubuf.radius + 0.5 - length(p - nearest), 0.0, 1.0);
    fragColor = texture(source, qt_TexCoord0) * coverage * ubuf.qt_Opacity;
}
