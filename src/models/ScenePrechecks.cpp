#include "models/ScenePrechecks.h"

#include "common/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string_view>
#include <vector>

namespace quarvel {

namespace {

// A PLY value type as Assimp reads it: its size in binary data, and how its text is read.
struct TPLYType {
  uint8_t Size = 0; // 0: not a type
  bool Signed = false;
  bool Real = false;
};

TPLYType PLYTypeOf(const std::string& name) {
  static const std::pair<const char*, TPLYType> types[] = {
      {"char", {1, true, false}},    {"uchar", {1, false, false}},  {"short", {2, true, false}},
      {"ushort", {2, false, false}}, {"int", {4, true, false}},     {"uint", {4, false, false}},
      {"float", {4, true, true}},    {"double", {8, true, true}},   {"int8", {1, true, false}},
      {"uint8", {1, false, false}},  {"int16", {2, true, false}},   {"uint16", {2, false, false}},
      {"int32", {4, true, false}},   {"uint32", {4, false, false}}, {"float32", {4, true, true}},
      {"float64", {8, true, true}}};
  for (const auto& [known, type] : types)
    if (name == known)
      return type;
  return {};
}

struct TPLYProperty {
  TPLYType Count; // of a list; Size 0 for a single value
  TPLYType Value;
};

struct TPLYElement {
  uint64_t Instances = 0; // as Assimp reads them
  std::vector<TPLYProperty> Properties;
};

// A count Assimp read as a real number, once converted to 32 bits: negative or too large
// is as good as unbounded.
uint64_t CountOfReal(double value) {
  return value >= 0 && value < 4294967296.0 ? static_cast<uint64_t>(value) : UINT64_MAX;
}

// A list's count in binary data: `size` bytes in the file's byte order.
uint64_t PLYBinaryCount(const std::string& bytes, size_t at, TPLYType type, bool bigEndian) {
  uint64_t raw = 0;
  for (size_t k = 0; k < type.Size; ++k) {
    const auto byte = static_cast<uint8_t>(bytes[at + (bigEndian ? k : type.Size - 1 - k)]);
    raw = raw << 8 | byte;
  }
  if (type.Real) {
    double value = 0;
    if (type.Size == 4) {
      float f = 0;
      const auto bits = static_cast<uint32_t>(raw);
      std::memcpy(&f, &bits, 4);
      value = f;
    } else {
      std::memcpy(&value, &raw, 8);
    }
    return CountOfReal(value);
  }
  if (type.Signed && (raw >> (8 * type.Size - 1)) != 0) // negative: as unsigned 32 bits
    return static_cast<uint32_t>(raw | ~((uint64_t{1} << (8 * type.Size)) - 1));
  return raw;
}

bool PLYLineEnd(char c) {
  return c == '\r' || c == '\n' || c == '\0' || c == '\f';
}

// Assimp's reader of PLY text, as far as a list's count depends on it. Assimp copies each
// line into one buffer over what the longer lines before it left there. At the end of the
// file it leaves the buffer as it is, so every instance still to come parses the last
// line again; a last line without a line end is copied over the one before and runs on
// into its rest. What the header left in the buffer is not modelled: it reads as a line
// end.
class TPLYTextReader {
public:
  TPLYTextReader(const std::string& bytes, size_t at) : Bytes(bytes), Pos(at) {}

  // The next line into the buffer; false at the end of the file, as Assimp's getNextLine.
  bool NextLine() {
    WroteLast = false;
    if (Pos >= Bytes.size())
      return false;
    if (PLYLineEnd(Bytes[Pos])) {
      while (Pos < Bytes.size() && Bytes[Pos] != '\n')
        ++Pos;
      if (++Pos >= Bytes.size())
        return false;
    }
    WroteLast = true;
    for (size_t i = Head;; ++i) {
      if (PLYLineEnd(Bytes[Pos])) {
        Put(i, '\n');
        ++Pos;
        return true;
      }
      Put(i, Bytes[Pos]);
      if (++Pos >= Bytes.size())
        return false; // the part of the line read stays, over what was there
    }
  }

