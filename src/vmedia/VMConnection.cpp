#include "vmedia/VMConnection.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "platform/Host.h"
#include "platform/Socket.h"
#include "platform/Strings.h"
#include "platform/Trace.h"
#include "vmedia/FATFile.h"
#include "vmedia/ScsiCdImage.h"
#include "vmedia/ScsiCdrom.h"
#include "vmedia/ScsiFloppy.h"
#include "vmedia/VmText.h"

namespace remcons {
namespace {

std::mutex& ChainMutex() {
  static std::mutex m;
  return m;
}
Md5::Digest& Chain() {
  static Md5::Digest chain{};
  return chain;
}

bool IsIso(const std::string& path) {
  return vm::UpperAscii(path).find(".ISO") != std::string::npos;
}

}  // namespace

const char* VmKindName(VmKind kind) {
  switch (kind) {
    case VmKind::FloppyDrive:
      return "FloppyDrive";
    case VmKind::CdromDrive:
      return "CdromDrive";
    case VmKind::ImageFile:
      return "ImageFile";
    case VmKind::FloppyImage:
      return "FloppyImage";
    case VmKind::CdImage:
      return "CdImage";
    case VmKind::LargeDisk:
      return "LargeDisk";
    case VmKind::Folder:
      return "Folder";
  }
  return "Unknown";
}

VMConnection::VMConnection(VmKind kind, VmConnectionSettings settings)
    : settings_(std::move(settings)), requestedKind_(kind), deviceKind_(kind) {}

VMConnection::~VMConnection() {
  Close();
}

void VMConnection::ResetHandshakeChain() {
  std::lock_guard lock(ChainMutex());
  Chain().fill(0);
}

Md5::Digest VMConnection::HandshakeChain() {
  std::lock_guard lock(ChainMutex());
  return Chain();
}

uint8_t VMConnection::ClassByte(VmKind kind) {
  switch (kind) {
    case VmKind::FloppyDrive:
    case VmKind::FloppyImage:
      return 1;
    case VmKind::CdromDrive:
    case VmKind::CdImage:
      return 2;
    default:
      return 3;
  }
}

std::string VMConnection::RefusalText(uint8_t status) {
  switch (status) {
    case 0x21:
      return LoadString(kStrDriveInUse);
    case 0x22:
      return LoadString(kStrInvalidSessionKey);
    case 0x24:
      return LoadString(kStrSessionKeyExpired);
    case 0x25:
      return LoadString(kStrDriveNotConfigured);
    case 0x26:
      return LoadString(kStrPermissionRequired);
    default:
      return LoadString(kStrCannotConnectDrive);
  }
}

std::string VMConnection::LastMessage() const {
  std::lock_guard lock(mutex_);
  return lastMessage_;
}

void VMConnection::SetServeEndedCallback(std::function<void(const std::string&)> callback) {
  std::lock_guard lock(mutex_);
  onEnded_ = std::move(callback);
}

void VMConnection::ShowMessage(const std::string& text, const std::string& caption,
                               uint32_t style) {
  {
    std::lock_guard lock(mutex_);
    lastMessage_ = text;
  }
  RC_TRACE("%s\n", text.c_str());
  if (settings_.host) settings_.host->MessageBox(text, caption, style);
}

bool VMConnection::IsConnected() const {
  std::lock_guard lock(mutex_);
  return socket_ && !socket_->IsClosed();
}

// ---- Choosing the medium ----

uint64_t VMConnection::ProbeMediaSize(int* openError) {
  if (openError) *openError = 0;
  if (target_.empty()) {
    RC_TRACE("VMConnection: Target must be non-null.\n");
    return 0;
  }
  CMedia media(settings_.roots);
  if (media.Open(target_) != 0) {
    RC_TRACE("VMConnection: Unable to open %s.\n", target_.c_str());
    if (openError) *openError = media.LastOpenError();
    return 0;
  }
  const uint64_t size = media.GetSize();
  media.Release();
  return size;
}

bool VMConnection::ChooseTarget() {
  std::string path;
  switch (requestedKind_) {
    case VmKind::FloppyDrive: {
      int openError = 0;
      const uint64_t size = ProbeMediaSize(&openError);
      if (openError == EBUSY) {
        // Mounted or held on this computer: serving it could corrupt it, and showing it as an
        // empty drive would only puzzle the user.
        ShowMessage(vm::FormatText("The drive %s is in use on this computer. Unmount it here "
                                   "first.",
                                   target_.c_str()),
                    "Error", kMbOk | kMbIconError);
        return false;
      }
      if (size > kFloppyDriveLimit) {
        requestedKind_ = VmKind::LargeDisk;
        deviceKind_ = VmKind::LargeDisk;
      } else {
        deviceKind_ = VmKind::FloppyDrive;
      }
      return true;
    }
    case VmKind::CdromDrive:
    case VmKind::LargeDisk:
      deviceKind_ = requestedKind_;
      return true;
    case VmKind::ImageFile:
      if (!settings_.chooser || !settings_.chooser->ChooseImageFile(&path)) return false;
      // Paths keep their case on Linux; the ".ISO" rule compares without it.
      target_ = path;
      RC_TRACE("GetOpen:%s\n", target_.c_str());
      if (IsIso(target_)) {
        ShowMessage(LoadString(kStrInvalidImageType), "Error", kMbOk);
        return false;
      }
      {
        int openError = 0;
        const uint64_t size = ProbeMediaSize(&openError);
        if (FileInUse(openError)) return false;
        deviceKind_ = size <= kFloppyImageLimit ? VmKind::FloppyImage : VmKind::LargeDisk;
      }
      return true;
    case VmKind::CdImage:
      if (!settings_.chooser || !settings_.chooser->ChooseCdImage(&path)) return false;
      target_ = path;
      RC_TRACE("GetOpen:%s\n", target_.c_str());
      if (!IsIso(target_)) {
        ShowMessage(LoadString(kStrInvalidImageType), "Error", kMbOk);
        return false;
      }
      {
        int openError = 0;
        ProbeMediaSize(&openError);
        if (FileInUse(openError)) return false;
      }
      deviceKind_ = VmKind::CdImage;
      return true;
    case VmKind::Folder:
      if (!settings_.chooser || !settings_.chooser->ChooseFolder(&path)) return false;
      deviceKind_ = VmKind::Folder;
      if (path.empty()) {
        ShowMessage(LoadString(kStrCannotMountFolder), "Warning", kMbOk | kMbIconWarning);
        return false;
      }
      target_ = path;
      return OpenFolder();
    default:
      return false;
  }
}

bool VMConnection::FileInUse(int openError) {
  if (openError != EBUSY) return false;
  // Served by another mount, or locked by a program writing it: serving it could corrupt it.
  ShowMessage(vm::FormatText("The file %s is in use on this computer.", target_.c_str()), "Error",
              kMbOk | kMbIconError);
  return true;
}

bool VMConnection::OpenFolder() {
  const int fd = ::open(target_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    RC_TRACE("VMConnection: Error 0x%08lx attempting to open %s.\n", long(errno), target_.c_str());
    std::string text = vm::FormatText("Unable to open folder %s.", target_.c_str());
    if (text.size() > 127) text.resize(127);
    ShowMessage(text, "Error", kMbOk | kMbIconError);
    return false;
  }
  ::close(fd);
  folderImage_.reset();
  folderLinksLeftOut_ = 0;
  try {
    folderImage_ = FATFile::Create(target_, settings_.followLinks);
  } catch (const FATFile::Error& e) {
    ShowMessage(e.Message(), "Error", kMbOk | kMbIconError);
    return false;
  } catch (const std::bad_alloc&) {
    ShowMessage("Memory allocation error has occurred.", "Error", kMbOk | kMbIconError);
    return false;
  } catch (const std::exception& e) {
    // Whatever else goes wrong refuses this folder, never the whole process.
    RC_TRACE("VMConnection: %s while mapping %s\n", e.what(), target_.c_str());
    ShowMessage(FATFile::Error(0, 0).Message(), "Error", kMbOk | kMbIconError);
    return false;
  }
  folderLinksLeftOut_ = folderImage_->LinksLeftOut();
  return true;
}

// ---- Connecting ----

int VMConnection::Connect(const std::string& drive) {
  // A previous mount must be over before its objects are reused.
  StopServing();
  {
    std::lock_guard lock(mutex_);
    if (closed_) return kCancelled;
    socket_.reset();
    lastMessage_.clear();
    unmountRequested_ = false;
    connecting_ = true;
    abandoned_ = false;
  }
  const int result = ConnectAndHello(drive);
  std::lock_guard lock(mutex_);
  connecting_ = false;
  return result;
}

bool VMConnection::Abandoned() {
  std::lock_guard lock(mutex_);
  if (abandoned_) RC_TRACE("VMConnection: connect to %s abandoned.\n", settings_.server.c_str());
  return abandoned_;
}

void VMConnection::DropSocket() {
  std::lock_guard lock(mutex_);
  if (socket_) socket_->Close();
  socket_.reset();
}

int VMConnection::ConnectAndHello(const std::string& drive) {
  target_ = drive.substr(0, 255);
  if (!ChooseTarget()) return kCancelled;

  auto created = TcpSocket::Create();
  if (!created) {
    RC_TRACE("Socket creation error #%i.\n", LastSocketError());
    return kSocketFailed;
  }
  TcpSocket* const socket = created.get();
  {
    std::lock_guard lock(mutex_);
    if (abandoned_) return kCancelled;
    socket_ = std::move(created);
  }
  RC_TRACE("Socket %i created. Connecting to %s\n", socket->Descriptor(), settings_.server.c_str());
  socket->SetReceiveTimeout(CScsi::kReceiveSliceMs);
  if (!socket->Connect(settings_.server, settings_.port)) {
    const bool abandoned = Abandoned();
    if (!abandoned) RC_TRACE("Connect error #%i.\n", LastSocketError());
    DropSocket();
    return abandoned ? kCancelled : kConnectFailed;
  }
  socket->SetNoDelay(true);
  RC_TRACE("VM Connected to %s\n", settings_.server.c_str());

  uint8_t hello[18];
  hello[0] = 0x10;
  hello[1] = ClassByte(deviceKind_);
  {
    std::lock_guard lock(ChainMutex());
    Md5 md5;
    md5.Update(settings_.key.data(), settings_.key.size());
    md5.Update(Chain().data(), Chain().size());
    const Md5::Digest digest = md5.Final();
    std::memcpy(hello + 2, digest.data(), 16);
    // The chain moves on with every hello sent, whatever the answer.
    Chain() = digest;
  }
  socket->SendAll(hello, sizeof hello);

  // The answer's 4 bytes; silence for 2 s leaves the hello in the buffer (status 0x10). All four
  // are taken even when they come in pieces: what is left of them would otherwise be read as the
  // start of the first request, and every request after it would be out of step.
  uint8_t* reply = hello;
  Clock& clock = settings_.clock ? *settings_.clock : SystemClock();
  const uint32_t start = clock.NowMs();
  int got = 0;
  while (got < 4) {
    const int n = socket->Receive(reply + got, size_t(4 - got));
    if (n > 0) {
      got += n;
      continue;
    }
    if (n < 0 && LastSocketError() == kWsaEtimedout && clock.NowMs() - start < kReplyTimeoutMs) {
      continue;
    }
    break;
  }
  if (got >= 2 && reply[0] == 0x20 && reply[1] == 0) {
    std::lock_guard join(joinMutex_);
    std::lock_guard lock(mutex_);
    if (!abandoned_) {
      RC_TRACE("VMC - creating thread\n");
      stop_ = false;
      userStopped_ = false;
      serving_ = true;
      threadDone_ = false;
      thread_ = std::thread([this] { Serve(); });
      serveThreadId_ = thread_.get_id();
      return kOk;
    }
  }
  if (Abandoned()) {
    DropSocket();
    return kCancelled;
  }
  const uint8_t status = reply[0];
  ShowMessage(RefusalText(status), "Error", kMbOk);
  DropSocket();
  return kRefused - int(status);
}

void VMConnection::Disconnect() {
  {
    std::lock_guard lock(mutex_);
    if (connecting_) {
      // Connect, on another thread, gives up and starts no serve thread.
      abandoned_ = true;
      if (socket_) socket_->Close();
      return;
    }
  }
  StopServing();
}

void VMConnection::StopServing() {
  stop_ = true;
  userStopped_ = true;
  {
    std::lock_guard lock(mutex_);
    if (socket_) socket_->Close();
  }
  JoinServeThread(kDisconnectWaitMs);
}

void VMConnection::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  Disconnect();
  std::lock_guard lock(mutex_);
  // A Connect still under way on another thread is using the folder image until it returns.
  if (!connecting_) folderImage_.reset();
}

