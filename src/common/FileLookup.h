// The one file lookup of the program. Models, materials, settings files and textures
// come from a platform whose file names ignore letter case and use "\" as separator,
// so every file the program reads is found through here:
//   - "\" and "/" are treated alike;
//   - a path that exists exactly is used as it is;
//   - otherwise each component is matched against its folder's entries without
//     regard to case (an exact match always wins; among several case-insensitive
//     matches the first in byte order is taken, so the choice is repeatable).
#pragma once

#include <optional>
#include <string>

namespace quarvel {

// "\" becomes "/"; nothing else changes.
std::string NormaliseSeparators(std::string path);

// The existing path that `path` names, or nothing when no such file or folder exists.
std::optional<std::string> FindPath(const std::string& path);

// FindPath, or the normalised path itself when nothing exists, so that an open that
// then fails names what the user asked for.
std::string ResolvePath(const std::string& path);

// True when FindPath finds a regular file.
bool FileExists(const std::string& path);

// Joins a folder and a name with "/" (either may use "\"); an empty folder gives the name.
std::string JoinPath(const std::string& dir, const std::string& name);
// `name` below the root folder `root`, "/" separators. A root of "" or "." adds nothing,
// so the names users see in messages stay as they wrote them.
std::string RootRelative(const std::string& root, const std::string& name);

// Reads a whole file found through ResolvePath; throws quarvel::Error naming the file.
std::string ReadWholeFile(const std::string& path);

} // namespace quarvel
