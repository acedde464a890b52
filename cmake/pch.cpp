// The shared precompiled headers' targets compile nothing of their own; see cmake/Hub.cmake.
