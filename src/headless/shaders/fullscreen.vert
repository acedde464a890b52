#version 440
// One triangle over the whole target, from the vertex index alone (no vertex buffers): clip-space
// points (-1, -1), (3, -1), (-1, 3). It hands the lanes shader the coordinate the scene graph hands
// a ShaderEffect: (0, 0) at the top left of the target, (1, 1) at the bottom right.

layout(location = 0) out vec2 qt_TexCoord0;

void main()
{
    vec2 position = vec2(gl_VertexIndex == 1 ? 3.0 : -1.0, gl_VertexIndex == 2 ? 3.0 : -1.0);
    vec2 uv = position * 0.5 + 0.5;
    qt_TexCoord0 = vec2(uv.x, 1.0 - uv.y);
    gl_Position = vec4(position, 0.0, 1.0);
}
