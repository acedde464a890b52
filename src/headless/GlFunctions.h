#pragma once

// The OpenGL entry points the headless lanes use, resolved through EGL for whichever API the
// context speaks (desktop OpenGL 3.3 core or OpenGL ES 3.0: these functions exist in both).
// Included only by the headless sources that talk to OpenGL, never beside Qt's own OpenGL headers.

#include <GL/glcorearb.h>

// From the OpenGL ES timer-query extension, which the desktop header does not name.
constexpr GLenum kGpuDisjoint = 0x8FBB;

#define HUB_GL_FUNCTIONS(F)                                                                                            \
    F(PFNGLGETSTRINGPROC, glGetString)                                                                                 \
    F(PFNGLGETSTRINGIPROC, glGetStringi)                                                                               \
    F(PFNGLGETINTEGERVPROC, glGetIntegerv)                                                                             \
    F(PFNGLGETERRORPROC, glGetError)                                                                                   \
    F(PFNGLDISABLEPROC, glDisable)                                                                                     \
    F(PFNGLCREATESHADERPROC, glCreateShader)                                                                           \
    F(PFNGLSHADERSOURCEPROC, glShaderSource)                                                                           \
    F(PFNGLCOMPILESHADERPROC, glCompileShader)                                                                         \
    F(PFNGLGETSHADERIVPROC, glGetShaderiv)                                                                             \
    F(PFNGLGETSHADERINFOLOGPROC, glGetShaderInfoLog)                                                                   \
    F(PFNGLDELETESHADERPROC, glDeleteShader)                                                                           \
    F(PFNGLCREATEPROGRAMPROC, glCreateProgram)                                                                         \
    F(PFNGLATTACHSHADERPROC, glAttachShader)                                                                           \
    F(PFNGLLINKPROGRAMPROC, glLinkProgram)                                                                             \
    F(PFNGLGETPROGRAMIVPROC, glGetProgramiv)                                                                           \
    F(PFNGLGETPROGRAMINFOLOGPROC, glGetProgramInfoLog)                                                                 \
    F(PFNGLDELETEPROGRAMPROC, glDeleteProgram)                                                                         \
    F(PFNGLUSEPROGRAMPROC, glUseProgram)                                                                               \
    F(PFNGLGETUNIFORMLOCATIONPROC, glGetUniformLocation)                                                               \
    F(PFNGLUNIFORM1FPROC, glUniform1f)                                                                                 \
    F(PFNGLUNIFORM1IPROC, glUniform1i)                                                                                 \
    F(PFNGLGENVERTEXARRAYSPROC, glGenVertexArrays)                                                                     \
    F(PFNGLBINDVERTEXARRAYPROC, glBindVertexArray)                                                                     \
    F(PFNGLDELETEVERTEXARRAYSPROC, glDeleteVertexArrays)                                                               \
    F(PFNGLGENTEXTURESPROC, glGenTextures)                                                                             \
    F(PFNGLBINDTEXTUREPROC, glBindTexture)                                                                             \
    F(PFNGLTEXPARAMETERIPROC, glTexParameteri)                                                                         \
    F(PFNGLTEXIMAGE2DPROC, glTexImage2D)                                                                               \
    F(PFNGLDELETETEXTURESPROC, glDeleteTextures)                                                                       \
    F(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffers)                                                                     \
    F(PFNGLBINDFRAMEBUFFERPROC, glBindFramebuffer)                                                                     \
    F(PFNGLFRAMEBUFFERTEXTURE2DPROC, glFramebufferTexture2D)                                                           \
    F(PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatus)                                                       \
    F(PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffers)                                                               \
    F(PFNGLVIEWPORTPROC, glViewport)                                                                                   \
    F(PFNGLCLEARCOLORPROC, glClearColor)                                                                               \
    F(PFNGLCLEARPROC, glClear)                                                                                         \
    F(PFNGLDRAWARRAYSPROC, glDrawArrays)                                                                               \
    F(PFNGLPIXELSTOREIPROC, glPixelStorei)                                                                             \
    F(PFNGLREADPIXELSPROC, glReadPixels)                                                                               \
    F(PFNGLFENCESYNCPROC, glFenceSync)                                                                                 \
    F(PFNGLCLIENTWAITSYNCPROC, glClientWaitSync)                                                                       \
    F(PFNGLDELETESYNCPROC, glDeleteSync)                                                                               \
    F(PFNGLGENQUERIESPROC, glGenQueries)                                                                               \
    F(PFNGLDELETEQUERIESPROC, glDeleteQueries)

struct GlFunctions
{
#define HUB_GL_MEMBER(type, name) type name = nullptr;
    HUB_GL_FUNCTIONS(HUB_GL_MEMBER)
#undef HUB_GL_MEMBER

    // GPU timestamps: core in desktop OpenGL 3.3, an extension in OpenGL ES; null when the
    // context offers none.
    PFNGLQUERYCOUNTERPROC glQueryCounter = nullptr;
    PFNGLGETQUERYOBJECTUI64VPROC glGetQueryObjectui64v = nullptr;
    // Whether a timestamp pair must be checked against the ES extension's disjoint flag.
    bool timestampsCanBeDisjoint = false;
};
