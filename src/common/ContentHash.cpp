#include "common/ContentHash.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "platform/Platform.h"

#include <cstdio>
#include <memory>
#include <xxhash.h>

namespace quarvel {

namespace {

std::string Hex(const XXH128_hash_t& h) {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(h.high64),
                static_cast<unsigned long long>(h.low64));
  return text;
}

struct TStateDeleter {
  void operator()(XXH3_state_t* s) const { XXH3_freeState(s); }
};

} // namespace

std::string HashBytes(const void* data, size_t size) {
  return Hex(XXH3_128bits(data, size));
}

std::string HashFile(const std::string& path) {
  const std::string found = ResolveForOpening(path);
  const platform::TFileHandle fd = platform::OpenForReading(found, true);
  if (fd == platform::NoFile)
    throw Error(found + ": cannot read: " + platform::ErrorText(platform::LastError()));
  std::unique_ptr<XXH3_state_t, TStateDeleter> state(XXH3_createState());
  XXH3_128bits_reset(state.get());
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  for (;;) {
    const int64_t n = platform::Read(fd, buffer.get(), 1 << 20);
    if (n == 0)
      break;
    if (n < 0) {
      const int e = platform::LastError();
      platform::Close(fd);
      throw Error(found + ": cannot read: " + platform::ErrorText(e));
    }
    XXH3_128bits_update(state.get(), buffer.get(), static_cast<size_t>(n));
  }
  platform::Close(fd);
  return Hex(XXH3_128bits_digest(state.get()));
}

uint64_t NameHash(std::string_view text) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ULL;
  }
  return h;
}

std::string NormalisedJobName(const std::string& name) {
  std::string n = ToLowerASCII(NormaliseSeparators(name));
  while (n.compare(0, 2, "./") == 0)
    n.erase(0, 2);
  return n;
}

int32_t ShardOf(const std::string& name, int32_t count) {
  if (count <= 1)
    return 1;
  return static_cast<int32_t>(NameHash(NormalisedJobName(name)) % static_cast<uint64_t>(count)) + 1;
}

namespace {

// A decimal number of at most six digits.
bool ShardNumber(const std::string& part, int32_t& value) {
  if (part.empty() || part.size() > 6)
    return false;
  value = 0;
  for (const char c : part) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

} // namespace

TShard ParseShard(const std::string& text) {
  const auto number = ShardNumber;
  const size_t slash = text.find('/');
  TShard shard;
  if (slash == std::string::npos || !number(text.substr(0, slash), shard.Index) ||
      !number(text.substr(slash + 1), shard.Count))
    throw Error("--shard " + Quoted(text) + " is not K/N (shard K of N, e.g. 2/4)");
  if (shard.Count < 1 || shard.Count > 100000)
    throw Error("--shard " + Quoted(text) + ": N must be 1 to 100000");
  if (shard.Index < 1 || shard.Index > shard.Count)
    throw Error("--shard " + Quoted(text) + ": K must be 1 to " + std::to_string(shard.Count));
  return shard;
}

TShard ResolveShard(const std::string& text, const TVariableLookup& variable) {
  if (text != "auto" && text.rfind("auto/", 0) != 0)
    return ParseShard(text);
  const std::string option = "--shard " + Quoted(text);
  TShard given; // N when "auto/N"
  if (text != "auto")
    given = ParseShard("1" + text.substr(4));

  struct TScheduler {
    const char* Index;
    const char* Base;  // the index of the first task, when the scheduler says it
    int32_t BaseValue; // ... and when it does not
    const char* Count; // nullptr: the scheduler does not tell the count
  };
  static const TScheduler schedulers[] = {
      {"JOB_COMPLETION_INDEX", nullptr, 0, nullptr},
      {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_MIN", 1, "SLURM_ARRAY_TASK_COUNT"},
      {"QUARVEL_SHARD_INDEX", nullptr, 0, "QUARVEL_SHARD_COUNT"},
  };
  auto read = [&](const char* name, int32_t& value) {
    const std::optional<std::string> raw = variable(name);
    if (!raw)
      return false;
    if (!ShardNumber(*raw, value))
      throw Error(option + ": " + name + " is " + Quoted(*raw) +
                  ", not a whole number of at most six digits");
    return true;
  };
  for (const TScheduler& s : schedulers) {
    int32_t index = 0, base = s.BaseValue, count = 0;
    if (!read(s.Index, index))
      continue;
    if (s.Base)
      read(s.Base, base);
    const bool counted = s.Count && read(s.Count, count);
    if (counted && count < 1)
      throw Error(option + ": " + s.Count + " is " + std::to_string(count) + ", not a count");
    if (counted && text != "auto" && count != given.Count)
      throw Error(option + ": " + s.Count + " is " + std::to_string(count) +
                  ", but the shards are counted as " + std::to_string(given.Count));
    if (!counted && text == "auto")
      throw Error(option + ": " + s.Index + " is set, but nothing says how many shards there " +
                  "are" + (s.Count ? std::string(" (") + s.Count + " is not set)" : "") +
                  ": give the count as --shard auto/N");
    TShard shard;
    shard.Count = counted ? count : given.Count;
    shard.Index = index - base + 1;
    if (index < base || shard.Index > shard.Count)
      throw Error(option + ": " + s.Index + " is " + std::to_string(index) +
                  (s.Base ? std::string(" (") + s.Base + " " + std::to_string(base) + ")" : "") +
                  ", outside the " + std::to_string(shard.Count) + " shards");
    return shard;
  }
  throw Error(option + ": none of JOB_COMPLETION_INDEX, SLURM_ARRAY_TASK_ID or "
                       "QUARVEL_SHARD_INDEX is set; outside a scheduler, give --shard K/N");
}

} // namespace quarvel
