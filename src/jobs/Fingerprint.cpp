#include "jobs/Fingerprint.h"

#include "common/AtomicFile.h"
#include "common/ContentHash.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Path.h"
#include "gl/GLView.h"
#include "image/Image.h"
#include "jobs/JobRunner.h"
#include "output/Finishing.h"
#include "output/KXFile.h"
#include "output/Palette16.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

namespace quarvel {

namespace {

// A 2 x 1.5 x 1 box: its front (towards the camera at angle 0) and top are "side", the
// rest "paint" with a texture, so every pass has something to show.
const char* const FingerprintOBJ = R"(mtllib fp.mtl
v -1 -0.75 -0.5
v -1 -0.75 0.5
v -1 0.75 -0.5
v -1 0.75 0.5
v 1 -0.75 -0.5
v 1 -0.75 0.5
v 1 0.75 -0.5
v 1 0.75 0.5
vt 0 0
vt 1 0
vt 1 1
vt 0 1
usemtl paint
f 1/1 2/2 4/3 3/4
f 5/1 7/2 8/3 6/4
f 1/1 5/2 6/3 2/4
f 1/1 3/2 7/3 5/4
usemtl side
f 3/1 4/2 8/3 7/4
f 2/1 6/2 8/3 4/4
)";

const char* const FingerprintMTL = R"(newmtl paint
Ka 0.2 0.2 0.2
Kd 0.9 0.8 0.7
map_Kd fp.png
newmtl side
Ka 0.3 0.3 0.3
Kd 0.9 0.9 0.9
)";

const char* const FingerprintSettings = "scale 1.25\nzmax 100\nangle 0 30\nangle 1 200\n"
                                        "frame 1 fp.obj\n";

// A folder below the temporary folder, removed with its files when done.
struct TScratchFolder {
  std::string Path;
  TScratchFolder() {
    const std::string below = platform::TemporaryFolder();
    std::string pattern = below + "/quarvel-fingerprint-XXXXXX";
    if (!platform::MakeTemporaryFolder(pattern))
      throw Error("renderer fingerprint: cannot make a folder below " + below + ": " +
                  platform::ErrorText(platform::LastError()));
    Path = pattern;
  }
  ~TScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(PathOf(Path), ec);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  void Write(const std::string& name, const std::string& text) const {
    // Through the platform's file calls: the temporary folder of a user whose name is
    // not ASCII has a name that only they open on Windows.
    try {
      WriteFileAtomic(Path + "/" + name, text.data(), text.size());
    } catch (const Error&) {
      throw Error("renderer fingerprint: cannot write " + Path + "/" + name);
    }
  }
};

std::string MeasureFingerprint() {
  TScratchFolder scratch;
  scratch.Write("fp.obj", FingerprintOBJ);
  scratch.Write("fp.mtl", FingerprintMTL);
  scratch.Write("fp.settings", FingerprintSettings);
  // An 8 x 8 texture of four colours, so texture sampling shows in the result.
  std::vector<uint8_t> texture(8 * 8 * 3);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint8_t* p = &texture[static_cast<size_t>((y * 8 + x) * 3)];
      p[0] = static_cast<uint8_t>((x < 4) ? 200 : 40);
      p[1] = static_cast<uint8_t>((y < 4) ? 180 : 60);
      p[2] = static_cast<uint8_t>(((x + y) % 2) ? 220 : 20);
    }
  WritePNG(scratch.Path + "/fp.png", 8, 8, 3, texture.data());

  if (!GLView)
    CreateGLView(400, 400);
  GLView->MakeCurrent();
  // The scratch folder holds no shader files: the built-in ones are used.
  const TShaderSet shaders = LoadShaderSet(scratch.Path);
  TRenderInputs inputs;
  inputs.Shaders = &shaders;

  T2P5D_Manager job(nullptr, nullptr);
  job.Multisampled = GLView->Multisampled();
  TJobOptions options;
  options.RootDir = scratch.Path;
  LoadJob(job, options, "fp");
  job.RenderAll(inputs);
  std::vector<uint8_t> bytes;
  for (TAngleSheet& sheet : job.Sheets) {
    FinishSheet(sheet);
    const std::vector<uint8_t> kxz = SheetToKXZ(sheet);
    const std::vector<uint8_t> p16 = Palette16Bytes(sheet.Palette);
    bytes.insert(bytes.end(), kxz.begin(), kxz.end());
    bytes.insert(bytes.end(), p16.begin(), p16.end());
  }
  return HashBytes(bytes.data(), bytes.size());
}

