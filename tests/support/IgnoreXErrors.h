// Desktop windows on a display without a window manager make X report harmless errors about
// window-manager atoms that do not exist, and Xlib's default handler would end the process. A JUCE
// application installs a quiet handler itself; a test or benchmark without an application object calls
// this before its first window. The library stays mapped after JUCE closes it at shut-down, so that the
// leak checker still sees what Xlib's own globals hold.
#pragma once

#include <dlfcn.h>

inline void ignoreXErrors()
{
    using Handler = int (*)(void*, void*);
    using SetHandler = Handler (*)(Handler);
    static void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NODELETE);
    if (auto* setHandler = (SetHandler) dlsym(x11, "XSetErrorHandler"))
        setHandler([](void*, void*) { return 0; });
}
