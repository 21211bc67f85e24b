// What a render farm's manager reads of a worker: the Open Job Description progress lines
// and the shard the scheduler's variables name (the exit statuses: FarmStopTest.cpp).
#include "CliRun.h"
#include "jobs/JobTestUtil.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <set>
#include <sstream>

namespace quarvel::test {
namespace {

const std::string JobText = "angle 0 0\nframe 1 models/box.obj\n";

// The box model and the jobs named: "bad" names a model that is not there, every other
// is a good job.
void WriteJobs(const TempRoot& root, const std::vector<std::string>& jobs) {
  root.Write("models/box.mtl", BoxMTL());
  root.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  for (const std::string& job : jobs) {
    root.Write(job + ".settings", job == "bad" ? "angle 0 0\nframe 1 models/none.obj\n" : JobText);
  }
}

// `count` good jobs, NAME0, NAME1, ...
std::vector<std::string> ManyJobs(const TempRoot& root, const std::string& name, int count) {
  std::vector<std::string> jobs;
  for (int i = 0; i < count; ++i)
    jobs.push_back(name + std::to_string(i));
  WriteJobs(root, jobs);
  return jobs;
}

// The files below `dir` with their bytes, but for the manifests (which name their folder).
std::map<std::string, std::vector<uint8_t>> Sprites(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& f : FilesBelow(dir))
    if (f.find(".manifest") == std::string::npos)
      files[f] = ReadBytes(dir + "/" + f);
  return files;
}

// The variables of every scheduler ResolveShard reads, unset in this process (whose
// environment the program gets), then the assignments `env`.
std::string SchedulerEnv(const std::string& env) {
  for (const char* name : {"JOB_COMPLETION_INDEX", "SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_MIN",
                           "SLURM_ARRAY_TASK_COUNT", "QUARVEL_SHARD_INDEX", "QUARVEL_SHARD_COUNT"})
    SetEnvironment(name, nullptr);
  return env;
}

TEST(FarmWorker, OpenJDLinesAloneOnStandardOutputRisingToHundredWithOneStatusPerJob) {
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    TempRoot root("openjd");
    WriteJobs(root, {"a", "b", "c", "bad"});
    const std::string common =
        " --root " + Quote(root.str()) + " --out " + Quote(root / "out") + " --jobs " + jobs;
    ASSERT_EQ(Cli(root, "render a --quiet" + common).status, 0);
    const CliRun r = Cli(root, "render a b c bad --progress openjd" + common);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::regex progress("openjd_progress: ([0-9]+)"), status("openjd_status: (.+)");
    int last = -1;
    std::set<std::string> statuses;
    for (const std::string& line : r.OutLines()) {
      std::smatch m;
      if (std::regex_match(line, m, progress)) {
        EXPECT_GE(std::stoi(m[1]), last) << r.out;
        last = std::stoi(m[1]);
      } else if (std::regex_match(line, m, status)) {
        EXPECT_TRUE(statuses.insert(m[1]).second) << r.out;
      } else {
        ADD_FAILURE() << "not an OpenJD line: " << line;
      }
    }
    EXPECT_EQ(last, 100) << r.out;
    EXPECT_EQ(statuses,
              (std::set<std::string>{"a: up to date", "b: rendered", "c: rendered", "bad: failed"}))
        << r.out;
    // The people's lines went to standard error.
    EXPECT_TRUE(Has(r.err, "2 of 4 jobs rendered, 1 up to date; failed: bad")) << r.err;
  }
}

TEST(FarmWorker, AutoShardsRenderWhatTheSchedulersTaskNumberNames) {
  TempRoot root("autoshard");
  ManyJobs(root, "j", 8);
  auto render = [&](const std::string& env, const std::string& shard, const std::string& out) {
    const CliRun r = Cli(root,
                         "render --all --quiet --root " + Quote(root.str()) + " --out " +
                             Quote(root / out) + " --shard " + shard,
                         "", SchedulerEnv(env));
    EXPECT_EQ(r.status, 0) << env << " " << shard << ": " << r.err;
    return Sprites(root / out);
  };
  const auto third = render("", "3/4", "expected");
  ASSERT_FALSE(third.empty()) << "shard 3 of 4 holds none of the jobs";
  for (const char* env : {"SLURM_ARRAY_TASK_ID=3", "SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_MIN=0",
                          "JOB_COMPLETION_INDEX=2", "QUARVEL_SHARD_INDEX=2"})
    EXPECT_EQ(render(env, "auto/4", "auto"), third) << env;
  EXPECT_EQ(render("QUARVEL_SHARD_INDEX=2 QUARVEL_SHARD_COUNT=4", "auto", "auto"), third);
  const CliRun missing = Cli(root, "render --all --root " + Quote(root.str()) + " --shard auto/4",
                             "", SchedulerEnv(""));
  EXPECT_EQ(missing.status, 2) << missing.err;
}

// The scheduler definitions of examples/farm, run as their schedulers would run them: the
// command line each gives, once per task with the variables the scheduler sets.
struct TFarmExample {
  std::vector<std::vector<std::string>> Tasks; // the arguments after quarvel-cli, per task
  std::vector<std::string> Env;                // the variables, per task
};

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const size_t start = text.find(from);
  if (start == std::string::npos)
    return "";
  const size_t begin = start + from.size();
  return text.substr(begin, text.find(to, begin) - begin);
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
  for (size_t at; (at = text.find(what)) != std::string::npos;)
    text.replace(at, what.size(), with);
  return text;
}

