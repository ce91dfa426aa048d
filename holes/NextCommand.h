#ifndef NextCommand_h
#define NextCommand_h

// The command lines that surface_holes suggests as the next step: words a
// shell takes as they are, and a name of surface_repair that runs from the
// user's current directory.

#include <string>
#include <vector>

/**
 * The word as a POSIX shell reads it back: unchanged when it holds only
 * letters, digits and _ - . / : = + , @ %; otherwise in single quotes (a
 * single quote inside as '\'').
 */
std::string ShellWord(const std::string& word);

/// The words, each as ShellWord gives it, separated by one space.
std::string ShellLine(const std::vector<std::string>& words);

/**
 * True when an executable file called name is found in one of the
 * directories of search (a PATH value: directories separated by colons, an
 * empty one meaning the current directory).
 */
bool FoundOnPath(const std::string& name, const std::string& search);

/**
 * The shorter of program's absolute path and its path relative to the
 * directory cwd; a relative path without a slash gets "./" in front, so that a
 * shell does not look it up on PATH.
 */
std::string PathFrom(const std::string& program, const std::string& cwd);

/**
 * How to run the program called name from the current directory: name
 * itself when it is on PATH; else the path (see PathFrom) of the executable
 * of that name built beside this one, in ../app (the build tree) or in the
 * same directory (an installation), this one being /proc/self/exe; name when
 * neither exists.
 */
std::string SiblingProgram(const std::string& name);

/**
 * The name of the model copy with voids to suggest for model: the model's
 * path with "_voids" before its extension .vtk ("dem.vtk" gives
 * "dem_voids.vtk"), or with "_voids.vtk" appended when it has another one.
 */
std::string VoidsCopyName(const std::string& model);

#endif