constexpr const char* CacheMagic = "quarvel-fingerprint-cache 1";

std::string CacheFile() {
  const std::string dir = platform::UserCacheFolder();
  return dir.empty() ? std::string() : dir + "/quarvel/renderer-fingerprint";
}

// "size mtime-ns inode" of a file, "" when it cannot be stat'ed.
std::string FileIdentity(const std::string& path) {
  const std::optional<platform::TFileStatus> st = platform::StatusOf(path);
  if (!st)
    return std::string();
  return std::to_string(st->Size) + " " + std::to_string(st->MTimeNs) + " " +
         std::to_string(st->Identity);
}

// Everything the cache is keyed on but the libraries, hashed.
std::string FixedKey(const std::string& deviceChoice) {
  std::string key =
      std::string("program ") + QUARVEL_VERSION + " " + FileIdentity(platform::ProgramPath());
  key += "\nmachine " + platform::MachineKey();
  key += "\ndevice " + deviceChoice;
  std::vector<std::string> env;
  for (const std::string& entry : platform::Environment()) {
    for (const char* prefix :
         {"MESA_", "LIBGL_", "GALLIUM_", "EGL_", "LP_", "__GLX_", "__EGL_", "DRI_"})
      if (entry.rfind(prefix, 0) == 0)
        env.push_back(entry);
  }
  std::sort(env.begin(), env.end());
  for (const std::string& e : env)
    key += "\nenv " + e;
  for (const std::string& n : platform::GraphicsDevices())
    key += "\ndri " + n;
  return HashBytes(key.data(), key.size());
}

// Records a measurement. A cache that cannot be written is no error: the next run
// measures again.
void WriteCache(const std::string& fingerprint, const std::string& deviceChoice) {
  const std::string file = CacheFile();
  if (file.empty())
    return;
  std::string text = std::string(CacheMagic) + "\nfingerprint " + fingerprint + "\nkey " +
                     FixedKey(deviceChoice) + "\n";
  for (const std::string& library : platform::LoadedLibraries()) {
    const std::string identity = FileIdentity(library);
    if (!identity.empty())
      text += "lib " + identity + " " + library + "\n";
  }
  text += "end\n";
  try {
    std::filesystem::create_directories(PathOf(file).parent_path());
    WriteFileAtomic(file, text.data(), text.size());
  } catch (const std::exception&) {
  }
}

} // namespace

std::string RendererFingerprint(const std::string& deviceChoice) {
  static std::optional<std::string> measured;
  if (!measured) {
    measured = MeasureFingerprint();
    WriteCache(*measured, deviceChoice);
  }
  return *measured;
}

std::optional<std::string> CachedRendererFingerprint(const std::string& deviceChoice) {
  const std::string file = CacheFile();
  if (file.empty())
    return std::nullopt;
  // A cache that is not a plain file (a FIFO would hold the read) is no cache.
  std::optional<std::string> text;
  try {
    text = ReadOwnFile(file, uint64_t{1} << 20, "use it as the fingerprint cache");
  } catch (const Error&) {
  }
  if (!text)
    return std::nullopt;
  std::istringstream in(*text);
  std::string line;
  if (!std::getline(in, line) || line != CacheMagic)
    return std::nullopt;
  std::string fingerprint, key;
  if (!std::getline(in, line) || line.rfind("fingerprint ", 0) != 0)
    return std::nullopt;
  fingerprint = line.substr(12);
  if (!std::getline(in, line) || line != "key " + FixedKey(deviceChoice))
    return std::nullopt;
  bool ended = false;
  size_t libraries = 0;
  while (std::getline(in, line)) {
    if (line == "end") {
      ended = true;
      break;
    }
    if (line.rfind("lib ", 0) != 0)
      return std::nullopt;
    // "lib <size> <mtime ns> <inode> <path>"
    std::istringstream words(line.substr(4));
    std::string size, mtime, inode;
    words >> size >> mtime >> inode;
    std::string path;
    std::getline(words, path);
    if (path.size() < 2 || path[0] != ' ')
      return std::nullopt;
    path.erase(0, 1);
    if (FileIdentity(path) != size + " " + mtime + " " + inode)
      return std::nullopt;
    ++libraries;
  }
  if (!ended || libraries == 0 || fingerprint.size() != 32)
    return std::nullopt;
  return fingerprint;
}

} // namespace quarvel
