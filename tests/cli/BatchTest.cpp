// Batch pipelines: list (plain, --json, --shard), render --shard, manifests and the
// up-to-date check, stale outputs, the renderer fingerprint, --depfile and --report.
#include "CliRun.h"
#include "GLExit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
// GCC sees a null dereference inside nlohmann's inlined conversions that cannot happen.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <nlohmann/json.hpp>

using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::Cli;
using quarvel::test::CliRun;
using quarvel::test::FilesBelow;
using quarvel::test::Has;
using quarvel::test::Quote;
using quarvel::test::ReadBytes;
using quarvel::test::TempRoot;

namespace {

std::string Text(const std::string& file) {
  const auto b = ReadBytes(file);
  return std::string(b.begin(), b.end());
}

// A textured box: models/box.obj with box.mtl whose "paint" uses paint.png (or the
// texture named).
void WriteTexturedBox(const TempRoot& tmp, const std::string& model = "models/box",
                      const std::string& texture = "paint") {
  std::string mtl = BoxMTL();
  mtl.insert(mtl.find("\n\nnewmtl side"), "\nmap_Kd " + texture + ".png");
  const std::string dir = model.substr(0, model.find_last_of('/') + 1);
  const std::string mtlName = model.substr(model.find_last_of('/') + 1) + ".mtl";
  tmp.Write(model + ".mtl", mtl);
  std::string obj = BoxOBJ(2.0f, 1.0f, 1.5f, true);
  obj.replace(0, obj.find('\n'), "mtllib " + mtlName);
  tmp.Write(model + ".obj", obj);
  // A tiny valid PNG is not needed to list or hash; render decodes it, so use a real one.
  const auto png = ReadBytes(std::string(QUARVEL_SOURCE_DIR) + "/examples/units/tank.png");
  tmp.Write(dir + texture + ".png", std::string(png.begin(), png.end()));
}

std::map<std::string, std::vector<uint8_t>> Contents(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& f : FilesBelow(dir, true))
    files[f] = ReadBytes(dir + "/" + f);
  return files;
}

} // namespace

TEST(ListCommand, ShardsTogetherCoverEveryJobOnceAndNeverMove) {
  TempRoot tmp("batch");
  std::vector<std::string> all;
  for (int i = 0; i < 40; ++i) {
    tmp.Write((i % 3 ? "units/u" : "Other/O") + std::to_string(i) + ".settings", "angle 0 0\n");
  }
  const std::string root = " --root " + Quote(tmp.str());
  CliRun r = Cli(tmp, "list --all" + root);
  ASSERT_EQ(r.status, 0) << r.err;
  all = r.OutLines();
  ASSERT_EQ(all.size(), 40u);
  for (const int n : {1, 2, 3, 7}) {
    SCOPED_TRACE(n);
    std::multiset<std::string> seen;
    std::map<std::string, int> shardOf;
    for (int k = 1; k <= n; ++k) {
      r = Cli(tmp, "list --all --shard " + std::to_string(k) + "/" + std::to_string(n) + root);
      ASSERT_EQ(r.status, 0) << r.err;
      for (const std::string& name : r.OutLines()) {
        seen.insert(name);
        shardOf[name] = k;
      }
    }
    EXPECT_EQ(seen, std::multiset<std::string>(all.begin(), all.end()));
    // Adding jobs moves none of the others.
    tmp.Write("zz/new" + std::to_string(n) + ".settings", "angle 0 0\n");
    for (int k = 1; k <= n; ++k) {
      r = Cli(tmp, "list --all --shard " + std::to_string(k) + "/" + std::to_string(n) + root);
      for (const std::string& name : r.OutLines()) {
        if (shardOf.count(name)) {
          EXPECT_EQ(shardOf[name], k) << name;
        }
      }
    }
    std::filesystem::remove(tmp / ("zz/new" + std::to_string(n) + ".settings"));
  }
  // However a name is spelt (letter case, separators), its job is in one shard.
  r = Cli(tmp, "list units/u1 'UNITS\\U1' --shard 1/2" + root);
  const CliRun r2 = Cli(tmp, "list units/u1 'UNITS\\U1' --shard 2/2" + root);
  EXPECT_EQ(r.OutLines().size() + r2.OutLines().size(), 2u);
  EXPECT_TRUE(r.OutLines().size() == 2 || r2.OutLines().size() == 2);
}

