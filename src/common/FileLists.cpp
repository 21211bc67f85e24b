#include "common/FileLists.h"

#include "common/Path.h"
#include "common/Text.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quarvel {
namespace fs = std::filesystem;

namespace {

bool NameLess(const std::string& a, const std::string& b) {
  const std::string la = ToLowerASCII(a);
  const std::string lb = ToLowerASCII(b);
  if (la != lb)
    return la < lb;
  return a < b;
}

// The names in a folder, sorted; an unreadable folder gives none (and its error in `ec`).
std::vector<std::string> FolderNames(const std::string& dir, std::error_code& ec) {
  std::vector<std::string> names;
  ec.clear();
  fs::directory_iterator it(PathOf(dir), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec))
    names.push_back(Utf8Of(it->path().filename()));
  std::sort(names.begin(), names.end(), NameLess);
  return names;
}

std::vector<std::string> FolderNames(const std::string& dir) {
  std::error_code ec;
  return FolderNames(dir, ec);
}

// ext "" lists what ScanPreviewModels lists.
void ScanFiles(const std::string& progDir, const std::string& dir, const std::string& ext,
               std::vector<std::string>& list, std::vector<std::string>* problems,
               bool (*isSceneFile)(const std::string& name) = nullptr) {
  std::error_code folderError;
  const std::vector<std::string> names = FolderNames(dir, folderError);
  // A folder that cannot be read (or read to its end) loses files without a word, which
  // looks like a job that was never written; whoever asked for the problems hears of it.
  if (folderError && problems != nullptr)
    problems->push_back(Printable(dir, 1024) + ": cannot read the folder (" +
                        folderError.message() + "); files in it are left out");
  for (const std::string& name : names) {
    if (name == "." || name == "..")
      continue;
    const std::string path = dir + name;
    std::error_code ec;
    const fs::file_status linkStatus = fs::symlink_status(PathOf(path), ec);
    if (ec)
      continue;
    if (fs::is_directory(linkStatus)) {
      ScanFiles(progDir, path + "/", ext, list, problems, isSceneFile);
      continue;
    }
    const fs::file_status status = fs::status(PathOf(path), ec);
    if (fs::is_symlink(linkStatus) && !fs::exists(status) && EndsWithNoCase(name, ext) &&
        problems != nullptr) {
      std::error_code readError;
      const fs::path target = fs::read_symlink(PathOf(path), readError);
      problems->push_back(Printable(path, 1024) + ": the link leads to " +
                          Printable(Utf8Of(target), 1024) + ", which does not exist; left out");
      continue;
    }
    if (!fs::is_regular_file(status))
      continue;
    if (ext.empty()) {
      if (EndsWithNoCase(name, ".obj"))
        list.push_back(RelativeName(progDir, path, 4));
      else if (isSceneFile != nullptr && isSceneFile(name))
        list.push_back(RelativeName(progDir, path, 0));
    } else if (EndsWithNoCase(name, ext)) {
      list.push_back(RelativeName(progDir, path, static_cast<int>(ext.size())));
    }
  }
}

} // namespace

std::string RelativeName(const std::string& progDir, const std::string& path, int extLength) {
  const size_t front = progDir.size() + 1;
  const size_t back = extLength > 0 ? static_cast<size_t>(extLength) : 0;
  if (path.size() < front + back)
    return "";
  return path.substr(front, path.size() - front - back);
}

void ScanModelFiles(const std::string& progDir, const std::string& dir,
                    std::vector<std::string>& list, std::vector<std::string>* problems) {
  ScanFiles(progDir, dir, ".obj", list, problems);
}

void ScanPreviewModels(const std::string& progDir, const std::string& dir,
                       std::vector<std::string>& list,
                       bool (*isSceneFile)(const std::string& name)) {
  ScanFiles(progDir, dir, "", list, nullptr, isSceneFile);
}

void ScanSettingsFiles(const std::string& progDir, const std::string& dir,
                       std::vector<std::string>& list, std::vector<std::string>* problems) {
  ScanFiles(progDir, dir, ".settings", list, problems);
}

std::vector<std::string> ListBackgrounds(const std::string& progDir) {
  static const std::string prefix = "background";
  static const std::string suffix = ".png";
  std::vector<std::string> result;
  for (const std::string& name : FolderNames(progDir)) {
    const std::string lower = ToLowerASCII(name);
    if (lower.size() < prefix.size() + suffix.size() ||
        lower.compare(0, prefix.size(), prefix) != 0 ||
        lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    std::error_code ec;
    if (!fs::is_regular_file(fs::status(PathOf(progDir + "/" + name), ec)) || ec)
      continue;
    result.push_back(name.substr(0, name.size() - suffix.size()));
  }
  return result;
}

} // namespace quarvel
