#include "video/VideoDecoder.h"

#include <string_view>

#include "platform/Host.h"
#include "platform/Strings.h"
#include "platform/Trace.h"

namespace remcons {

using namespace vstate;

namespace {

// Refresh requests of a latched decoder: at its 41st step, then when the count reaches these.
constexpr uint32_t kLatchFirstRequest = 40;
constexpr uint32_t kLatchSecondRequest = 120000;
constexpr uint32_t kLatchThirdRequest = 12000000;

// Firmware command numbers.
enum FirmwareCommand : uint32_t {
  kFwExit = 1,
  kFwText = 2,
  kFwFrameRate = 3,
  kFwPowerOn = 4,
  kFwPowerOff = 5,
  kFwVideoSuspended = 6,
  kFwKeyChange = 9,
  kFwSeize = 10,
  kFwKill = 11,
};

}  // namespace

VideoDecoder::VideoDecoder(FrameBuffer& frameBuffer, VideoModes& modes, VideoEvents& events)
    : frameBuffer_(frameBuffer),
      modes_(modes),
      events_(events),
      expand_(ColorExpansionTable().data()) {}

bool VideoDecoder::Start(const DecoderRole& role) {
  if (!frameBuffer_.created()) return false;
  block_pixels_ = frameBuffer_.block_pixels();
  role_ = role;
  reader_.StartSession();
  cache_.cache_clear();
  state_ = next_state_ = role.multiUserClient ? HUNT : RESET;
  pos_.width_blocks = 50;
  pos_.height_blocks = 37;
  red_ = green_ = 0;
  print_channel_ = 0;
  print_len_ = 0;
  print_text_.fill(0);
  resetRequested_.store(false, std::memory_order_relaxed);
  return true;
}

void VideoDecoder::ExplicitHit(uint16_t color, uint32_t steps) {
  if (steps <= 6) {
    RC_TRACE("Possible reset underway. Color %3x\n", color);
  } else {
    RC_TRACE("color %3x generated a hit\n", color);
  }
}

void VideoDecoder::RequestRefresh() {
  if (events_.Replaying()) return;
  events_.Write(kRefreshRequest, sizeof kRefreshRequest);
}

void VideoDecoder::Latched() {
  if (latch_count_ == 0) {
    latched_x_ = pos_.block_x;
    latched_y_ = pos_.block_y;
  }
  if (latch_count_ == kLatchFirstRequest) {
    RC_TRACE("Latched: byte count %d ", step_count_);
    RC_TRACE(" current block at %d %d.\n", latched_x_, latched_y_);
    RequestRefresh();
  }
  ++latch_count_;
  if (latch_count_ == kLatchSecondRequest) {
    RC_TRACE("Requesting refresh1\n");
    RequestRefresh();
  }
  if (latch_count_ == kLatchThirdRequest) {
    RC_TRACE("Requesting refresh2\n");
    RequestRefresh();
    latch_count_ = kLatchFirstRequest + 1;
  }
}

void VideoDecoder::ModeSize(uint16_t code) {
  if (temp_ != 0 && code != 0) {
    // A picture means the server has power.
    if (server_power_ != 1) {
      events_.SetPowerOn();
      server_power_ = 1;
    }
    pos_.width_blocks = temp_;
    pos_.height_blocks = code;
    return;
  }
  if (server_power_ == 0) return;
  server_power_ = 0;
  events_.SetPowerOff();
  frameBuffer_.ClearScreen(pos_);
  pos_.width_blocks = 50;
  pos_.height_blocks = 38;
}

void VideoDecoder::ModeSwitch(uint16_t code) {
  pos_.block_x = pos_.block_y = 0;
  pixel_count_ = 0;
  cache_.cache_clear();
  extra_lines_ = code;
  const int width = pos_.width_blocks * kBlockSize;
  const int height = pos_.height_blocks * kBlockSize + extra_lines_;
  RC_TRACE("\nS[%d %d]\n", width, height);
  if (observer_) observer_->OnMode(width, height);
  modes_.SwitchVideoMode(width, height);
}

void VideoDecoder::StoreFirmwareByte(uint16_t code) {
  // Operands beyond the 256th are dropped; the command number is always the last byte.
  if (fw_count_ != 0 && fw_count_ <= kMaxFirmwareOperands) fw_args_[fw_count_] = fw_last_;
  if (fw_count_ <= kMaxFirmwareOperands) ++fw_count_;
  fw_last_ = code;
}

void VideoDecoder::StatusLine(const char* text, bool write) {
  events_.SetStatusText(text);
  if (write) frameBuffer_.WriteStatusLine(text);
}

void VideoDecoder::RunFirmwareCommand() {
  if (observer_ && fw_last_ != kFwText) {
    observer_->OnFirmware(fw_last_, fw_args_.data() + 1, fw_count_ == 0 ? 0 : fw_count_ - 1);
  }
  switch (fw_last_) {
    case kFwExit:
      RC_TRACE("Exit cmd, set next_state to EXIT\n");
      next_state_ = EXIT;
      break;
    case kFwText:
      next_state_ = PRINT0;
      break;
    case kFwFrameRate:
      RC_TRACE("Framerate: %d\n", fw_args_[1]);
      break;
    case kFwPowerOn:
      if (server_power_ != 1) {
        events_.SetPowerOn();
        server_power_ = 1;
      }
      break;
    case kFwPowerOff:
      if (server_power_ != 0) {
        server_power_ = 0;
        events_.SetPowerOff();
        frameBuffer_.ClearScreen(pos_);
      }
      break;
    case kFwVideoSuspended:
      frameBuffer_.ClearScreen(pos_);
      StatusLine(LoadString(kStrVideoSuspended), true);
      events_.NotifyStatusChanged();
      break;
    case 7:
    case 8:
      break;
    case kFwKeyChange:
      RC_TRACE("Key Change Cmd!!!!!!!!\n");
      reader_.DiscardRestOfByte();
      events_.ChangeKeys();
      break;
    case kFwSeize:
      RC_TRACE("qel: received seize command.\n");
      frameBuffer_.ClearScreen(pos_);
      StatusLine(LoadString(kStrSessionAcquired), true);
      events_.NotifyDialog();
      next_state_ = EXIT;
      events_.NotifySessionClosed();
      break;
    case kFwKill:
      RC_TRACE("qel: received kill command.\n");
      frameBuffer_.ClearScreen(pos_);
      StatusLine(LoadString(kStrFirmwareUpdate), false);
      events_.NotifyDialog();
      next_state_ = EXIT;
      events_.NotifySessionClosed();
      break;
    default:
      RC_TRACE("qel: unknown firmware command %d\n", fw_last_);
      break;
  }
  fw_count_ = 0;
}

void VideoDecoder::EndTextRecord() {
  const std::string_view text(print_text_.data(), print_len_);
  const char* shown = print_text_.data();
  if (observer_) observer_->OnText(print_channel_, text);
  switch (print_channel_) {
    case 1:
    case 3:
      RC_TRACE("CH%d: %s\n", print_channel_, shown);
      break;
    case 2:
      RC_TRACE("CH2: %s\n", shown);
      events_.SetStatusText(text);
      events_.NotifyStatusChanged();
      break;
    case 4:
      RC_TRACE("CH4: %s\n", shown);
      events_.SetStatusText(text);
      events_.NotifyDialog();
      break;
    case 5:
      RC_TRACE("CH5: %s\n", shown);
      events_.SetStatusText2(text);
      break;
    case 6:
      RC_TRACE("CH6: %s\n", shown);
      events_.SetStatusText(text);
      events_.NotifyDialog();
      RequestStop();
      events_.NotifySessionClosed();
      break;
    case 0x80:
      RC_TRACE("CH0x80: %s\n", shown);
      if (role_.sessionLeader) events_.OnJoinAnswer(text);
      break;
    case 0x81:
      RC_TRACE("CH0x81: %s\n", shown);
      if (role_.multiUserClient) events_.SetInputEnabled(!text.empty() && text[0] == '1');
      break;
    default:
      RC_TRACE("PRINT1: ch=0x%x %s\n", print_channel_, shown);
      break;
  }
  next_state_ = START;
}

void VideoDecoder::Act(uint16_t code) {
  switch (state_) {
    case RESET:
      RC_TRACE("StateMachine: RESET\n");
      cache_.cache_clear();
      pixel_count_ = 0;
      pos_.block_x = pos_.block_y = 0;
      latch_count_ = 0;
      red_ = green_ = 0;
      break;
    case MOVEXY0:
    case MODE0:
      temp_ = code;
      break;
    case MOVEXY1:
      pos_.block_x = temp_;
      pos_.block_y = code;
      break;
    case MOVESHORTX:
      pos_.block_x = static_cast<uint16_t>((pos_.block_x + code + 1) & 127);
      break;
    case MOVELONGX:
      pos_.block_x = static_cast<uint16_t>(code & 127);
      break;
    case BLKDUP:
      PutBlock(1);
      break;
    case BLKRPTSTD:
      PutBlock(code + 2u);
      break;
    case BLKRPTNSTD:
      PutBlock(code);
      break;
    case MODE1:
      ModeSize(code);
      break;
    case MODE2:
      ModeSwitch(code);
      break;
    case TIMEOUT:
      reader_.DiscardRestOfByte();
      break;
    case FIRMWARE:
      StoreFirmwareByte(code);
      break;
    case CORP:
      if (code == 0) RunFirmwareCommand();
      break;
    case PRINT0:
      print_channel_ = static_cast<uint8_t>(code);
      print_text_.fill(0);
      print_len_ = 0;
      break;
    case PRINT1:
      if (code == 0) {
        EndTextRecord();
      } else if (print_len_ < kMaxTextLength) {
        // Characters past the 255th are dropped.
        print_text_[print_len_++] = static_cast<char>(code);
      }
      break;
    case LATCHED:
      Latched();
      break;
    case HUNT:
      RC_TRACE("StateMachine: HUNT\n");
      if (code != 0) {
        reader_.DropBufferedBits();
        step_count_ = 0;
      }
      break;
    default:
      // The command prefixes only branch; EXIT never acts (the loop ends before it reads); the
      // pixel states are handled in Decode.
      break;
  }
}

DecodeEnd VideoDecoder::ConnectionLost() {
  RC_TRACE("Network disconnect %d\n", reader_.LastSourceError());
  if (!stop_requested()) {
    const char* text =
        LoadString(role_.multiUserClient ? kStrLeaderConnectionLost : kStrConnectionLost);
    events_.SetStatusText(text);
    events_.ShowMessage(text, "Network Error", kMbOk | kMbIconWarning);
  }
  return DecodeEnd::kConnectionLost;
}

}  // namespace remcons