TEST(ListCommand, BadShardsAreUsageErrors) {
  TempRoot tmp("batch");
  tmp.Write("a.settings", "angle 0 0\n");
  for (const char* command : {"list", "render"})
    for (const char* shard : {"0/3", "4/3", "x", "1/0", "1/", "/3", "1/3/2", "-1/3", "1/+3"}) {
      SCOPED_TRACE(std::string(command) + " " + shard);
      const CliRun r = Cli(tmp, std::string(command) + " a --shard " + Quote(shard) + " --root " +
                                    Quote(tmp.str()) + " --out " + Quote(tmp / "out"));
      EXPECT_EQ(r.status, 2) << r.err;
      EXPECT_TRUE(Has(r.err, "--shard")) << r.err;
      EXPECT_TRUE(FilesBelow(tmp / "out", true).empty());
    }
}

TEST(ListCommand, JsonNamesEveryFileAJobReadsAndWritesAndFailedJobsWithTheirError) {
  TempRoot tmp("batch");
  WriteTexturedBox(tmp);
  tmp.Write("common/angles.txt", "angle 0 0\nangle 1 90\n");
  tmp.Write("common/empty.txt", "");
  tmp.Write("units/tank.settings",
            "include common/angles.txt\ninclude common/empty.txt\nframe 1 models/box.obj\n");
  tmp.Write("units/broken.settings", "angle 0 0\nframe 1 models/missing.obj\n");
  tmp.Write("zmissing.settings", "angle 0 0\n");
  const std::string root = tmp.str();
  // units/gone has no settings file: it cannot be read.
  const CliRun r = Cli(tmp, "list units/tank units/broken units/gone zmissing --json --root " +
                                Quote(root) + " --out " + Quote(tmp / "out"));
  EXPECT_EQ(r.status, 1) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  std::map<std::string, nlohmann::json> jobs;
  for (const auto& j : doc["jobs"])
    jobs[j["name"].get<std::string>()] = j;
  ASSERT_EQ(jobs.count("units/tank"), 1u) << r.out;
  const nlohmann::json& tank = jobs["units/tank"];
  std::vector<std::string> inputs;
  for (const auto& f : tank["inputs"]) {
    inputs.push_back(f["path"]);
    EXPECT_EQ(f["size"].get<uint64_t>(), std::filesystem::file_size(f["path"].get<std::string>()));
  }
  EXPECT_EQ(inputs,
            (std::vector<std::string>{root + "/units/tank.settings", root + "/common/angles.txt",
                                      root + "/common/empty.txt", root + "/models/box.obj",
                                      root + "/models/box.mtl", root + "/models/paint.png"}));
  EXPECT_EQ(tank["outputs"],
            nlohmann::json({tmp / "out/units/tank_0.kxz", tmp / "out/units/tank_0.p16",
                            tmp / "out/units/tank_1.kxz", tmp / "out/units/tank_1.p16"}));
  EXPECT_EQ(tank["manifest"], tmp / "out/units/.tank.manifest");
  // The root holds no shader files: the built-in ones render, and shader files put there
  // later would change the output.
  EXPECT_TRUE(Has(tank["probes"].dump(), root + "/zbuffer.vglsl"));
  // One job that cannot load does not stop the listing.
  EXPECT_TRUE(Has(jobs["units/broken"]["error"].get<std::string>(), "missing.obj"));
  EXPECT_TRUE(jobs["units/broken"].count("inputs") == 0);
  EXPECT_TRUE(Has(jobs["units/gone"]["error"].get<std::string>(), "gone.settings"));
  EXPECT_TRUE(jobs["zmissing"].count("error") == 0); // no frame: fine for listing

  // Plain listing reads no settings file at all.
  const CliRun plain = Cli(tmp, "list --all --root " + Quote(root));
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.OutLines(), (std::vector<std::string>{"units/broken", "units/tank", "zmissing"}));
}

