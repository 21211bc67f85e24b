// File names are UTF-8 everywhere in the program: on the command line (the platform gives
// the arguments so), in settings files, materials and scene files, and in messages. A
// std::filesystem::path made from a std::string, and the std::string it gives back,
// are in the system's narrow code page instead, which on Windows is the ANSI code page
// (a folder named "Модели" is not found there). Every place where a path meets a string
// goes through these two, which convert from and to UTF-8 on every system (on Linux the
// bytes stay as they are).
#pragma once

#include <filesystem>
#include <string>

#include "common/Text.h"

namespace quarvel {

// The path that the UTF-8 name `utf8` names. Windows' names are UTF-16, so a name that is
// not UTF-8 (a settings file written in another code page, a hostile one) can name no
// file there: it becomes one with U+FFFD in place of the bad bytes, which is then not
// found and reported with the rest of its name, where the conversion would throw. On
// Linux every byte string is a name and stays as it is.
inline std::filesystem::path PathOf(const std::string& utf8) {
#ifdef _WIN32
  return std::filesystem::u8path(WellFormedUtf8(utf8));
#else
  return std::filesystem::u8path(utf8);
#endif
}

// The path's name in UTF-8, with the system's separators.
inline std::string Utf8Of(const std::filesystem::path& path) {
#if defined(__cpp_char8_t)
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.u8string();
#endif
}

// The path's name in UTF-8 with "/" separators.
inline std::string GenericUtf8Of(const std::filesystem::path& path) {
#if defined(__cpp_char8_t)
  const auto text = path.generic_u8string();
  return std::string(text.begin(), text.end());
#else
  return path.generic_u8string();
#endif
}

} // namespace quarvel
