// Virtual media throughput and folder volume build time, each against a reference:
// - a 700 MB ISO served to the simulator's initiator with 64-block READ(10)s over loopback,
//   against nbdcopy reading the same file from nbdkit with one 128 KiB request in flight;
// - building the FAT volume of a 2,000-file, 200 MB folder, against find -printf '%s\n';
// - hostile folders: 8,000 names of one long form, and 38 levels of folders each linked twice
//   (refused after reading 39 folders).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "sim/VmInitiator.h"
#include "vmedia/FATFile.h"
#include "vmedia/VMConnection.h"

namespace remcons {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/remcons-vmbench-XXXXXX";
    path_ = ::mkdtemp(pattern) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// A file of size bytes made of a repeated random megabyte (not sparse: real pages to read).
bool MakeFile(const std::string& path, uint64_t size) {
  std::vector<uint8_t> block(1 << 20);
  std::mt19937 rng(7);
  for (auto& b : block) b = uint8_t(rng());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  for (uint64_t done = 0; done < size; done += block.size()) {
    const size_t n = size_t(std::min<uint64_t>(block.size(), size - done));
    if (std::fwrite(block.data(), 1, n, f) != n) {
      std::fclose(f);
      return false;
    }
  }
  return std::fclose(f) == 0;
}

// Seconds for the initiator to read the whole image, 64 blocks per READ(10).
double ServeIso(const std::string& iso, uint64_t* bytes) {
  sim::VmSimOptions options;
  options.enabled = true;
  for (int i = 0; i < 16; ++i) options.key[size_t(i)] = uint8_t(i);
  options.blocks = 64;
  options.pings = 0;
  sim::VmSimServer server(options);
  double seconds = -1;
  server.SetSessionHandler([&](sim::VmInitiator& in) {
    const auto start = Clock::now();
    auto summary = in.RunScript(options);
    seconds = Seconds(start, Clock::now());
    *bytes = summary.ok ? summary.bytesRead : 0;
  });
  if (!server.Start()) return -1;
  VMConnection::ResetHandshakeChain();
  FixedTargetChooser chooser(iso);
  VmConnectionSettings settings;
  settings.server = "127.0.0.1";
  settings.port = server.Port();
  settings.key = options.key;
  settings.chooser = &chooser;
  VMConnection connection(VmKind::CdImage, settings);
  if (connection.Connect("x") != 0) return -1;
  server.WaitSessions(1, 600000);
  connection.Disconnect();
  return seconds;
}

// Seconds for nbdcopy to read the file from nbdkit, one 128 KiB request at a time.
double NbdCopy(const std::string& file) {
  const std::string command = "nbdkit -U - file '" + file +
                              "' --run 'nbdcopy --requests=1 --request-size=131072 \"$uri\" "
                              "/dev/null' >/dev/null 2>&1";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = Seconds(start, Clock::now());
  return status == 0 ? seconds : -1;
}

void BM_IsoOverLoopbackAgainstNbd(benchmark::State& state) {
  if (!HaveTool("nbdkit") || !HaveTool("nbdcopy")) {
    state.SkipWithError("nbdkit and nbdcopy are needed for the reference");
    return;
  }
  TempDir dir;
  const std::string iso = dir.path() + "/install.iso";
  const uint64_t size = 700ull << 20;
  if (!MakeFile(iso, size)) {
    state.SkipWithError("cannot create the image");
    return;
  }
  NbdCopy(iso);  // both read from the page cache
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    uint64_t bytes = 0;
    const double s = ServeIso(iso, &bytes);
    const double n = NbdCopy(iso);
    if (s <= 0 || n <= 0 || bytes != size) {
      state.SkipWithError("a transfer failed");
      return;
    }
    ours += s;
    theirs += n;
    state.SetIterationTime(s);
  }
  const double mb = double(size) / 1e6 * double(state.iterations());
  state.counters["vmedia_MBps"] = mb / ours;
  state.counters["nbd_MBps"] = mb / theirs;
  state.counters["ratio"] = (mb / ours) / (mb / theirs);
  state.SetBytesProcessed(int64_t(size) * int64_t(state.iterations()));
}
BENCHMARK(BM_IsoOverLoopbackAgainstNbd)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_FolderVolumeAgainstFind(benchmark::State& state) {
  TempDir dir;
  const std::string src = dir.path() + "/src";
  // 2,000 files of 100 KiB (200 MB) in 20 folders; sparse, as the build never reads them.
  for (int d = 0; d < 20; ++d) {
    const std::string sub = src + "/folder" + std::to_string(d);
    fs::create_directories(sub);
    for (int i = 0; i < 100; ++i) {
      const std::string path = sub + "/file-" + std::to_string(i) + ".dat";
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || ::ftruncate(fd, 100 * 1024) != 0) {
        state.SkipWithError("cannot create the folder");
        return;
      }
      ::close(fd);
    }
  }
  const std::string find = "find '" + src + "' -printf '%s\\n' >/dev/null";
  std::system(find.c_str());  // warm the caches for both
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    auto image = FATFile::Create(src);
    const double s = Seconds(start, Clock::now());
    benchmark::DoNotOptimize(image->ClustersUsed());
    start = Clock::now();
    if (std::system(find.c_str()) != 0) {
      state.SkipWithError("find failed");
      return;
    }
    const double f = Seconds(start, Clock::now());
    ours += s;
    theirs += f;
    state.SetIterationTime(s);
  }
  state.counters["build_ms"] = ours * 1000 / double(state.iterations());
  state.counters["find_ms"] = theirs * 1000 / double(state.iterations());
  state.counters["ratio"] = ours / theirs;
}
BENCHMARK(BM_FolderVolumeAgainstFind)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

void BM_FolderOfCollidingNames(benchmark::State& state) {
  TempDir dir;
  // Three stray continuation bytes each: 8,000 names that all become "n\uFFFD\uFFFD\uFFFD.t".
  fs::create_directories(dir.path() + "/sub");
  for (int i = 0; i < 8000; ++i) {
    const char name[] = {
        'n', char(0x80 + i % 20), char(0x80 + i / 20 % 20), char(0x80 + i / 400), '.', 't', 0};
    const int fd = ::open((dir.path() + "/sub/" + name).c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) ::close(fd);
  }
  for (auto _ : state) {
    auto image = FATFile::Create(dir.path());
    benchmark::DoNotOptimize(image->ClustersUsed());
  }
}
BENCHMARK(BM_FolderOfCollidingNames)->Unit(benchmark::kMillisecond);

void BM_FolderOfLinkFanOut(benchmark::State& state) {
  TempDir dir;
  std::string at = dir.path();
  for (int i = 0; i < 38; ++i, at += "/n") {
    fs::create_directories(at + "/n");
    fs::create_directory_symlink("n", at + "/l");
  }
  for (auto _ : state) {
    try {
      FATFile image(dir.path());
      state.SkipWithError("accepted");
      return;
    } catch (const FATFile::Error& e) {
      benchmark::DoNotOptimize(e.code());
    }
  }
}
BENCHMARK(BM_FolderOfLinkFanOut)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace remcons

BENCHMARK_MAIN();