TEST(RenderShards, ShardsTogetherRenderEveryJobExactlyOnce) {
  TempRoot tmp("batch");
  tmp.Write("models/box.mtl", BoxMTL());
  tmp.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  const std::vector<std::string> jobs = {"a", "b", "sub/c", "sub/d", "e"};
  for (const std::string& j : jobs)
    tmp.Write(j + ".settings", "angle 0 0\nframe 1 models/box.obj\n");
  for (const int n : {1, 2, 3, 7}) {
    SCOPED_TRACE(n);
    std::multiset<std::string> rendered;
    const std::string out = tmp / ("out" + std::to_string(n));
    for (int k = 1; k <= n; ++k) {
      const CliRun r =
          Cli(tmp, "render --all --shard " + std::to_string(k) + "/" + std::to_string(n) +
                       " --root " + Quote(tmp.str()) + " --out " + Quote(out));
      // A shard without jobs is not an error: a matrix may well have more shards than jobs.
      EXPECT_EQ(r.status, 0) << r.err;
      for (const std::string& line : r.OutLines())
        if (line.rfind("wrote ", 0) == 0 && line.size() > 4 &&
            line.compare(line.size() - 4, 4, ".kxz") == 0)
          rendered.insert(line.substr(6 + out.size() + 1));
    }
    EXPECT_EQ(rendered, (std::multiset<std::string>{"a_0.kxz", "b_0.kxz", "e_0.kxz", "sub/c_0.kxz",
                                                    "sub/d_0.kxz"}));
  }
}

TEST(Manifest, UpToDateJobsAreSkippedUntilAnInputOrOutputChanges) {
  TempRoot tmp("batch");
  WriteTexturedBox(tmp);
  tmp.Write("j.settings", "angle 0 0\nangle 1 90\nframe 1 models/box.obj\n");
  const std::string out = tmp / "out";
  const std::string args = "render j --root " + Quote(tmp.str()) + " --out " + Quote(out);
  CliRun r = Cli(tmp, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FilesBelow(out, true),
            (std::vector<std::string>{".j.manifest", "j_0.kxz", "j_0.p16", "j_1.kxz", "j_1.p16"}));
  EXPECT_FALSE(Has(r.out, "wrote " + out + "/.j.manifest")) << r.out;
  const auto first = Contents(out);

  r = Cli(tmp, args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "j: up to date\n0 of 1 job rendered, 1 up to date\n");
  EXPECT_EQ(Contents(out), first);

  // Each change makes the job render again (and then it is up to date again).
  const std::vector<std::pair<std::string, std::function<void()>>> changes = {
      {"texture content",
       [&] { tmp.Write("models/paint.png", Text(tmp / "models/paint.png") + "x"); }},
      {"material library",
       [&] { tmp.Write("models/box.mtl", Text(tmp / "models/box.mtl") + "\n"); }},
      {"settings", [&] { tmp.Write("j.settings", Text(tmp / "j.settings") + "\n"); }},
      {"an output", [&] { tmp.Write("out/j_1.p16", "garbage"); }},
      {"a missing output", [&] { std::filesystem::remove(out + "/j_0.kxz"); }},
      {"a shader file in the root",
       [&] {
         tmp.Write("zbuffer.vglsl",
                   Text(std::string(QUARVEL_SOURCE_DIR) + "/shaders/zbuffer.vglsl"));
         tmp.Write("zbuffer.fglsl",
                   Text(std::string(QUARVEL_SOURCE_DIR) + "/shaders/zbuffer.fglsl"));
       }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    change();
    r = Cli(tmp, args);
    EXPECT_FALSE(Has(r.out, "up to date")) << r.out;
    EXPECT_TRUE(Has(r.out, "wrote " + out + "/j_1.p16")) << r.out;
    r = Cli(tmp, args);
    EXPECT_TRUE(Has(r.out, "j: up to date")) << r.out << r.err;
  }
  // Touching without changing the content keeps it up to date (the hash decides).
  std::filesystem::last_write_time(tmp / "models/box.obj",
                                   std::filesystem::file_time_type::clock::now());
  r = Cli(tmp, args);
  EXPECT_TRUE(Has(r.out, "j: up to date")) << r.out;
  // --force renders anyway; other options are another output.
  r = Cli(tmp, args + " --force");
  EXPECT_TRUE(Has(r.out, "wrote ")) << r.out;
  r = Cli(tmp, args + " --half-ambient");
  EXPECT_TRUE(Has(r.out, "wrote ")) << r.out;
}

TEST(Manifest, DamagedOrForeignManifestsAreIgnoredWithAWarning) {
  TempRoot tmp("batch");
  tmp.Write("models/box.mtl", BoxMTL());
  tmp.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  tmp.Write("j.settings", "angle 0 0\nframe 1 models/box.obj\n");
  const std::string out = tmp / "out";
  const std::string args = "render j --root " + Quote(tmp.str()) + " --out " + Quote(out);
  ASSERT_EQ(Cli(tmp, args).status, 0);
  const std::string good = Text(out + "/.j.manifest");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"cut short", good.substr(0, good.size() / 2)},
      {"no end line", good.substr(0, good.size() - 4)},
      {"foreign", "{\"some\": \"json\"}\n"},
      {"binary", std::string("\0\xff\x01quarvel-manifest 1\n", 22)},
      {"bad hash",
       [&] {
         std::string t = good;
         t.replace(t.find("input ") + 6, 4, "zzzz");
         return t;
       }()},
  };
  for (const auto& [what, text] : cases) {
    SCOPED_TRACE(what);
    tmp.Write("out/.j.manifest", text);
    const CliRun r = Cli(tmp, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "warning: " + out +
                               "/.j.manifest: damaged or foreign manifest "
                               "ignored"))
        << r.err;
    EXPECT_TRUE(Has(r.out, "wrote " + out + "/j_0.kxz")) << r.out;
    EXPECT_EQ(Text(out + "/.j.manifest").substr(0, 19), "quarvel-manifest 1\n");
  }
}

