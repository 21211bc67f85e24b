#include "models/ScenePrechecks.h"

#include "common/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <set>
#include <string_view>
#include <vector>

namespace quarvel {

// Assimp's PLY reader loops for ever on some malformed headers and reserves what an
// element line's count asks for, so a PLY header is checked before Assimp sees it: its
// format, element and property statements well formed, a count no larger than the bytes
// that follow could hold, and an end. Returns what is wrong, or "" for a header that may
// go on.
std::string CheckPLYHeader(const std::string& bytes) {
  static const char* const types[] = {"char",  "uchar",  "short",   "ushort", "int",   "uint",
                                      "float", "double", "int8",    "uint8",  "int16", "uint16",
                                      "int32", "uint32", "float32", "float64"};
  auto isType = [](const std::string& t) {
    for (const char* known : types)
      if (t == known)
        return true;
    return false;
  };
  constexpr size_t MaxHeader = size_t{1} << 20;
  const size_t end = bytes.find("end_header");
  if (end == std::string::npos || end > MaxHeader)
    return "the PLY header has no end_header line within its first 1 MiB";
  const size_t dataStart = bytes.find('\n', end);
  const size_t dataBytes = dataStart == std::string::npos ? 0 : bytes.size() - dataStart - 1;
  if (bytes.find_first_not_of("\r", end + 10) != dataStart)
    return "the PLY header's end_header line holds more";
  // Assimp reads the header as text that ends at a NUL byte, and would see other
  // statements (and counts) in it than the lines checked here.
  if (bytes.find('\0') < end)
    return "the PLY header holds a NUL byte";
  bool ascii = false;
  size_t at = 0;
  int line = 0;
  unsigned long long elements = 0;
  while (at < end) {
    size_t next = bytes.find('\n', at);
    if (next == std::string::npos || next > end)
      return "the PLY header's end_header does not start a line";
    std::vector<std::string> words;
    size_t i = at;
    while (i < next) {
      while (i < next && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r'))
        ++i;
      const size_t start = i;
      while (i < next && bytes[i] != ' ' && bytes[i] != '\t' && bytes[i] != '\r')
        ++i;
      if (i > start)
        words.push_back(bytes.substr(start, i - start));
    }
    ++line;
    at = next + 1;
    const std::string what = "line " + std::to_string(line) + " of the PLY header";
    if (line == 1) {
      if (words.size() != 1 || words[0] != "ply")
        return what + " is not 'ply'";
      continue;
    }
    if (words.empty())
      return what + " is empty";
    const std::string& key = words[0];
    if (key == "comment" || key == "obj_info")
      continue;
    if (key == "format" && words.size() == 3 &&
        (words[1] == "ascii" || words[1] == "binary_little_endian" ||
         words[1] == "binary_big_endian")) {
      ascii = words[1] == "ascii";
      continue;
    }
    // Assimp reads the count of an element whose name it does not know from the start of
    // the name: "element 4444vertex 3" would count 4444 elements (or, with more digits,
    // hundreds of millions, and gigabytes allocated for them).
    if (key == "element" && words.size() == 3 && words[1][0] >= '0' && words[1][0] <= '9')
      return what + " names an element " + Quoted(words[1]) +
             " that starts with a digit, which Assimp would read as its count";
    if (key == "element" && words.size() == 3 && !words[2].empty() && words[2].size() <= 12 &&
        words[2].find_first_not_of("0123456789") == std::string::npos) {
      // Every element takes at least one byte, in text or binary.
      elements += std::stoull(words[2]);
      if (elements > dataBytes)
        return what + " counts " + words[2] + " elements, more than the file holds";
      continue;
    }
    if (key == "property" && words.size() == 3 && isType(words[1]))
      continue;
    if (key == "property" && words.size() == 5 && words[1] == "list" && isType(words[2]) &&
        isType(words[3]))
      continue;
    // Other lines are skipped, by Assimp as here: exporters write free text such as
    // "Created by ..." without "comment".
    if (key == "element" || key == "property" || key == "format")
      return what + " is not a PLY header statement";
  }
  // Text data holds numbers only: Assimp's reader does not get past anything else.
  if (ascii && dataStart != std::string::npos &&
      bytes.find_first_not_of("0123456789+-.eE \t\r\n", dataStart) != std::string::npos)
    return "the PLY text data holds something that is not a number";
  return "";
}

namespace {

// The little-endian 32-bit number at `at` (binary glTF's header and chunk fields).
uint32_t U32At(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

} // namespace

// Assimp's binary glTF reader allocates and clears the chunk sizes its header states
// before it checks them against the file: a header claiming hundreds of megabytes in a
// file of a few hundred bytes is refused here first.
std::string CheckGLBHeader(const std::string& bytes) {
  auto u32 = [&bytes](size_t at) { return U32At(bytes, at); };
  if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0)
    return ""; // not binary glTF: the importer says what it is not
  if (u32(8) > bytes.size())
    return "the binary glTF header states " + std::to_string(u32(8)) +
           " bytes, more than the file's " + std::to_string(bytes.size());
  if (u32(4) == 1) // glTF 1.0: one content block
    return u32(12) > bytes.size() - 20 ? "the binary glTF content is longer than the file" : "";
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint64_t length = u32(at);
    if (length > bytes.size() - at - 8)
      return "a binary glTF chunk of " + std::to_string(length) +
             " bytes is longer than the rest of the file";
    at += 8 + static_cast<size_t>(length);
  }
  return "";
}

namespace {

// Assimp reads glTF's JSON with rapidjson, which passes bytes that are not UTF-8 and, of a
// key given twice, takes the first; nlohmann (which the checks below use) refuses the one
// and takes the last of the other. So that what is checked is what Assimp reads, such a
// document is refused. Reading stops at a NUL byte, as rapidjson's does (binary glTF
// writers pad the JSON chunk with NULs now and then).
nlohmann::json ParseGLTFJSON(std::string_view json, std::string& wrong) {
  json = json.substr(0, json.find('\0'));
  std::vector<std::set<std::string>> keys; // the keys of each open object
  bool twice = false;
  const auto callback = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    if (event == Event::object_start)
      keys.emplace_back();
    else if (event == Event::object_end && !keys.empty())
      keys.pop_back();
    else if (event == Event::key && !keys.empty() && parsed.is_string() &&
             !keys.back().insert(parsed.get<std::string>()).second)
      twice = true;
    return true;
  };
  try {
    nlohmann::json doc = nlohmann::json::parse(json.begin(), json.end(), callback);
    if (twice)
      wrong = "the glTF JSON gives a key twice in one object";
    return doc;
  } catch (const nlohmann::json::exception& e) {
    // Not only parse_error: a number too large for a double throws out_of_range even
    // from the parser, and both are a file that does not parse.
    std::string why = e.what();
    why.erase(0, why.find(']') == std::string::npos ? 0 : why.find(']') + 2);
    wrong = "the glTF JSON does not parse: " + Printable(why, 160);
    return nullptr;
  }
}

// An index as rapidjson's IsUint takes it (a whole number from 0 to 2^32 - 1).
bool IsGLTFIndex(const nlohmann::json& value) {
  return value.is_number_unsigned() &&
         value.get<uint64_t>() <= std::numeric_limits<uint32_t>::max();
}

} // namespace

