#version 440
// The activity lanes: six horizontal lanes, one per specialist seat (lane 0 lowest), over a fine
// vertical grid. An active lane is a bright wave whose height and speed grow with the service output
// rate; an idle lane is a faint flat line. The window's lanes view runs this shader in Qt Quick, the
// headless export on its own OpenGL context, and LanesFrame evaluates the same formula on the CPU.
//
// qt_TexCoord0 runs from (0, 0) at the top left to (1, 1) at the bottom right of the target; the
// formula's uv has its y going up.

layout(location = 0) in vec2 qt_TexCoord0;
layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    float time;      // seconds of animation
    int activeMask;  // bit i marks lane i active; bits above 5 are never read
    float velocity;  // service output rate in tokens per second
} ubuf;

void main()
{
    vec2 uv = vec2(qt_TexCoord0.x, 1.0 - qt_TexCoord0.y);
    // 0 at both side edges, 1 in the middle.
    float envelope = sin(uv.x * 3.14159265);
    float speed = 1.0 + min(ubuf.velocity / 40.0, 4.0);
    float line = 0.0;
    for (int i = 0; i < 6; ++i) {
        // Bit i by arithmetic: the oldest shading languages the scene graph targets have no
        // integer bit operations.
        bool lit = mod(floor(float(ubuf.activeMask) / exp2(float(i))), 2.0) >= 1.0;
        float centre = (float(i) + 0.5) / 6.0;
        float amplitude = lit ? 0.008 + min(ubuf.velocity / 120.0, 1.0) * 0.035 : 0.0;
        float wave = centre + sin(uv.x * 38.0 - ubuf.time * speed + float(i)) * amplitude * envelope;
        line += exp(-abs(uv.y - wave) * 190.0) * (lit ? 0.9 : 0.24);
    }
    // Thin vertical lines at the right end of each of 32 equal columns.
    float grid = fract(uv.x * 32.0) >= 0.985 ? 0.025 : 0.0;
    vec3 colour = vec3(0.065, 0.12, 0.105) + line * vec3(0.25, 0.57, 0.40) + vec3(grid);
    fragColor = vec4(colour, 1.0) * ubuf.qt_Opacity;
}
