// Pieces shared by the fuzz entry functions (fuzz/ and the tests that replay the corpora).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/Platform.h"

namespace quarvel {

// A broken invariant is a fault the fuzzer must see: abort, which it reports as a crash.
inline void FuzzCheck(bool condition) {
  if (!condition)
    std::abort();
}

// A new empty folder below the system's temporary folder, named after `kind`, for this
// process only; aborts when none can be made.
inline std::string MakeFuzzFolder(const std::string& kind) {
  // With "/" between the names on every system, as the program's messages name paths.
  std::string pattern = std::filesystem::u8path(platform::TemporaryFolder()).generic_u8string() +
                        "/quarvel-fuzz-" + kind + "-XXXXXX";
  if (!platform::MakeTemporaryFolder(pattern))
    std::abort();
  return pattern;
}

// A folder of this process for inputs that the readers take as files, made on
// construction and removed with its files on destruction (keep one as a function static).
class TFuzzFolder {
public:
  explicit TFuzzFolder(const std::string& kind) : Path(MakeFuzzFolder(kind)) {}
  ~TFuzzFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  TFuzzFolder(const TFuzzFolder&) = delete;
  TFuzzFolder& operator=(const TFuzzFolder&) = delete;

  const std::filesystem::path Path;
};

} // namespace quarvel