// Assimp 5.2 reads a glTF skin's inverse bind matrices without checking that the file
// gives them (glTF lets it leave them out), and reads one matrix a joint whatever the
// accessor's count: a skin without them crashes it, one with too few has it read past
// its array. Such skins are refused here with a message.
std::string CheckGLTFSkins(const std::string& bytes) {
  std::string_view json(bytes);
  if (bytes.size() >= 20 && bytes.compare(0, 4, "glTF") == 0) {
    // Binary glTF: the first chunk is the JSON (CheckGLBHeader has checked its length).
    const size_t length = U32At(bytes, 12);
    json = json.substr(20, std::min(length, bytes.size() - 20));
  }
  std::string wrong;
  const nlohmann::json doc = ParseGLTFJSON(json, wrong);
  if (!wrong.empty() || !doc.is_object() || !doc.contains("skins") || !doc["skins"].is_array())
    return wrong;
  const nlohmann::json* accessors =
      doc.contains("accessors") && doc["accessors"].is_array() ? &doc["accessors"] : nullptr;
  for (size_t i = 0; i < doc["skins"].size(); ++i) {
    const nlohmann::json& skin = doc["skins"][i];
    const std::string which = "skin " + std::to_string(i);
    if (!skin.is_object() || !skin.contains("inverseBindMatrices") ||
        !IsGLTFIndex(skin["inverseBindMatrices"]))
      return which + " has no inverseBindMatrices, which this program's Assimp cannot read";
    const uint64_t matrices = skin["inverseBindMatrices"].get<uint64_t>();
    if (accessors == nullptr || matrices >= accessors->size())
      continue; // Assimp refuses an index past the array itself
    const nlohmann::json& accessor = (*accessors)[matrices];
    const size_t joints =
        skin.contains("joints") && skin["joints"].is_array() ? skin["joints"].size() : 0;
    const uint64_t count =
        accessor.is_object() && accessor.contains("count") && accessor["count"].is_number_unsigned()
            ? accessor["count"].get<uint64_t>()
            : 0;
    if (count < joints)
      return which + " has " + std::to_string(joints) + " joints but " + std::to_string(count) +
             " inverse bind matrices";
  }
  return "";
}

// Assimp's COLLADA reader does not get past a character that is no part of a number in
// its number lists (it loops for ever on "<p>0z 1 2</p>"), so those lists are checked
// first: the text of every p, v, vcount, h, float_array and int_array element holds
// numbers, blanks and commas (which some exporters write and Assimp reads) only.
std::string CheckCOLLADANumbers(const std::string& bytes) {
  static const char* const lists[] = {"p", "v", "vcount", "h", "float_array", "int_array"};
  for (size_t at = bytes.find('<'); at != std::string::npos; at = bytes.find('<', at + 1)) {
    size_t nameEnd = at + 1;
    while (nameEnd < bytes.size() &&
           (std::isalnum(static_cast<unsigned char>(bytes[nameEnd])) || bytes[nameEnd] == '_'))
      ++nameEnd;
    const std::string name = bytes.substr(at + 1, nameEnd - at - 1);
    bool isList = false;
    for (const char* l : lists)
      isList = isList || name == l;
    if (!isList)
      continue;
    const size_t open = bytes.find('>', nameEnd);
    if (open == std::string::npos)
      return "";
    if (bytes[open - 1] == '/')
      continue; // an empty element
    const size_t close = bytes.find('<', open);
    const size_t bad = bytes.find_first_not_of("0123456789+-.,eE \t\r\n", open + 1);
    if (bad != std::string::npos && (close == std::string::npos || bad < close))
      return "the COLLADA number list <" + name + "> holds something that is not a number";
  }
  return "";
}

} // namespace quarvel
