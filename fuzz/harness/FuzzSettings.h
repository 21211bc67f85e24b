// Entry point of the settings fuzz target (fuzz/fuzz_settings.cpp) and of the test that
// replays its corpus (tests/fuzz): the bytes become a small folder of settings files, and
// the job is loaded from it as `quarvel-cli info job` loads one: settings, includes and
// models, without textures and without GL.
//
// The input is split into files at every line "===" (at most MaxFuzzSettingsFiles; later
// separators stay in the last file). The first part is "job.settings", the job that is
// loaded; part k (from 1) is written three times, as "pk.settings", "pk.obj" and "pk.mtl",
// so that include, frame and mtllib lines can all reach it. Inputs that mention ".." are
// skipped: the loader would follow them out of the folder into the machine's own files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

constexpr size_t MaxFuzzSettingsFiles = 8;

// The error message the job ends in (quarvel::Error), or "" when it loaded. A broken
// invariant aborts; any other exception leaves the function, which the fuzzer reports.
std::string FuzzSettingsFiles(const uint8_t* data, size_t size);

// The folder the files are written to: one per process, reused by every call, removed
// when the process ends.
std::string FuzzSettingsFolder();

} // namespace quarvel
