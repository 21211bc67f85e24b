#include "common/FileLookup.h"

#include "common/Error.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace quarvel {

namespace {

bool Exists(const std::string& p) {
  std::error_code ec;
  return fs::exists(fs::path(p), ec);
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The entry of `dir` whose name equals `name` ignoring case, first in byte order.
std::optional<std::string> MatchInDir(const std::string& dir, const std::string& name) {
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
  if (ec)
    return std::nullopt;
  const std::string want = Lower(name);
  std::optional<std::string> best;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec)
      break;
    std::string entry = it->path().filename().string();
    if (Lower(entry) == want && (!best || entry < *best))
      best = entry;
  }
  return best;
}

} // namespace

std::string NormaliseSeparators(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::optional<std::string> FindPath(const std::string& rawPath) {
  const std::string path = NormaliseSeparators(rawPath);
  if (path.empty())
    return std::nullopt;
  if (Exists(path))
    return path;

  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '/') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);

  std::string found; // the folder matched so far, without a trailing "/"
  bool absolute = path[0] == '/';
  bool first = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) {
      if (i == 0 && absolute) {
        found = "/";
        first = false;
      }
      continue;
    }
    std::string prefix = first ? "" : (found == "/" ? "/" : found + "/");
    std::string candidate = prefix + part;
    if (part == "." || part == ".." || Exists(candidate)) {
      found = candidate;
    } else {
      auto match = MatchInDir(first ? std::string() : found, part);
      if (!match)
        return std::nullopt;
      found = prefix + *match;
    }
    first = false;
  }
  if (found.empty() || !Exists(found))
    return std::nullopt;
  return found;
}

std::string ResolvePath(const std::string& path) {
  auto found = FindPath(path);
  return found ? *found : NormaliseSeparators(path);
}

bool FileExists(const std::string& path) {
  auto found = FindPath(path);
  std::error_code ec;
  return found && fs::is_regular_file(fs::path(*found), ec);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  std::string d = NormaliseSeparators(dir);
  std::string n = NormaliseSeparators(name);
  if (d.empty())
    return n;
  if (d.back() == '/')
    return d + n;
  return d + "/" + n;
}

std::string ReadWholeFile(const std::string& path) {
  const std::string resolved = ResolvePath(path);
  std::error_code ec;
  if (fs::is_directory(fs::path(resolved), ec))
    throw Error(Located(resolved, 0, "is a folder, not a file"));
  std::ifstream in(resolved, std::ios::binary);
  if (!in)
    throw Error(Located(resolved, 0, std::string("cannot open file: ") + std::strerror(errno)));
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad())
    throw Error(Located(resolved, 0, "read error"));
  return buffer.str();
}

} // namespace quarvel
