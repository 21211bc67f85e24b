#include "common/FileLookup.h"

#include "common/Error.h"
#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace quarvel {

namespace {

bool Exists(const std::string& p) {
  std::error_code ec;
  return fs::exists(fs::path(p), ec);
}

// The entry of `dir` whose name equals `name` ignoring case, first in byte order.
std::optional<std::string> MatchInDir(const std::string& dir, const std::string& name) {
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
  if (ec)
    return std::nullopt;
  const std::string want = ToLowerASCII(name);
  std::optional<std::string> best;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec)
      break;
    std::string entry = it->path().filename().string();
    if (ToLowerASCII(entry) == want && (!best || entry < *best))
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

std::string RootRelative(const std::string& root, const std::string& name) {
  return (root.empty() || root == ".") ? NormaliseSeparators(name) : JoinPath(root, name);
}

std::string ReadWholeFile(const std::string& path) {
  const std::string resolved = ResolvePath(path);
  std::error_code ec;
  if (fs::is_directory(fs::path(resolved), ec))
    throw Error(Located(resolved, 0, "is a folder, not a file"));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(resolved.c_str(), "rb"),
                                                       &std::fclose);
  if (!file)
    throw Error(Located(resolved, 0, std::string("cannot open file: ") + std::strerror(errno)));
  // One read into a buffer of the file's size: a copy through a string stream costs as
  // much as parsing does on large models.
  std::string text;
  const auto size = fs::file_size(fs::path(resolved), ec);
  if (!ec)
    text.resize(static_cast<size_t>(size));
  size_t got = std::fread(text.data(), 1, text.size(), file.get());
  text.resize(got);
  // A file that grew since its size was taken is read to its end.
  char chunk[65536];
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
    text.append(chunk, got);
  if (std::ferror(file.get()))
    throw Error(Located(resolved, 0, "read error"));
  return text;
}

} // namespace quarvel
