#include "ViewerDisplay.h"

#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <unistd.h>

std::string MissingOpenGL(Display* display)
{
  int errorBase = 0;
  int eventBase = 0;
  if (!glXQueryExtension(display, &errorBase, &eventBase))
  {
    return "the X server has no GLX extension";
  }
  int major = 0;
  int minor = 0;
  if (!glXQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 3))
  {
    return "the X server's GLX is older than 1.3";
  }
  // The least the render window settles for.
  const int attributes[] = { GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT,
    GLX_RED_SIZE, 1, GLX_GREEN_SIZE, 1, GLX_BLUE_SIZE, 1, GLX_DEPTH_SIZE, 1, GLX_DOUBLEBUFFER,
    True, None };
  int count = 0;
  GLXFBConfig* configs =
    glXChooseFBConfig(display, DefaultScreen(display), attributes, &count);
  XVisualInfo* visual = nullptr;
  if (configs != nullptr && count > 0)
  {
    visual = glXGetVisualFromFBConfig(display, configs[0]);
  }
  if (configs != nullptr)
  {
    XFree(configs);
  }
  if (visual == nullptr)
  {
    return "the X server offers no double-buffered RGBA OpenGL visual with a depth buffer";
  }
  XFree(visual);
  return std::string();
}

Display* OpenViewerDisplay(std::string& whyNot)
{
  whyNot = "No display available: the viewer is not shown";
  const char* name = getenv("DISPLAY");
  if (name == nullptr || *name == '\0')
  {
    return nullptr;
  }
  Display* display = nullptr;
  for (int attempt = 0; attempt < 10 && display == nullptr; ++attempt)
  {
    display = XOpenDisplay(nullptr);
    if (display == nullptr)
    {
      usleep(100000);
    }
  }
  if (display == nullptr)
  {
    return nullptr;
  }
  const std::string missing = MissingOpenGL(display);
  if (!missing.empty())
  {
    whyNot = std::string("No OpenGL on display ") + name + " (" + missing +
      "): the viewer is not shown";
    XCloseDisplay(display);
    return nullptr;
  }
  whyNot.clear();
  return display;
}
