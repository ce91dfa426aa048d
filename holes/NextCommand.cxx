#include "NextCommand.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string ShellWord(const std::string& word)
{
  bool plain = !word.empty();
  for (char c : word)
  {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    plain = plain && (alnum || std::string("_-./:=+,@%").find(c) != std::string::npos);
  }
  if (plain)
  {
    return word;
  }
  std::string quoted = "'";
  for (char c : word)
  {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string ShellLine(const std::vector<std::string>& words)
{
  std::string line;
  for (const std::string& word : words)
  {
    line += (line.empty() ? "" : " ") + ShellWord(word);
  }
  return line;
}

bool FoundOnPath(const std::string& name, const std::string& search)
{
  size_t start = 0;
  while (start <= search.size())
  {
    size_t end = search.find(':', start);
    if (end == std::string::npos)
    {
      end = search.size();
    }
    const std::string dir = end > start ? search.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + name;
    std::error_code error;
    if (fs::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0)
    {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string PathFrom(const std::string& program, const std::string& cwd)
{
  std::error_code error;
  const fs::path absolute = fs::weakly_canonical(program, error);
  if (error)
  {
    return program;
  }
  std::string relative = absolute.lexically_relative(fs::weakly_canonical(cwd, error)).string();
  if (error || relative.empty())
  {
    return absolute.string();
  }
  if (relative.find('/') == std::string::npos)
  {
    relative = "./" + relative;
  }
  return relative.size() < absolute.string().size() ? relative : absolute.string();
}

std::string SiblingProgram(const std::string& name)
{
  const char* search = std::getenv("PATH");
  if (search && FoundOnPath(name, search))
  {
    return name;
  }
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  const fs::path cwd = fs::current_path(error);
  if (self.empty() || cwd.empty())
  {
    return name;
  }
  for (const fs::path& candidate :
    { self.parent_path().parent_path() / "app" / name, self.parent_path() / name })
  {
    if (fs::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0)
    {
      return PathFrom(candidate.string(), cwd.string());
    }
  }
  return name;
}

std::string VoidsCopyName(const std::string& model)
{
  const std::string extension = ".vtk";
  const size_t slash = model.rfind('/');
  const size_t stem = slash == std::string::npos ? 0 : slash + 1;
  if (model.size() > stem + extension.size() &&
    model.compare(model.size() - extension.size(), extension.size(), extension) == 0)
  {
    return model.substr(0, model.size() - extension.size()) + "_voids" + extension;
  }
  return model + "_voids.vtk";
}