TEST(Manifest, StaleOutputsListedByThePreviousManifestAloneAreRemoved) {
  TempRoot tmp("batch");
  tmp.Write("models/box.mtl", BoxMTL());
  tmp.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  tmp.Write("tank.settings", "angle 0 0\nangle 1 90\nangle 2 180\nframe 1 models/box.obj\n");
  const std::string out = tmp / "out";
  const std::string args = "render tank --root " + Quote(tmp.str()) + " --out " + Quote(out);
  ASSERT_EQ(Cli(tmp, args).status, 0);
  // Files the previous manifest does not list stay, whatever their names.
  tmp.Write("out/tank_7.kxz", "mine");
  tmp.Write("out/keep.txt", "mine");
  // A manifest that lists files outside the job's own names removes none of them.
  std::string manifest = Text(out + "/.tank.manifest");
  manifest.insert(manifest.rfind("end\n"),
                  "output 00000000000000000000000000000000 4 " + out + "/keep.txt\n");
  tmp.Write("out/.tank.manifest", manifest);

  tmp.Write("tank.settings", "angle 0 0\nangle 1 90\nframe 1 models/box.obj\n");
  CliRun r = Cli(tmp, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FilesBelow(out, true),
            (std::vector<std::string>{".tank.manifest", "keep.txt", "tank_0.kxz", "tank_0.p16",
                                      "tank_1.kxz", "tank_1.p16", "tank_7.kxz"}));

  // The other format's files are another output, kept beside these.
  r = Cli(tmp, args + " --format 2p5d");
  ASSERT_EQ(r.status, 0) << r.err;
  tmp.Write("tank.settings", "angle 0 0\nframe 1 models/box.obj\n");
  r = Cli(tmp, args + " --format 2p5d");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FilesBelow(out, true),
            (std::vector<std::string>{".tank.manifest", "keep.txt", "tank_0.2p5d", "tank_0.kxz",
                                      "tank_0.p16", "tank_1.kxz", "tank_1.p16", "tank_7.kxz"}));
}

TEST(Fingerprint, GlInfoPrintsItAndRenderRequiresIt) {
  TempRoot tmp("batch");
  tmp.Write("models/box.mtl", BoxMTL());
  tmp.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  tmp.Write("j.settings", "angle 0 0\nframe 1 models/box.obj\n");
  const CliRun info = Cli(tmp, "gl-info", "", quarvel::test::GLInfoEnvironment);
  ASSERT_EQ(info.status, 0) << info.err;
  std::string fingerprint;
  for (const std::string& line : info.OutLines())
    if (line.rfind("Fingerprint: ", 0) == 0)
      fingerprint = line.substr(13);
  ASSERT_EQ(fingerprint.size(), 32u) << info.out;
  // The same machine measures the same fingerprint every time.
  EXPECT_TRUE(Has(Cli(tmp, "gl-info", "", quarvel::test::GLInfoEnvironment).out,
                  "Fingerprint: " + fingerprint + "\n"));

  const std::string out = tmp / "out";
  const std::string args = "render j --root " + Quote(tmp.str()) + " --out " + Quote(out);
  CliRun r = Cli(tmp, args + " --require-fingerprint 0123456789abcdef0123456789abcdef");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "fingerprint is " + fingerprint + ", not the required")) << r.err;
  EXPECT_TRUE(FilesBelow(out, true).empty());
  r = Cli(tmp, args + " --require-fingerprint " + fingerprint);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(Text(out + "/.j.manifest"), "\nfingerprint " + fingerprint + "\n"));
  // A manifest from another renderer is not up to date.
  std::string manifest = Text(out + "/.j.manifest");
  manifest.replace(manifest.find(fingerprint), 32, std::string(32, 'f'));
  tmp.Write("out/.j.manifest", manifest);
  r = Cli(tmp, args);
  EXPECT_TRUE(Has(r.out, "wrote ")) << r.out;
}

