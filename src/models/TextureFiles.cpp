#include "models/TextureFiles.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Path.h"
#include "common/Text.h"
#include "models/MaterialFile.h"
#include "models/OBJFile.h"

#include <algorithm>
#include <filesystem>

namespace quarvel {

namespace {

std::string DropExtension(std::string name) {
  const size_t cut = name.find_last_of("\\/:");
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (cut == std::string::npos || dot > cut))
    name.erase(dot);
  return name;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A decoder's message without the "path: " it starts with (the warning names the path
// already), escaped: libraries quote bytes of the file in some messages.
std::string DecoderText(const std::string& message, const std::string& path) {
  std::string text = message;
  const std::string prefix = path + ": ";
  if (text.compare(0, prefix.size(), prefix) == 0)
    text.erase(0, prefix.size());
  return Printable(text, 200);
}

std::string MiB(uint64_t bytes) {
  return std::to_string((bytes + (uint64_t{1} << 20) - 1) >> 20) + " MiB";
}

} // namespace

bool FindTextureFile(const std::string& dir, std::string& name) {
  name = DropExtension(name);
  for (const char* ext : {".png", ".bmp", ".jpg"}) {
    if (FileExists(JoinPath(dir, name + ext))) {
      name += ext;
      return true;
    }
  }
  return false;
}

TDecodedImage DecodeTextureFile(const std::string& path, int maxDimension, long long maxPixels) {
  if (EndsWithNoCase(path, ".jpg"))
    return DecodeJPEG(path, maxDimension, maxPixels);
  if (EndsWithNoCase(path, ".png"))
    return DecodePNG(path, maxDimension, maxPixels);
  if (EndsWithNoCase(path, ".bmp"))
    return DecodeBMP(path, maxDimension, maxPixels);
  return TDecodedImage{};
}

TModelTextures LoadModelTextures(const TOBJFile& model, TTextureSet& set,
                                 std::vector<std::string>& warnings) {
  TModelTextures out;
  if (model.MaterialFile == nullptr)
    return out;
  const std::vector<TOBJMaterial>& materials = model.MaterialFile->Materials;
  out.ImageOfMaterial.assign(materials.size(), -1);
  const std::string library =
      model.MaterialFile->FileName.empty() ? model.ObjName : model.MaterialFile->FileName;
  const std::string modelDir = FolderOf(model.ObjName);
  const TTextureLimits& limits = set.Limits;

  for (size_t i = 0; i < materials.size(); ++i) {
    const TOBJMaterial& material = materials[i];
    auto warn = [&](const std::string& text) {
      warnings.push_back(Located(library, material.MapKdLine,
                                 text + " (model " + Printable(model.ObjName, 200) + ")"));
    };
    if (material.Texture != nullptr) {
      // Decoded with its scene file; held to the same limits as a texture file.
      const TDecodedImage& image = *material.Texture;
      const long long pixels = static_cast<long long>(image.Width) * image.Height;
      if (image.Width > limits.MaxDimension || image.Height > limits.MaxDimension ||
          pixels > limits.MaxPixels) {
        warn("texture of material " + Quoted(material.Name) + " is " + std::to_string(image.Width) +
             " x " + std::to_string(image.Height) +
             " pixels, more than a texture may have; drawn without texture");
        continue;
      }
      if (image.Pixels.size() >
          limits.MaxTotalBytes - std::min(limits.MaxTotalBytes, set.DecodedBytes))
        throw Error(Located(library, 0,
                            "the textures of this job would take more than " +
                                ByteCapText(limits.MaxTotalBytes) + " decoded"));
      set.DecodedBytes += image.Pixels.size();
      out.ImageOfMaterial[i] = static_cast<int32_t>(out.Images.size());
      out.Images.push_back(material.Texture);
      continue;
    }
    if (material.MapKd.empty())
      continue;

    // The file: the base name with each extension in turn, below the root.
    const std::string base = JoinPath(modelDir, DropExtension(material.MapKd));
    std::string found, shown;
    try {
      for (const char* ext : {".png", ".bmp", ".jpg"}) {
        const std::string path = ResolveInRoot(model.RootDir, base + ext);
        if (FileExists(path)) {
          found = path;
          shown = base + ext;
          break;
        }
      }
    } catch (const OutsideRoot& e) {
      warn(std::string("texture refused: ") + e.what() + "; drawn without texture");
      continue;
    }
    if (found.empty()) {
      warn("texture " + Quoted(material.MapKd) + " not found: no " + Printable(base, 200) +
           ".png, .bmp or .jpg; drawn without texture");
      continue;
    }

    std::error_code ec;
    std::string key = Utf8Of(std::filesystem::canonical(PathOf(found), ec));
    if (ec)
      key = found;
    auto it = set.Files.find(key);
    if (it == set.Files.end()) {
      TTextureSet::TFile file;
      bool overBudget = false;
      long long width = 0, height = 0;
      const uint64_t room = limits.MaxTotalBytes - std::min(limits.MaxTotalBytes, set.DecodedBytes);
      try {
        const long long maxPixels =
            std::min<long long>(limits.MaxPixels, static_cast<long long>(room / 3));
        TDecodedImage image = DecodeTextureFile(found, limits.MaxDimension, maxPixels);
        ++set.Decodes;
        set.DecodedBytes += image.Pixels.size();
        for (const std::string& w : image.Warnings)
          warn("texture " + Printable(shown, 200) + ": " + DecoderText(w, found));
        image.Warnings.clear();
        file.Image = std::make_shared<const TDecodedImage>(std::move(image));
      } catch (const PictureTooLarge& e) {
        width = e.Width;
        height = e.Height;
        // Within the per-picture limits, the picture is refused only because of what the
        // set has decoded before it.
        overBudget = width <= limits.MaxDimension && height <= limits.MaxDimension &&
                     width * height <= std::min(limits.MaxPixels, MaxImagePixels);
        file.Failure = DecoderText(e.what(), found);
        if (!overBudget && width * height > limits.MaxPixels)
          file.Failure += " (--max-texture-pixels raises the limit)";
      } catch (const Error& e) {
        file.Failure = DecoderText(e.what(), found);
      }
      if (overBudget)
        throw Error(Located(library, material.MapKdLine,
                            "texture " + Printable(shown, 200) + " (" + std::to_string(width) +
                                " x " + std::to_string(height) +
                                " pixels) would bring the job's "
                                "decoded textures to " +
                                MiB(set.DecodedBytes + static_cast<uint64_t>(width * height) * 3) +
                                ", more than the " + ByteCapText(limits.MaxTotalBytes) +
                                " one job may hold; use fewer or smaller textures"));
      it = set.Files.emplace(key, std::move(file)).first;
    }

    const TTextureSet::TFile& file = it->second;
    if (!file.Image) {
      warn("texture " + Printable(shown, 200) + " cannot be used: " + file.Failure +
           "; drawn without texture");
      continue;
    }
    const auto same = std::find(out.Images.begin(), out.Images.end(), file.Image);
    if (same == out.Images.end()) {
      out.ImageOfMaterial[i] = static_cast<int32_t>(out.Images.size());
      out.Images.push_back(file.Image);
    } else {
      out.ImageOfMaterial[i] = static_cast<int32_t>(same - out.Images.begin());
    }
  }
  return out;
}

} // namespace quarvel