// The words of the example's command line, with its folders as `root` and `out`.
std::vector<std::string> Words(const nlohmann::json& list, const std::string& root,
                               const std::string& out) {
  std::vector<std::string> words;
  for (const auto& w : list)
    words.push_back(w.get<std::string>());
  for (std::string& w : words)
    for (const auto& [what, with] : {std::pair<std::string, std::string>{"/art", root},
                                     {"/out", out},
                                     {"/srv/art", root},
                                     {"/srv/out", out},
                                     {"{{Param.ArtDir}}", root},
                                     {"{{Param.OutDir}}", out}})
      if (w == what)
        w = with;
  return words;
}

TFarmExample ReadFarmExample(const std::string& file, const std::string& root,
                             const std::string& out) {
  const std::vector<uint8_t> bytes = ReadBytes(std::string(QUARVEL_SOURCE_DIR) + "/" + file);
  const std::string text(bytes.begin(), bytes.end());
  TFarmExample e;
  if (file.find("kubernetes") != std::string::npos) {
    const nlohmann::json command = nlohmann::json::parse(Between(text, "command: ", "\n"));
    EXPECT_EQ(command.at(0), "quarvel-cli");
    const std::vector<std::string> args =
        Words(nlohmann::json(command.begin() + 1, command.end()), root, out);
    for (int i = 0; i < std::stoi(Between(text, "completions: ", "\n")); ++i) {
      e.Tasks.push_back(args);
      e.Env.push_back("JOB_COMPLETION_INDEX=" + std::to_string(i));
    }
    // The statuses that fail an index at once, and the one retried.
    EXPECT_EQ(Between(Between(text, "action: FailIndex", "action:"), "values: ", "\n"), "[1, 2]");
    EXPECT_EQ(Between(Between(text, "action: Count", "action:"), "values: ", "\n"), "[3]");
  } else if (file.find("openjd") != std::string::npos) {
    EXPECT_EQ(Between(text, "command: ", "\n"), "quarvel-cli");
    const std::vector<std::string> args =
        Words(nlohmann::json::parse(Between(text, "args: ", "\n")), root, out);
    const std::string range = Between(text, "range: \"", "\"");
    const int first = std::stoi(range), last = std::stoi(range.substr(range.find('-') + 1));
    for (int shard = first; shard <= last; ++shard) {
      e.Tasks.push_back(args);
      for (std::string& w : e.Tasks.back())
        w = Replaced(w, "{{Task.Param.Shard}}", std::to_string(shard));
      e.Env.push_back("");
    }
  } else {
    EXPECT_EQ(Between(text, "executable   = ", "\n"), "/usr/bin/quarvel-cli");
    nlohmann::json args = nlohmann::json::array();
    std::istringstream words(Between(text, "arguments    = \"", "\""));
    for (std::string w; words >> w;)
      args.push_back(w);
    const std::string env = Between(text, "environment  = \"", "\"");
    for (int i = 0; i < std::stoi(Between(text, "\nqueue ", "\n")); ++i) {
      e.Tasks.push_back(Words(args, root, out));
      e.Env.push_back(Replaced(env, "$(Process)", std::to_string(i)));
    }
  }
  return e;
}

TEST(FarmExamples, EachSchedulersDefinitionRendersEveryJobOnceAsOneRenderDoes) {
  TempRoot root("farmexamples");
  const std::vector<std::string> jobs = ManyJobs(root, "u", 6);
  ASSERT_EQ(Cli(root, "render --all --quiet --root " + Quote(root.str()) + " --out " +
                          Quote(root / "one"))
                .status,
            0);
  for (const char* file :
       {"examples/farm/kubernetes-indexed-job.yaml", "examples/farm/openjd-job-template.yaml",
        "examples/farm/htcondor.sub"}) {
    SCOPED_TRACE(file);
    const std::string out = root / (std::filesystem::path(file).stem().string() + "-out");
    const TFarmExample example = ReadFarmExample(file, root.str(), out);
    ASSERT_EQ(example.Tasks.size(), 4u);
    size_t rendered = 0;
    for (size_t t = 0; t < example.Tasks.size(); ++t) {
      std::string args;
      for (const std::string& w : example.Tasks[t])
        args += " " + Quote(w);
      const CliRun r = Cli(root, args, "", SchedulerEnv(example.Env[t]));
      EXPECT_EQ(r.status, 0) << args << "\n" << r.out << r.err;
      std::smatch m;
      const std::string said = r.out + r.err;
      if (std::regex_search(said, m, std::regex("([0-9]+) of ([0-9]+) jobs? rendered"))) {
        EXPECT_EQ(m[1], m[2]) << said;
        rendered += std::stoul(m[2]);
      }
    }
    EXPECT_EQ(rendered, jobs.size()); // each job in one task only
    EXPECT_EQ(Sprites(out), Sprites(root / "one"));
  }
}

} // namespace
} // namespace quarvel::test