bool VMConnection::WaitServeEnded(uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return threadDone_; });
}

void VMConnection::JoinServeThread(uint32_t timeoutMs) {
  // An unmount asked for by the device runs on the serve thread itself: it cannot wait for
  // itself, and closing the socket is all it needs.
  if (std::this_thread::get_id() == serveThreadId_.load()) return;
  std::lock_guard join(joinMutex_);
  if (!thread_.joinable()) return;
  if (!WaitServeEnded(timeoutMs)) {
    // Still blocked (a slow file under a folder image): it ends at its next step, as its socket
    // is closed; its objects must outlive it, so it is joined all the same.
    RC_TRACE("VMConnection: serve thread still running after %u ms\n", timeoutMs);
  }
  thread_.join();
  serveThreadId_ = std::thread::id();
}

// ---- Serving ----

void VMConnection::Serve() {
  pthread_setname_np(pthread_self(), "vm-serve");
  RC_TRACE("Connection thread for 0x%08lx started.\n", long(reinterpret_cast<uintptr_t>(this)));
  ScsiContext context;
  context.control = settings_.control;
  context.host = settings_.host;
  context.clock = settings_.clock;
  context.roots = settings_.roots;
  TcpSocket* socket = nullptr;
  {
    std::lock_guard lock(mutex_);
    socket = socket_.get();
  }
  std::unique_ptr<CScsi> device;
  std::string reason = "Connection closed.";
  try {
    switch (deviceKind_) {
      case VmKind::Folder:
        device = std::make_unique<CScsiFloppy>(socket, target_, std::move(folderImage_), context);
        break;
      case VmKind::CdromDrive:
        RC_TRACE("And it is not a CDROM image file.\n");
        device = std::make_unique<CScsiCdrom>(socket, target_, context);
        RC_TRACE("New CScsiCdrom created.\n");
        break;
      case VmKind::CdImage:
        device = std::make_unique<CScsiCdImage>(socket, target_, context);
        RC_TRACE("New CScsiCdImage created.\n");
        break;
      default:
        device = std::make_unique<CScsiFloppy>(socket, target_, context);
        break;
    }
  } catch (const VmText& e) {
    reason = e.what();
    ShowMessage(reason, "Error", kMbOk | kMbIconError);
    if (deviceKind_ == VmKind::CdromDrive || deviceKind_ == VmKind::CdImage ||
        deviceKind_ == VmKind::Folder) {
      RequestUnmount(requestedKind_);
    }
  }
  while (device && !stop_) {
    try {
      device->process();
    } catch (const VmText& e) {
      RC_TRACE("VMConnection Exception: %s\n", e.what());
      reason = e.what();
      break;
    } catch (const Cluster::Error& e) {
      reason = e.Message();
      ShowMessage(reason, "Error", kMbOk | kMbIconError);
      RequestUnmount(VmKind::Folder);
      break;
    } catch (const FATFile::Error& e) {
      reason = e.Message();
      ShowMessage(reason, "Error", kMbOk | kMbIconError);
      RequestUnmount(VmKind::Folder);
      break;
    } catch (const std::exception& e) {
      RC_TRACE("VMConnection Exception: %s\n", e.what());
      reason = e.what();
      break;
    }
  }
  if (device) device->CloseMedia();
  if (socket) socket->Close();
  device.reset();
  if (userStopped_) reason = "Unmounted.";
  RC_TRACE("Connection thread for 0x%08lx ended.\n", long(reinterpret_cast<uintptr_t>(this)));
  EndServe(reason);
}

void VMConnection::RequestUnmount(VmKind kind) {
  unmountRequested_ = true;
  if (settings_.control) settings_.control->OnVmUnmountRequest(kind);
}

void VMConnection::EndServe(const std::string& reason) {
  std::function<void(const std::string&)> callback;
  {
    std::lock_guard lock(mutex_);
    callback = onEnded_;
  }
  serving_ = false;
  if (callback) callback(reason);
  {
    std::lock_guard lock(mutex_);
    threadDone_ = true;
  }
  ended_.notify_all();
}

}  // namespace remcons
