#ifndef Console_h
#define Console_h

/**
 * Console conventions of the program.
 *
 * Prompts, echoes, timing lines and reports go to standard output, one line at
 * a time, each followed by a line break and a flush (std::endl); floating-point
 * values use the stream's default format (six significant digits, as printf's
 * %g). Errors go to standard error.
 *
 * VTK 9 routes its messages through vtkLogger by default. SetUpConsole()
 * switches that off so that VTK's own errors and debug traces appear on
 * standard error in the toolkit's classic form:
 *
 *   ERROR: In <file>, line <n>
 *   <class> (<address>): <message>
 */
void SetUpConsole();

#endif
