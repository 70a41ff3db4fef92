// remcons-tool replay CAPTURE OUT.png [--frames DIR] [--speed N] [--video OUT.mp4|OUT.webm]:
// plays a capture file or a BOOT/FAULT buffer through the console's decoder without a server and
// writes the last picture. --frames writes one PNG per change of the picture into DIR, named by
// the recorded time it appeared at (SSSSSS.mmm.png, gaps capped at 5 s as the console's replay
// caps them); --video makes a video of the pictures at the recorded pace (N times faster with
// --speed N: 1, 2, 4 or 8) through the ffmpeg program, 10 pictures a second. On a terminal a
// progress line shows how far it has come.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "CaptureTool.h"
#include "Tool.h"
#include "capture/BufferRetrieval.h"
#include "platform/Png.h"

namespace remcons::tool {
namespace {

constexpr int kVideoFps = 10;

struct Picture {
  uint64_t ms;
  std::string path;
};

int Usage() {
  std::fprintf(stderr,
               "usage: remcons-tool replay CAPTURE OUT.png [--frames DIR] [--speed 1|2|4|8] "
               "[--video OUT.mp4|OUT.webm]\n");
  return 2;
}

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

std::string PictureName(uint64_t ms) {
  char name[40];
  std::snprintf(name, sizeof name, "%06llu.%03llu.png", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  return name;
}

// The concat list of the pictures with how long each shows; the last one listed twice, which is
// how the list gives the last picture its time. The video's length in seconds, 0 when the list
// cannot be written.
double WriteVideoList(const std::string& list, const std::vector<Picture>& pictures, uint64_t endMs,
                      int speed) {
  std::ofstream out(list);
  double total = 0;
  out << "ffconcat version 1.0\n";
  for (size_t i = 0; i < pictures.size(); ++i) {
    const uint64_t until = i + 1 < pictures.size() ? pictures[i + 1].ms : endMs;
    double seconds = static_cast<double>(until - pictures[i].ms) / 1000.0 / speed;
    // The last picture shows for at least one video frame.
    if (i + 1 == pictures.size()) seconds = std::max(seconds, 1.0 / kVideoFps);
    total += seconds;
    std::string quoted;
    for (char c : pictures[i].path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out << "file '" << quoted << "'\nduration " << seconds << "\n";
    if (i + 1 == pictures.size()) out << "file '" << quoted << "'\n";
  }
  return out.flush() ? total : 0;
}

// Runs ffmpeg over the list, the video cut at seconds; false with a reason.
bool MakeVideo(const std::string& list, double seconds, const std::string& video,
               std::string* why) {
  std::vector<std::string> args = {
      "ffmpeg",    "-hide_banner",
      "-loglevel", "error",
      "-nostdin",  "-y",
      "-f",        "concat",
      "-safe",     "0",
      "-i",        list,
      "-vf",       "fps=" + std::to_string(kVideoFps) + ",pad=ceil(iw/2)*2:ceil(ih/2)*2",
      "-pix_fmt",  "yuv420p",
      "-t",        std::to_string(seconds)};
  if (EndsWith(video, ".webm")) {
    for (const char* a : {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8",
                          "-row-mt", "1", "-b:v", "0", "-crf", "35"}) {
      args.emplace_back(a);
    }
  } else {
    for (const char* a : {"-c:v", "libx264", "-preset", "veryfast", "-crf", "23"}) {
      args.emplace_back(a);
    }
  }
  args.push_back(video);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    *why = std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    *why = "the ffmpeg program is needed for --video (Debian: apt-get install ffmpeg)";
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *why = "ffmpeg failed";
    return false;
  }
  return true;
}

int Replay(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  std::string framesDir, video;
  int speed = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--frames" && hasValue) {
      framesDir = args[++i];
    } else if (a == "--video" && hasValue) {
      video = args[++i];
      if (!EndsWith(video, ".mp4") && !EndsWith(video, ".webm")) return Usage();
    } else if (a == "--speed" && hasValue) {
      const std::string& n = args[++i];
      if (n != "1" && n != "2" && n != "4" && n != "8") return Usage();
      speed = std::stoi(n);
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return Usage();

  CaptureReader reader;
  if (!OpenCapture(files[0], reader)) return 1;
  // A video needs the pictures as files: in a folder of their own when none was given.
  std::string dir = framesDir;
  const bool ownDir = dir.empty() && !video.empty();
  if (ownDir) {
    std::string pattern = TempFolder() + "/remcons-frames-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::fprintf(stderr, "remcons-tool: cannot make a folder for the pictures: %s\n",
                   std::strerror(errno));
      return 1;
    }
    dir = pattern;
  } else if (!dir.empty() && ::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "remcons-tool: cannot make %s: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }

  // The video's list names the pictures by their full paths.
  if (!video.empty()) {
    char full[PATH_MAX];
    if (realpath(dir.c_str(), full)) dir = full;
  }

  std::vector<Picture> pictures;
  std::string error;
  OfflinePlayer::PictureSink sink;
  if (!dir.empty()) {
    sink = [&](uint64_t ms, const Surface& picture) {
      Picture p{ms, dir + "/" + PictureName(ms)};
      if (!WritePng(p.path, picture, &error)) return false;
      // Of pictures shown at one time only the last is seen.
      if (!pictures.empty() && pictures.back().ms == ms) pictures.pop_back();
      pictures.push_back(std::move(p));
      return true;
    };
  }
  const bool terminal = isatty(STDERR_FILENO);
  int shown = -1;
  auto progress = [&](uint64_t offset, uint64_t size) {
    const int percent = size ? static_cast<int>(offset * 100 / size) : 100;
    if (!terminal || percent == shown) return;
    shown = percent;
    std::fprintf(stderr, "\rreplay: %3d%%", percent);
  };
  OfflinePlayer player(reader);
  const bool played = player.Play(sink, progress);
  if (terminal && shown >= 0) std::fprintf(stderr, "\rreplay: 100%%\n");
  if (!played) {
    std::fprintf(stderr, "remcons-tool: %s\n",
                 error.empty() ? "the decoder's frame could not be made" : error.c_str());
    return 1;
  }
  const PlayerSummary& s = player.summary();
  if (s.end != CaptureReader::Next::kEnd) {
    std::fprintf(stderr, "remcons-tool: played up to the end of its records: %s\n",
                 EndOfRecords(s).c_str());
  }
  if (!WritePng(files[1], player.picture(), &error)) {
    std::fprintf(stderr, "remcons-tool: cannot write %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "remcons-tool: %llu records, %.3f s recorded, %zu pictures\n",
               static_cast<unsigned long long>(s.records), static_cast<double>(s.replayMs) / 1000,
               pictures.size());

  int status = 0;
  if (!video.empty()) {
    const std::string list = dir + "/pictures.ffconcat";
    std::string why;
    double seconds = 0;
    if (pictures.empty()) {
      why = "the records hold no picture";
    } else if ((seconds = WriteVideoList(list, pictures, s.replayMs, speed)) <= 0) {
      why = "cannot write " + list;
    } else if (terminal) {
      std::fprintf(stderr, "replay: making %s\n", video.c_str());
    }
    if (why.empty() && MakeVideo(list, seconds, video, &why)) {
      std::fprintf(stderr, "remcons-tool: %s: %.3f s\n", video.c_str(), seconds);
    } else {
      std::fprintf(stderr, "remcons-tool: no video: %s\n", why.c_str());
      status = 1;
    }
    ::unlink(list.c_str());
  }
  if (ownDir) {
    for (const Picture& p : pictures) ::unlink(p.path.c_str());
    ::rmdir(dir.c_str());
  }
  return status;
}

const Registration kReplay("replay",
                           "replay CAPTURE OUT.png [--frames DIR] [--speed 1|2|4|8] "
                           "[--video OUT.mp4|OUT.webm]",
                           Replay);

}  // namespace
}  // namespace remcons::tool