  // Whether the last NextLine changed the buffer: at the end of a file whose last line
  // has no line end it does, once.
  bool Wrote() const { return WroteLast; }

  // Assimp's SkipLine on its buffer: the line and its ends are erased from the front.
  // Returns false when nothing was erased, so that the buffer no longer changes.
  bool EraseLine() {
    size_t i = Head;
    while (At(i) != '\r' && At(i) != '\n' && At(i) != '\0')
      ++i;
    while (At(i) == '\r' || At(i) == '\n')
      ++i;
    const bool erased = i != Head;
    Head = i;
    return erased;
  }

  char At(size_t i) const { return i < Buffer.size() ? Buffer[i] : '\0'; }

  // Walks one instance of an element as Assimp parses it: the values its lists' counts ask
  // Assimp to make room for, all told.
  uint64_t ListValues(const TPLYElement& element, bool& fails) const {
    uint64_t total = 0;
    size_t cur = Head;
    for (const TPLYProperty& p : element.Properties) {
      cur = SkipSpaces(cur);
      if (PLYLineEnd(At(cur)))
        break; // no value: Assimp takes defaults for the rest
      uint64_t count = 0;
      if (!Value(cur, p.Count.Size != 0 ? p.Count : p.Value,
                 p.Count.Size != 0 ? &count : nullptr)) {
        fails = true;
        break;
      }
      if (p.Count.Size != 0) {
        total = std::min<uint64_t>(total + count, UINT64_MAX / 2);
        for (uint64_t values = 0; values < count; ++values) {
          cur = SkipSpaces(cur);
          const size_t before = cur;
          if (PLYLineEnd(At(cur)))
            break;
          if (!Value(cur, p.Value, nullptr)) {
            fails = true;
            return total;
          }
          if (cur == before)
            break; // a value that does not move the cursor: the rest read the same
        }
      }
      // Assimp goes on past the line's end into what earlier lines left; that is not
      // followed here, so that the walk costs no more than the line.
      cur = SkipSpaces(cur);
      if (PLYLineEnd(At(cur)))
        break;
    }
    return total;
  }

private:
  void Put(size_t i, char c) {
    if (i >= Buffer.size())
      Buffer.resize(std::max(i + 1, Buffer.size() * 2), '\0');
    Buffer[i] = c;
  }

  size_t SkipSpaces(size_t i) const {
    while (At(i) == ' ' || At(i) == '\t')
      ++i;
    return i;
  }

  size_t Digits(size_t i, uint64_t* value) const {
    uint32_t v = 0; // Assimp's strtoul10: 32 bits, which wrap
    for (; At(i) >= '0' && At(i) <= '9'; ++i)
      v = v * 10 + static_cast<uint32_t>(At(i) - '0');
    if (value)
      *value = v;
    return i;
  }

  // Assimp's strtoul10_64: digits in 64 bits, where a number too long to hold leaves the
  // cursor where it was (and the value 0).
  size_t Digits64(size_t i) const {
    uint64_t v = 0;
    size_t k = i;
    for (; At(k) >= '0' && At(k) <= '9'; ++k) {
      const uint64_t next = v * 10 + static_cast<uint64_t>(At(k) - '0');
      if (next < v)
        return i;
      v = next;
    }
    return k;
  }

