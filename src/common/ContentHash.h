// Content hashes of input and output files, and the shard a job belongs to.
//
// Content hash: XXH3-128 (Debian's libxxhash). It reads at memory speed, so checking
// whether a batch's inputs changed costs about as much as reading them from the page
// cache; 128 bits make an accidental match of two different files out of the question for
// any number of files a batch holds. It is not meant to resist someone crafting
// collisions: a manifest guards against stale output, not against an attacker.
//
// Shards: a job belongs to shard (FNV-1a 64 of its normalised name) mod N, plus one.
// The normalised name is the job's name with "\" as "/", ASCII letters in lower case and
// no leading "./" (the file lookup ignores letter case, so "Units\Tank" and "units/tank"
// are the same job and land in the same shard). The hash depends on the name alone, so a
// job's shard never changes when other jobs are added or removed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quarvel {

// 32 lower-case hex digits of XXH3-128.
std::string HashBytes(const void* data, size_t size);
// The same of a whole file, read in pieces. Throws quarvel::Error naming the file when it
// cannot be read.
std::string HashFile(const std::string& path);

// FNV-1a 64 (offset basis 0xcbf29ce484222325, prime 0x100000001b3) of the bytes.
uint64_t NameHash(std::string_view text);
std::string NormalisedJobName(const std::string& name);
// 1..count: the shard of the job named `name`.
int32_t ShardOf(const std::string& name, int32_t count);

struct TShard {
  int32_t Index = 1; // 1-based
  int32_t Count = 1;
};
// "K/N" with 1 <= K <= N (N at most 100000). Throws quarvel::Error saying what is wrong.
TShard ParseShard(const std::string& text);

// The shard a scheduler's task is, for "auto/N" and "auto"; any other text as ParseShard
// reads it. The index comes from the first variable set of:
//   JOB_COMPLETION_INDEX  Kubernetes Indexed Job, 0-based (no count: "auto/N" only)
//   SLURM_ARRAY_TASK_ID   Slurm array, counted from SLURM_ARRAY_TASK_MIN (1 when unset, so
//                         --array=1-N numbers the tasks as --shard does), with
//                         SLURM_ARRAY_TASK_COUNT as the count
//   QUARVEL_SHARD_INDEX   anything else (HTCondor's $(Process)), 0-based, with
//                         QUARVEL_SHARD_COUNT as the count where it is set
// A missing variable, an index outside the count, or a count that disagrees with N throws
// quarvel::Error naming the variable and its value. `variable` looks a name up.
using TVariableLookup = std::function<std::optional<std::string>(const std::string& name)>;
TShard ResolveShard(const std::string& text, const TVariableLookup& variable);

} // namespace quarvel