TEST(DepfileAndReport, ListEveryInputEscapedAndEveryJobsOutcome) {
  TempRoot tmp("batch");
  WriteTexturedBox(tmp, "my models/box", "pa$nt");
  tmp.Write("a#1.settings", "angle 0 0\nframe 1 my models/box.obj\n");
  tmp.Write("bad.settings", "angle 0 0\nframe 1 models/missing.obj\n");
  tmp.Write("warn.settings", "angle 0 0\nframe 1 my models/box.obj\nbogus line\n");
  const std::string root = tmp.str(), out = tmp / "out";
  const std::string args = "render 'a#1' bad warn --root " + Quote(root) + " --out " + Quote(out) +
                           " --depfile " + Quote(tmp / "deps.d") + " --report " +
                           Quote(tmp / "report.json");
  CliRun r = Cli(tmp, args);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.out, "time per phase: load ")) << r.out;
  const std::string esc = [&] {
    std::string s;
    for (const char c : root) {
      if (c == ' ' || c == '#' || c == ':') // a drive's colon on Windows, so that Make reads it
        s += '\\';
      s += c == '\\' ? '/' : c; // names are written with '/' on every system
    }
    return s;
  }();
  const std::string deps = Text(tmp / "deps.d");
  EXPECT_TRUE(Has(deps, esc + "/out/.a\\#1.manifest: \\\n  " + esc + "/a\\#1.settings \\\n  " +
                            esc + "/my\\ models/box.obj \\\n  " + esc +
                            "/my\\ models/box.mtl \\\n  " + esc + "/my\\ models/pa$$nt.png\n"))
      << deps;
  EXPECT_FALSE(Has(deps, "bad")) << deps;

  nlohmann::json report = nlohmann::json::parse(Text(tmp / "report.json"));
  ASSERT_EQ(report["jobs"].size(), 3u);
  EXPECT_EQ(report["jobs"][0]["status"], "rendered");
  ASSERT_EQ(report["jobs"][0]["outputs"].size(), 2u);
  EXPECT_EQ(report["jobs"][0]["outputs"][0]["size"].get<uint64_t>(),
            std::filesystem::file_size(out + "/a#1_0.kxz"));
  EXPECT_GT(report["jobs"][0]["seconds"]["pass 1"].get<double>(), 0.0);
  EXPECT_EQ(report["jobs"][1]["status"], "failed");
  EXPECT_TRUE(Has(report["jobs"][1]["error"].get<std::string>(), "missing.obj"));
  EXPECT_EQ(report["jobs"][2]["warnings"].size(), 1u);

  // Up to date now: the depfile still names the inputs, from the manifest.
  tmp.Write("bad.settings", "angle 0 0\nframe 1 my models/box.obj\n");
  r = Cli(tmp, args + " --jobs 2");
  EXPECT_EQ(r.status, 0) << r.err;
  report = nlohmann::json::parse(Text(tmp / "report.json"));
  EXPECT_EQ(report["jobs"][0]["status"], "up to date");
  EXPECT_EQ(report["jobs"][1]["status"], "rendered");
  EXPECT_EQ(report["jobs"][1]["outputs"].size(), 2u);
  EXPECT_TRUE(Has(Text(tmp / "deps.d"), "/out/.bad.manifest: \\\n")) << Text(tmp / "deps.d");
  EXPECT_TRUE(Has(Text(tmp / "deps.d"), "/out/.a\\#1.manifest: \\\n"));
}