  // Reads one value where Assimp would, moving `cur` as its parser does; false where
  // Assimp throws (a real number, or its exponent, that does not start with a digit).
  bool Value(size_t& cur, TPLYType type, uint64_t* value) const {
    if (!type.Real) {
      const bool negative = type.Signed && At(cur) == '-';
      if (type.Signed && (At(cur) == '-' || At(cur) == '+'))
        ++cur;
      uint64_t v = 0;
      cur = Digits(cur, &v);
      if (value)
        *value = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(v)) : v;
      return true;
    }
    const size_t start = cur;
    if (At(cur) == '-' || At(cur) == '+')
      ++cur;
    const bool digit = At(cur) >= '0' && At(cur) <= '9';
    const bool point =
        (At(cur) == '.' || At(cur) == ',') && At(cur + 1) >= '0' && At(cur + 1) <= '9';
    if (!digit && !point)
      return false;
    if (digit)
      cur = Digits64(cur);
    if ((At(cur) == '.' || At(cur) == ',') && At(cur + 1) >= '0' && At(cur + 1) <= '9')
      cur = Digits(cur + 1, nullptr);
    else if (At(cur) == '.')
      ++cur;
    if (At(cur) == 'e' || At(cur) == 'E') {
      ++cur;
      if (At(cur) == '-' || At(cur) == '+')
        ++cur;
      if (At(cur) < '0' || At(cur) > '9')
        return false; // an exponent without digits
      cur = Digits64(cur);
    }
    if (value) {
      std::string text;
      for (size_t i = start; i < cur; ++i)
        text += At(i) == ',' ? '.' : At(i);
      *value = CountOfReal(std::strtod(text.c_str(), nullptr));
    }
    return true;
  }

  const std::string& Bytes;
  size_t Pos;
  std::string Buffer;
  size_t Head = 0; // where Assimp's buffer starts, after the lines erased from its front
  bool WroteLast = false;
};

// Assimp makes room for a list's values as soon as it has read the count, before it reads
// one value: a count of a billion in a file of a few hundred bytes costs gigabytes. So the
// data is walked as Assimp walks it, and a count its line, or the file, cannot hold is
// refused. `at` is where Assimp's reader stands after the end_header line.
std::string CheckPLYLists(const std::string& bytes, size_t at,
                          const std::vector<TPLYElement>& elements, bool ascii, bool bigEndian) {
  bool anyList = false;
  for (const TPLYElement& e : elements)
    for (const TPLYProperty& p : e.Properties)
      anyList = anyList || p.Count.Size != 0;
  if (!anyList)
    return "";
  if (ascii) {
    // Every value in text takes a byte and a separator, so the lists of a file can count
    // no more values than it has bytes; Assimp's reading of a damaged file can (a count
    // with too few values after it, or the last line read again for every instance the
    // data ends before).
    TPLYTextReader reader(bytes, at);
    reader.NextLine();
    uint64_t line = 1;
    uint64_t total = 0;
    for (const TPLYElement& e : elements) {
      for (uint64_t n = 0; n < e.Instances; ++n) {
        if (e.Properties.empty()) {
          // Assimp skips the instances of an element without properties, line by line.
          const bool erased = reader.EraseLine();
          if (reader.NextLine())
            ++line;
          if (!erased && !reader.Wrote())
            break; // the buffer no longer changes
          continue;
        }
        bool fails = false;
        const uint64_t values = reader.ListValues(e, fails);
        const bool read = reader.NextLine();
        // Past the end, every instance left parses the line just walked.
        const uint64_t times = read || reader.Wrote() ? 1 : e.Instances - n;
        total = values != 0 && times > (UINT64_MAX / 2 - total) / values ? UINT64_MAX / 2
                                                                         : total + values * times;
        if (total > bytes.size())
          return "the lists of the PLY data count " + std::to_string(total) + " values by line " +
                 std::to_string(line) + ", more than a file of " + std::to_string(bytes.size()) +
                 " bytes holds";
        if (fails)
          return ""; // Assimp gives up here with an error of its own
        if (times != 1)
          break;
        line += read;
      }
    }
    return "";
  }
  if (at < bytes.size() && bytes[at] == '\n')
    ++at; // Assimp drops the '\n' of a "\r\n" line end before binary data
  for (const TPLYElement& e : elements)
    for (uint64_t n = 0; n < e.Instances; ++n)
      for (const TPLYProperty& p : e.Properties) {
        const size_t head = p.Count.Size != 0 ? p.Count.Size : p.Value.Size;
        if (bytes.size() - at < head)
          return ""; // Assimp stops at the end of the data
        if (p.Count.Size == 0) {
          at += head;
          continue;
        }
        const uint64_t count = PLYBinaryCount(bytes, at, p.Count, bigEndian);
        at += head;
        if (count > (bytes.size() - at) / p.Value.Size)
          return "a list in the PLY data counts " + std::to_string(count) +
                 " values, more than the file holds";
        at += static_cast<size_t>(count) * p.Value.Size;
      }
  return "";
}

} // namespace

