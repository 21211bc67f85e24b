#include "harness/FuzzSettings.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "harness/FuzzSupport.h"
#include "jobs/Manager.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace quarvel {

namespace fs = std::filesystem;

namespace {

const fs::path& Folder() {
  static const TFuzzFolder folder("settings");
  return folder.Path;
}

// The parts between separator lines ("===", also before a CR LF line end).
std::vector<std::string_view> SplitParts(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  size_t line = 0;
  while (line < text.size() && parts.size() + 1 < MaxFuzzSettingsFiles) {
    size_t end = text.find('\n', line);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view content = text.substr(line, end - line);
    if (!content.empty() && content.back() == '\r')
      content.remove_suffix(1);
    if (content == "===") {
      parts.push_back(text.substr(start, line - start));
      start = next;
    }
    line = next;
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Messages quote input escaped: a raw control byte would drive the user's terminal.
bool HasControlByte(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127)
      return true;
  return false;
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  FuzzCheck(static_cast<bool>(out));
}

} // namespace

std::string FuzzSettingsFolder() {
  return Folder().string();
}

std::string FuzzSettingsFiles(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (text.find("..") != std::string_view::npos)
    return "";
  const fs::path& dir = Folder();
  const std::vector<std::string_view> parts = SplitParts(text);
  WriteFile(dir / "job.settings", parts[0]);
  // Every other slot is written or removed, so no file of an earlier input is found.
  for (size_t k = 1; k < MaxFuzzSettingsFiles; ++k) {
    const std::string stem = "p" + std::to_string(k);
    for (const char* ext : {".settings", ".obj", ".mtl"}) {
      if (k < parts.size()) {
        WriteFile(dir / (stem + ext), parts[k]);
      } else {
        std::error_code ec;
        fs::remove(dir / (stem + ext), ec);
      }
    }
  }

  T2P5D_Manager job(nullptr);
  job.RootDir = dir.string();
  try {
    job.LoadSettings("job");
  } catch (const Error& e) {
    const std::string message = e.what();
    FuzzCheck(!message.empty());
    FuzzCheck(!HasControlByte(message));
    return message;
  }
  FuzzCheck(job.Angles.size() <= static_cast<size_t>(MaxAngleSlot) + 1);
  FuzzCheck(job.Frames.size() <= static_cast<size_t>(MaxFrameNumber));
  for (const TJobFrame& frame : job.Frames)
    FuzzCheck(frame.ModelIndex >= 0 && static_cast<size_t>(frame.ModelIndex) < job.Models.size());
  // Every warning is located in one of the job's files (settings files by their path,
  // models by their name below the root, as the lookup finds it whatever the letter case)
  // and quotes no raw control byte.
  const std::string prefix = job.RootDir + "/";
  for (const std::string& warning : job.Warnings) {
    const std::string file = warning.substr(0, warning.find(':'));
    FuzzCheck(warning.compare(0, prefix.size(), prefix) == 0 ||
              FindPath((dir / file).string()).has_value());
    FuzzCheck(!HasControlByte(warning));
  }
  return "";
}

} // namespace quarvel
