// Capture and replay in the console session: the record and replay buttons, the Replay Menu with
// the BOOT and FAULT buffers, and the link between the bit reader's refills, the capture file and
// the replay source.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Strings.h"
#include "platform/Trace.h"
#include "session/RemCons.h"

namespace remcons {
namespace {

Host::FileDialog CaptureFileDialog(bool save) {
  Host::FileDialog dialog;
  dialog.title = save ? "Capture File" : "Replay File";
  dialog.save = save;
  dialog.filters = {"All (*)", "Text (*.KRO)"};
  dialog.defaultSuffix = kCaptureExtension;
  return dialog;
}

// The texts of the buffer retrieval, by buffer.
struct BufferTexts {
  const char* prefix;
  const char* label;
  const char* caption;
  const char* noPath;
  const char* noFile;
  const char* notAvailable;
  const char* notAvailableCaption;
  const char* notAvailableJa;
  const char* notAvailableCaptionJa;
};

constexpr BufferTexts kBootTexts = {"bot",
                                    "BOOT Buffer",
                                    "Retrieve BOOT data",
                                    "Cannot get path for temporary boot data file",
                                    "Cannot Create temporary file for boot data",
                                    "BOOT Data not available",
                                    "Retrieve BOOT data",
                                    "起動データは利用できません",
                                    "起動データの取得"};
constexpr BufferTexts kFaultTexts = {"flt",
                                     "FAULT Buffer",
                                     "Retrieve FAULT data",
                                     "Cannot get path for temporary fault data file",
                                     "Cannot Create temporary file for fault data",
                                     "Fault Data not available",
                                     "Retrieve Fault data",
                                     "障害データは利用できません",
                                     "障害データの取得"};

}  // namespace

// What the bit reader's refills and the replay reach of the session.
class CRemCons::CaptureLink : public ReplayLink, public RefillObserver {
 public:
  explicit CaptureLink(CRemCons& owner) : owner_(owner) {}

  // --- RefillObserver (console thread) ---
  void OnRefill(const uint8_t* data, int length) override {
    // Only what the connection brought is recorded.
    if (!owner_.Replaying() && owner_.recorder_->IsOpen()) {
      owner_.recorder_->Append(static_cast<uint32_t>(owner_.decoder_->state()),
                               owner_.clock_->NowMs(), data, static_cast<uint32_t>(length));
    }
    owner_.RelayChunk(data, length);
  }

  // --- ReplayLink (console thread) ---
  bool ReplayFlag() override { return owner_.Replaying(); }
  bool Playing() override { return owner_.menuBar_->IsPlaying(); }
  bool RewindRequested() override { return owner_.menuBar_->StopRequested(); }
  int Speed() override { return owner_.menuBar_->SpeedIndex(); }
  void Rewound() override { owner_.menuBar_->ReplayRewound(); }
  int DrainLive() override {
    CNet* connection = owner_.connection_.get();
    if (!connection || connection->BytesAvailable() <= 0) return 0;
    // Read, so that the live stream's keystream keeps step, and dropped.
    return std::max(connection->Read(scratch_, sizeof scratch_), 0);
  }
  void ShowElapsed(double seconds) override {
    char text[RemConsProperties::kTextSize];
    std::snprintf(text, sizeof text, LoadString(kStrElapsedTime), seconds);
    owner_.StoreStatusText(text);
    owner_.SendMessage(kMsgStatus);
  }

