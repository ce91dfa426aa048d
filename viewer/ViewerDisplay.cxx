#include "ViewerDisplay.h"

#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <unistd.h>

namespace
{
int IgnoreXError(Display*, XErrorEvent*)
{
  return 0;
}

// Whether an OpenGL 3.2 context, the least VTK's render window works with,
// can be made for config. A refusal comes as an X error, which would end the
// process under Xlib's default handler: it is caught for the attempt.
bool CanCreateContext(Display* display, GLXFBConfig config)
{
  using CreateContext = GLXContext (*)(Display*, GLXFBConfig, GLXContext, Bool, const int*);
  auto create = reinterpret_cast<CreateContext>(
    glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
  if (create == nullptr)
  {
    return false;
  }
  const int attributes[] = { GLX_CONTEXT_MAJOR_VERSION_ARB, 3, GLX_CONTEXT_MINOR_VERSION_ARB, 2,
    None };
  XSync(display, False);
  XErrorHandler previous = XSetErrorHandler(IgnoreXError);
  GLXContext context = create(display, config, nullptr, True, attributes);
  XSync(display, False);
  XSetErrorHandler(previous);
  if (context == nullptr)
  {
    return false;
  }
  glXDestroyContext(display, context);
  return true;
}
} // namespace

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
  std::string missing;
  XVisualInfo* visual = nullptr;
  if (configs != nullptr && count > 0)
  {
    visual = glXGetVisualFromFBConfig(display, configs[0]);
  }
  if (visual == nullptr)
  {
    missing = "the X server offers no double-buffered RGBA OpenGL visual with a depth buffer";
  }
  else if (!CanCreateContext(display, configs[0]))
  {
    missing = "no OpenGL 3.2 context can be made there";
  }
  if (visual != nullptr)
  {
    XFree(visual);
  }
  if (configs != nullptr)
  {
    XFree(configs);
  }
  return missing;
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
