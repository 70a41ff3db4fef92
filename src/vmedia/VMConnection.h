// One virtual drive: chooses the local medium, opens the virtual-media connection to the
// management processor, proves the right to use it with the keyed hello, and serves the server's
// SCSI requests on its own thread until unmounted.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/Md5.h"
#include "platform/Clock.h"
#include "vmedia/Media.h"
#include "vmedia/VmTypes.h"

namespace remcons {

class Host;
class TcpSocket;
class FATFile;

// How a connection learns what to serve for the image, CD image and folder entries: the desktop
// asks the user; the command line already knows.
class VmTargetChooser {
 public:
  virtual ~VmTargetChooser() = default;
  // Each returns false when the user cancelled. An empty folder path means the chosen item has
  // no file-system path.
  virtual bool ChooseImageFile(std::string* path) = 0;
  virtual bool ChooseCdImage(std::string* path) = 0;
  virtual bool ChooseFolder(std::string* path) = 0;
};

// Answers every question with one path.
class FixedTargetChooser : public VmTargetChooser {
 public:
  explicit FixedTargetChooser(std::string path) : path_(std::move(path)) {}
  bool ChooseImageFile(std::string* path) override { return Give(path); }
  bool ChooseCdImage(std::string* path) override { return Give(path); }
  bool ChooseFolder(std::string* path) override { return Give(path); }

 private:
  bool Give(std::string* path) {
    *path = path_;
    return true;
  }
  std::string path_;
};

using VmKey = std::array<uint8_t, 16>;

struct VmConnectionSettings {
  std::string server;            // dotted IPv4 (the target property)
  uint16_t port = 0;             // vmPort
  VmKey key{};                   // vmKey as 16 bytes
  Host* host = nullptr;          // message boxes; null: traced only
  VmControl* control = nullptr;  // activity and unmount notices
  VmTargetChooser* chooser = nullptr;
  Clock* clock = nullptr;  // null: the system clock
  MediaRoots roots = DefaultMediaRoots();
  bool followLinks = false;  // a folder's links leading outside it are shown too
};

class VMConnection {
 public:
  // Connect results.
  enum : int {
    kOk = 0,
    kCancelled = -1,
    kStartupFailed = -2,
    kSocketFailed = -3,
    kConnectFailed = -4,
    kRefused = -5,  // minus the refusal status byte
  };
  static constexpr uint32_t kReplyTimeoutMs = 2000;
  static constexpr uint32_t kDisconnectWaitMs = 5000;
  static constexpr uint64_t kFloppyDriveLimit = 2949120;
  static constexpr uint64_t kFloppyImageLimit = 1478656;

  VMConnection(VmKind kind, VmConnectionSettings settings);
  ~VMConnection();
  VMConnection(const VMConnection&) = delete;
  VMConnection& operator=(const VMConnection&) = delete;

  // drive: the block device name for drive entries; a placeholder for the image, CD image and
  // folder entries, whose target the chooser gives. 0 when serving; see the results above.
  // Disconnect or Close from another thread abandons it (kCancelled, nothing shown): its socket,
  // kept where they can close it, is closed, so that neither waits for a server that does not
  // answer.
  int Connect(const std::string& drive);
  // Stops serving: closes the socket and waits (bounded) for the serve thread; or abandons a
  // Connect under way on another thread.
  void Disconnect();
  // Disconnect for good: a Connect under way or to come gives up. Before the object goes.
  void Close();
  bool IsConnected() const;
  // True while the serve thread runs.
  bool IsServing() const { return serving_; }
  // True once this mount's device has asked the control to unmount it (until the next Connect):
  // by the time the window thread acts on that, the socket may be closed already.
  bool UnmountRequested() const { return unmountRequested_; }
  VmKind GetKind() const { return requestedKind_; }
  VmKind DeviceKind() const { return deviceKind_; }
  const std::string& Target() const { return target_; }
  // Links of the folder mounted last that were left out because they lead outside it.
  uint32_t FolderLinksLeftOut() const { return folderLinksLeftOut_; }
  // The last message shown to the user (refusals, errors), for callers without a window.
  std::string LastMessage() const;
  // Called on the serve thread when serving ends, with the reason ("Connection closed.", a
  // device error, or "Unmounted." after Disconnect).
  void SetServeEndedCallback(std::function<void(const std::string& reason)> callback);
  // Waits until the serve thread has ended; false on time-out.
  bool WaitServeEnded(uint32_t timeoutMs);

  // The process-wide hello chain: 16 zero bytes after a reset (a new menu bar), then the digest
  // of every hello sent.
  static void ResetHandshakeChain();
  static Md5::Digest HandshakeChain();
  // The hello's class byte of a kind.
  static uint8_t ClassByte(VmKind kind);
  // The message for a hello reply status.
  static std::string RefusalText(uint8_t status);

 private:
  bool ChooseTarget();
  // The medium's size; 0 when it cannot be opened (openError: why).
  uint64_t ProbeMediaSize(int* openError = nullptr);
  // Shows why when the medium could not be opened because something holds it (EBUSY).
  bool FileInUse(int openError);
  bool OpenFolder();
  void ShowMessage(const std::string& text, const std::string& caption, uint32_t style);
  // Connect's work, between the marks of a connect under way.
  int ConnectAndHello(const std::string& drive);
  // True once Disconnect or Close has abandoned the Connect under way.
  bool Abandoned();
  // Closes and forgets the socket of a Connect that failed.
  void DropSocket();
  void StopServing();
  void Serve();
  void EndServe(const std::string& reason);
  void RequestUnmount(VmKind kind);
  void JoinServeThread(uint32_t timeoutMs);

  VmConnectionSettings settings_;
  VmKind requestedKind_;
  VmKind deviceKind_;
  std::string target_;
  // From its creation in Connect: closing it abandons a connect or hello under way.
  std::unique_ptr<TcpSocket> socket_;
  mutable std::mutex mutex_;  // socket_, the connect marks, thread bookkeeping, lastMessage_
  bool connecting_ = false;   // a Connect is under way
  bool abandoned_ = false;    // ... and Disconnect or Close has given it up
  bool closed_ = false;       // Close: no more Connects
  std::atomic<bool> stop_{false};
  std::atomic<bool> serving_{false};
  std::atomic<bool> userStopped_{false};
  std::atomic<bool> unmountRequested_{false};
  // Disconnect and Connect may run on two threads: thread_ is started and joined under
  // joinMutex_ (taken before mutex_); the serve thread knows itself by its id.
  std::mutex joinMutex_;
  std::thread thread_;
  std::atomic<std::thread::id> serveThreadId_{};
  std::condition_variable ended_;
  bool threadDone_ = true;
  std::unique_ptr<FATFile> folderImage_;
  uint32_t folderLinksLeftOut_ = 0;
  std::string lastMessage_;
  std::function<void(const std::string&)> onEnded_;
};

}  // namespace remcons
