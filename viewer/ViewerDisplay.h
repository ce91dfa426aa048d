#ifndef ViewerDisplay_h
#define ViewerDisplay_h

#include <string>

typedef struct _XDisplay Display;

/**
 * Opens the X display for the viewer and checks that VTK's render window can
 * draw on it. VTK aborts the process when its window cannot reach a display
 * or finds no OpenGL visual there, so the program opens the connection itself
 * and hands it to the window. A busy X server now and then refuses a single
 * connection: a few attempts are made before the viewer is given up.
 *
 * Returns the connection, or null with the reason in whyNot: no display
 * ("No display available: the viewer is not shown"), or a display without
 * the OpenGL that the render window needs (see MissingOpenGL).
 */
Display* OpenViewerDisplay(std::string& whyNot);

/**
 * Empty when the display offers what VTK's render window needs: GLX 1.3 or
 * later, a double-buffered RGBA window visual with a depth buffer, and an
 * OpenGL 3.2 context for it (indirect rendering, as over a forwarded X
 * connection, offers only older versions). Otherwise what is missing.
 */
std::string MissingOpenGL(Display* display);

#endif