// Assimp's PLY reader loops for ever on some malformed headers and reserves what an
// element line's count asks for, so a PLY header is checked before Assimp sees it: its
// format, element and property statements well formed, a count no larger than the bytes
// that follow could hold, and an end. Returns what is wrong, or "" for a header that may
// go on.
std::string CheckPLYHeader(const std::string& bytes) {
  auto isType = [](const std::string& t) { return PLYTypeOf(t).Size != 0; };
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
  // Assimp ends a line at a carriage return or form feed as well, and would see other
  // statements than the lines checked here.
  for (size_t i = bytes.find_first_of("\r\f"); i < end; i = bytes.find_first_of("\r\f", i + 1))
    if (bytes[i] == '\f' || bytes[i + 1] != '\n')
      return "the PLY header holds a carriage return or form feed inside a line";
  bool ascii = false;
  bool bigEndian = false;
  size_t at = 0;
  int line = 0;
  unsigned long long elements = 0;
  // The elements as Assimp groups their properties: an element's are the property lines
  // that follow it (comments aside); any other line ends them, and property lines after
  // it belong to no element.
  std::vector<TPLYElement> layout;
  bool takingProperties = false;
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
    const bool wasTakingProperties = takingProperties;
    takingProperties = false;
    if (key == "format" && words.size() == 3 &&
        (words[1] == "ascii" || words[1] == "binary_little_endian" ||
         words[1] == "binary_big_endian")) {
      ascii = words[1] == "ascii";
      bigEndian = words[1] == "binary_big_endian";
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
      // Assimp reads the count of an element it does not know from the start of its name,
      // which here is not a digit: it reads none of its instances.
      const bool known = words[1] == "vertex" || words[1] == "face" || words[1] == "tristrips" ||
                         words[1] == "edge" || words[1] == "material";
      layout.push_back({known ? std::stoull(words[2]) : 0, {}});
      takingProperties = true;
      continue;
    }
    if (key == "property" && words.size() == 3 && isType(words[1])) {
      if (wasTakingProperties)
        layout.back().Properties.push_back({{}, PLYTypeOf(words[1])});
      takingProperties = wasTakingProperties;
      continue;
    }
    if (key == "property" && words.size() == 5 && words[1] == "list" && isType(words[2]) &&
        isType(words[3])) {
      if (wasTakingProperties)
        layout.back().Properties.push_back({PLYTypeOf(words[2]), PLYTypeOf(words[3])});
      takingProperties = wasTakingProperties;
      continue;
    }
    // Other lines are skipped, by Assimp as here: exporters write free text such as
    // "Created by ..." without "comment".
    if (key == "element" || key == "property" || key == "format")
      return what + " is not a PLY header statement";
  }
  // Text data holds numbers only: Assimp's reader does not get past anything else.
  if (ascii && dataStart != std::string::npos &&
      bytes.find_first_not_of("0123456789+-.eE \t\r\n", dataStart) != std::string::npos)
    return "the PLY text data holds something that is not a number";
  // Assimp's reader stands after the first line end of the end_header line.
  return dataStart == std::string::npos ? ""
                                        : CheckPLYLists(bytes, end + 11, layout, ascii, bigEndian);
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