 private:
  CRemCons& owner_;
  uint8_t scratch_[BitReader::kBufferSize];
};

void CRemCons::CaptureLinkDeleter::operator()(CaptureLink* link) const {
  delete link;
}

void CRemCons::SetUpCapture(const SessionEnvironment& environment) {
  captureLink_.reset(new CaptureLink(*this));
  recorder_ = std::make_unique<CaptureRecorder>();
  replay_ = std::make_unique<ReplaySource>(*captureLink_, *clock_, stop_);
  bufferConnector_ = environment.bufferConnector ? environment.bufferConnector : ConnectBufferLink;
  tempFolder_ = environment.tempFolder;
  decoder_->reader().SetRefillObserver(captureLink_.get());
  SetReplaySource(replay_.get());
}

// ---------------------------------------------------------------------------------------------
// Capture

int CRemCons::CreateCapture(const std::string& path) {
  int error = 0;
  switch (recorder_->Create(path, props_.serverName, &error)) {
    case CaptureRecorder::kOk:
      RC_TRACE("CRemCons: capturing to %s\n", path.c_str());
      return 0;
    case CaptureRecorder::kCannotCreate:
      ShowMessage(std::strerror(error), "File Save Error", kMbOk | kMbIconError);
      return -5;
    case CaptureRecorder::kCannotWriteHeader:
      ShowMessage("Cannot write capture file header", "File Write Error", kMbOk | kMbIconError);
      return -6;
  }
  return -5;
}

bool CRemCons::StartCapture() {
  if (!recorder_ || Capturing()) return false;
  const std::optional<std::string> path = host_->ChooseFile(CaptureFileDialog(true));
  if (!path) return false;
  return CreateCapture(*path) == 0;
}

int CRemCons::CaptureToFile(const std::string& path) {
  if (!recorder_ || !menuBar_) return -5;
  if (Capturing()) StopCapture();
  const int result = CreateCapture(path);
  if (result != 0) return result;
  menuBar_->SetRecording(true);
  // The capture begins with a whole screen.
  DoCommand(kCommandRefresh);
  return 0;
}

void CRemCons::StopCapture() {
  if (!recorder_) return;
  RC_TRACE("CRemCons: capture stopped after %llu records\n",
           static_cast<unsigned long long>(recorder_->records()));
  recorder_->Close();
  if (menuBar_ && menuBar_->IsRecording()) menuBar_->SetRecording(false);
}

// ---------------------------------------------------------------------------------------------
// Replay

int CRemCons::OpenForReplay(const std::string& path) {
  int error = 0;
  std::string why;
  switch (replay_->Open(path, &error, &why)) {
    case ReplaySource::kOk:
      return 0;
    case ReplaySource::kCannotOpen:
      ShowMessage(std::strerror(error), "File Open Error", kMbOk | kMbIconError);
      return -5;
    case ReplaySource::kCannotReadHeader:
      RC_TRACE("CRemCons: %s: %s\n", path.c_str(), why.c_str());
      ShowMessage("Cannot read file header", "File Read Error", kMbOk | kMbIconError);
      return -6;
  }
  return -5;
}

void CRemCons::BeginReplay(const std::string& title) {
  menuBar_->StartReplay(title);
  // The console thread may be waiting for the live stream: what the server sends for this request
  // lets it come round to the replay.
  DoCommand(kCommandRefresh);
}

int CRemCons::ReplayFile(const std::string& path) {
  if (!replay_ || !menuBar_ || Replaying()) return -5;
  const int result = OpenForReplay(path);
  if (result != 0) return result;
  const size_t slash = path.find_last_of('/');
  BeginReplay(slash == std::string::npos ? path : path.substr(slash + 1));
  return 0;
}

void CRemCons::LeaveReplay() {
  if (!replay_ || !menuBar_) return;
  if (menuBar_->IsReplaying()) menuBar_->EndReplayDisplay();
  replaying_ = false;
  DoCommand(kCommandRefresh);
  DoCommand(kCommandResetDecoder);
  replay_->Close();
  if (Capturing()) StopCapture();
  menuBar_->Redraw();
}

void CRemCons::OpenReplayMenu() {
  if (!menuBar_) return;
  std::weak_ptr<int> alive = alive_;
  const bool shown = host_->ShowReplayMenu([this, alive](int choice) {
    if (alive.lock()) ReplayMenuChoice(choice);
  });
  if (!shown) menuBar_->SetReplayMenuClosed();
}

void CRemCons::ReplayMenuChoice(int choice) {
  switch (choice) {
    case 240:
      ReplayBuffer(BufferType::kBoot);
      break;
    case 241:
      ReplayBuffer(BufferType::kFault);
      break;
    case 242:
      if (const std::optional<std::string> path = host_->ChooseFile(CaptureFileDialog(false))) {
        ReplayFile(*path);
      }
      break;
    default:
      break;
  }
  if (menuBar_) menuBar_->SetReplayMenuClosed();
}

bool CRemCons::ReplayBuffer(BufferType type) {
  if (!replay_ || !menuBar_ || Replaying()) return false;
  const BufferTexts& t = type == BufferType::kBoot ? kBootTexts : kFaultTexts;
  std::vector<uint8_t> buffer;
  if (std::unique_ptr<BufferLink> link = bufferConnector_(props_.target, menuBar_->scrPort())) {
    buffer = RetrieveBuffer(type, *link);
  } else {
    RC_TRACE("Connect error\n");
  }
  if (!buffer.empty()) {
    const std::string folder = tempFolder_.empty() ? TempFolder() : tempFolder_;
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
      RC_TRACE("GetTempPath failed with error %d.\n", errno);
      ShowMessage(t.noPath, t.caption, kMbOk | kMbIconWarning);
      return false;
    }
    const std::string path = MakeTempFile(folder, t.prefix);
    if (path.empty()) {
      ShowMessage(t.noFile, t.caption, kMbOk | kMbIconWarning);
      return false;
    }
    int result = WriteTempFile(path, buffer);
    if (result == -5) ShowMessage(std::strerror(errno), "File Create Error", kMbOk | kMbIconError);
    if (result == -4) RC_TRACE("Error writing capture data to temp file\n");
    if (result == 0) result = OpenForReplay(path);
    if (result == 0) {
      bufferFile_ = path;
      BeginReplay(t.label);
      return true;
    }
  }
  const bool ja = JapaneseForms();
  ShowMessage(ja ? t.notAvailableJa : t.notAvailable,
              ja ? t.notAvailableCaptionJa : t.notAvailableCaption, kMbOk | kMbIconWarning);
  replay_->Close();
  return false;
}

}  // namespace remcons