// Names both readers can hold: Ninja records exactly each job's files, and under Ninja and
// GNU Make alike a texture newer than the outputs re-renders its own job and no other.
TEST(Depfile, NinjaAndMakeRecordExactlyTheJobsFilesAndRebuildOnlyTheirJob) {
  if (std::system("ninja --version >/dev/null && make --version >/dev/null") != 0)
    GTEST_SKIP() << "needs ninja and GNU make";
  TempRoot tmp("batch");
  const std::string dirs[] = {"sp ace", "ha#sh", "do$lar", "co:lon"}, root = tmp / "root";
  auto cli = [&](const std::string& job) { // run from the build tool's folder
    return std::string(QUARVEL_CLI) + " render " + job + " -q --force --root " + Quote(root) +
           " --out . --depfile " + job + ".d";
  };
  std::string ninja = "rule r\n  command = " + cli("$job") +
                      "\n  depfile = $job.d\n  deps = gcc\n  description = render $job\n",
              make = "all:";
  for (size_t i = 0; i < std::size(dirs); ++i) {
    const std::string job = "j" + std::to_string(i);
    WriteTexturedBox(tmp, "root/" + dirs[i] + "/box");
    tmp.Write("root/" + job + ".settings", "angle 0 0\nframe 1 " + dirs[i] + "/box.obj\n");
    ninja += "build ." + job + ".manifest: r\n  job = " + job + "\n";
    make += " ." + job + ".manifest\n." + job + ".manifest:\n\t@echo render " + job + "; " +
            cli(job) + "\n-include " + job + ".d\nall:";
  }
  tmp.Write("ninja/build.ninja", ninja);
  tmp.Write("make/Makefile", make + "\n");
  auto run = [&](const std::string& command) { // the output, and the jobs of "render JOB"
    EXPECT_EQ(std::system((command + " >" + Quote(tmp / "log") + " 2>&1").c_str()), 0);
    const std::string log = Text(tmp / "log");
    std::set<std::string> jobs;
    for (size_t at = log.find("render j"); at != std::string::npos;
         at = log.find("render j", at + 1))
      jobs.insert(log.substr(at + 7, 2));
    return std::make_pair(log, jobs);
  };
  for (const std::string tool : {"ninja", "make"}) {
    const std::string build = tool + " -C " + Quote(tmp / tool);
    EXPECT_EQ(run(build).second.size(), std::size(dirs)) << tool;
    EXPECT_TRUE(run(build).second.empty()) << tool;
    for (size_t i = 0; i < std::size(dirs); ++i) {
      const std::string job = "j" + std::to_string(i), box = root + "/" + dirs[i] + "/";
      EXPECT_TRUE(tool == "make" ||
                  Has(run(build + " -t deps ." + job + ".manifest").first,
                      "(VALID)\n    " + root + "/" + job + ".settings\n    " + box +
                          "box.obj\n    " + box + "box.mtl\n    " + box + "paint.png\n\n"))
          << Text(tmp / "log");
      const auto now = std::filesystem::file_time_type::clock::now();
      std::filesystem::last_write_time(box + "paint.png", now + std::chrono::hours(1));
      EXPECT_EQ(run(build).second, std::set<std::string>{job}) << tool << " " << box;
      std::filesystem::last_write_time(box + "paint.png", now - std::chrono::hours(1));
    }
  }
}

// A name Make or Ninja would read as other names or as syntax fails --depfile, showing the
// name escaped, and leaves no dependency file, not even an earlier run's.
TEST(Depfile, NamesNoReaderCanHoldAreRefused) {
  if (!quarvel::test::HasAnyByteNames)
    GTEST_SKIP() << "this system's file names cannot hold the bytes this case is about";
  TempRoot tmp("batch");
  WriteTexturedBox(tmp, "root/box");
  const std::pair<std::string, std::string> cases[] = {
      // an include (or job), the message
      {"ta\tb.txt", "ta\\x09b.txt' cannot be named in a dependency file: a tab ends a name"},
      {"inc:", "inc:' cannot be named in a dependency file: a name ending in ':' reads as"},
      {"c\x01.txt", "c\\x01.txt' cannot be named in a dependency file: control byte \\x01"},
      {"it's.txt", "it's.txt' cannot be named in a dependency file: Ninja ends a name at '''"},
      {"a=b", "a=b.manifest' cannot be named in a dependency file: Make reads a word with '='"},
      {"n\nl", "n\\x0al.manifest' cannot be named in a dependency file: a line break"},
  };
  for (const auto& [name, message] : cases) {
    const bool include = name.find_first_of(".:") != std::string::npos;
    tmp.Write("root/" + name, "# shared\n");
    tmp.Write("root/" + (include ? "j" : name) + ".settings",
              "angle 0 0\nframe 1 box.obj\n" + (include ? "include " + name + "\n" : ""));
    tmp.Write("deps.d", "stale\n");
    const CliRun r =
        Cli(tmp, "render " + Quote(include ? "j" : name) + " -q --root " + Quote(tmp / "root") +
                     " --out " + Quote(tmp / "out") + " --depfile " + Quote(tmp / "deps.d"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "quarvel-cli: --depfile: '") && Has(r.err, message)) << r.err;
    EXPECT_FALSE(std::filesystem::exists(tmp / "deps.d")) << message;
  }
}
