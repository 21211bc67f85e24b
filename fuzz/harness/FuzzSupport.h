// Pieces shared by the fuzz entry functions (fuzz/ and the tests that replay the corpora).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace quarvel {

// A broken invariant is a fault the fuzzer must see: abort, which it reports as a crash.
inline void FuzzCheck(bool condition) {
  if (!condition)
    std::abort();
}

// A folder of this process for inputs that the readers take as files, made empty on
// construction and removed with its files on destruction (keep one as a function static).
class TFuzzFolder {
public:
  explicit TFuzzFolder(const std::string& kind)
      : Path(std::filesystem::temp_directory_path() /
             ("quarvel-fuzz-" + kind + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TFuzzFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  TFuzzFolder(const TFuzzFolder&) = delete;
  TFuzzFolder& operator=(const TFuzzFolder&) = delete;

  const std::filesystem::path Path;
};

} // namespace quarvel
