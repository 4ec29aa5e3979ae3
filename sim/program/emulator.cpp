#include "program/emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "clock/monotonic_clock.h"
#include "program/listen_socket.h"
#include "torvane/checksum.h"

namespace torvane_sim {
namespace {

using torvane_clock::Now;
using torvane_clock::SleepUntil;  // a signal ends it early: the loop then sees the stop

uint64_t Fnv1a(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t digest = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i) digest = (digest ^ p[i]) * 1099511628211ull;
  return digest;
}

}  // namespace

Emulator::Emulator(const Options& options)
    : options_(options),
      period_(1.0 / options.rate_hz),
      faults_(options.faults, options.seed),
      rejections_(options.high_level),
      image_(options.high_level ? sizeof(TORVANE::HighState) : sizeof(TORVANE::LowState_refine)) {}

bool Emulator::Prepare() {
  std::string error;
  if (ChooseModel(options_, period_, model_, error) && !options_.log_path.empty()) {
    log_.Open(options_.log_path, error);
  }
  if (error.empty() && (!options_.video_path.empty() || options_.view)) {
    robot_ = model_.high ? model_.high->physics() : model_.low->physics();
    if (robot_ == nullptr) error = "--video and --view need the physics engine";
  }
  if (error.empty() && !options_.video_path.empty()) {
    const VideoSettings video{options_.video_path, options_.video_fps, options_.video_width,
                              options_.video_height};
    video_.Start(*robot_, video, options_.lockstep, error);
  }
  if (error.empty() && options_.view && !window_.Open(*robot_, error)) {
    // The window is a convenience: without a display the emulator serves all the same.
    std::fprintf(stderr, "torvane-sim: %s; serving without it\n", error.c_str());
    error.clear();
  }
  if (!error.empty()) {
    std::fprintf(stderr, "torvane-sim: %s\n", error.c_str());
    return false;
  }
  return true;
}

bool Emulator::Listen() {
  const bool high = options_.high_level;
  const int send_length = high ? TORVANE::HIGH_STATE_LENGTH : TORVANE::LOW_STATE_LENGTH;
  const int recv_length = high ? TORVANE::HIGH_CMD_LENGTH : TORVANE::LOW_CMD_LENGTH;
  udp_ = std::make_unique<TORVANE::UDP>(options_.port, send_length, recv_length,
                                        /*autoDisconnect=*/true, TORVANE::nonBlock,
                                        /*deferInit=*/false);
  // The endpoint binds every interface; an emulator listens only where it was told to, so its
  // socket is replaced by one bound to that address (still non-blocking, as init made it).
  close(udp_->socketfd);
  const int fd = ListenSocket(options_.address, options_.port);
  udp_->socketfd = fd;
  if (fd < 0) return false;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

  // Real clients stamp high-level commands with the plain checksum, which an endpoint takes at
  // that level only in developer mode. The mode is process-wide: this process's only.
  if (high) {
    char diag[] = "[openDiagMode]";
    udp_->SetSend(diag);
  }
  udp_->SetDisconnectTime(static_cast<float>(period_), 1.0f);
  std::printf("torvane-sim: %s level on %s:%u, %s at %g Hz\n", high ? "high" : "low",
              options_.address.c_str(), static_cast<unsigned>(ListeningPort(fd)),
              options_.lockstep ? "lockstep" : "streaming", options_.rate_hz);
  std::fflush(stdout);
  return true;
}

bool Emulator::RefuseBadCommand() {
  uint8_t peeked[2048];
  const ssize_t length =
      recv(udp_->socketfd, peeked, sizeof peeked, MSG_PEEK | MSG_DONTWAIT | MSG_TRUNC);
  if (length < 0) return false;
  const int held = static_cast<int>(std::min<ssize_t>(length, sizeof peeked));
  const Verdict verdict = Judge(peeked, held, static_cast<int>(length), options_.high_level);
  if (verdict.reason == Reason::kNone) return false;
  recv(udp_->socketfd, peeked, sizeof peeked, MSG_DONTWAIT);
  ++rejected_;
  rejections_.Note(verdict, Now());
  if (options_.trace) {
    std::printf("reject %d\n", verdict.reason == Reason::kBadHeader ? -1 : -3);
    std::fflush(stdout);
  }
  return true;
}

void Emulator::TakeCommand() {
  // What is no command of this level never reaches the endpoint, which would learn its sender
  // as the client; in lockstep each refused datagram counts as the wake's one datagram.
  while (RefuseBadCommand()) {
    if (options_.lockstep) return;
  }
  // In lockstep every command is answered: once the client is known, one datagram a Recv, so
  // that commands queued while the emulator was held up are not drained over unanswered.
  if (options_.lockstep) udp_->drainAll = !udp_->connected;
  const int result = udp_->Recv();
  if (result == 0) {
    ++commands_;
    if (model_.high) {
      TORVANE::HighCmd cmd;
      udp_->GetRecv(reinterpret_cast<char*>(&cmd));
      model_.high->Command(cmd);
      command_digest_ = Fnv1a(&cmd, sizeof cmd);
    } else {
      TORVANE::LowCmd_refine cmd;
      udp_->GetRecv(reinterpret_cast<char*>(&cmd));
      model_.low->Command(LegTargets(cmd));
      command_digest_ = Fnv1a(&cmd, sizeof cmd);
    }
    if (options_.lockstep) {
      Step();
      Answer();
      Show();  // after the answer: a frame waits at most for the drawing of the one before
    }
  } else if (result == -3 || (result == -1 && options_.lockstep)) {
    ++rejected_;
    if (options_.trace) {
      std::printf("reject %d\n", result);
      std::fflush(stdout);
    }
  }
}

void Emulator::Step() {
  if (model_.high) {
    model_.high->Step();
  } else {
    model_.low->Step();
  }
  // The log and the video start with the first command: until a client comes, the robot lies.
  if (log_.is_open() && commands_ > 0) {
    log_.Write(model_.high ? model_.high->Motion() : model_.low->Motion());
  }
}

void Emulator::Show() {
  if (robot_ == nullptr) return;
  if (commands_ > 0) video_.Offer(*robot_);
  window_.Offer(*robot_);
}

void Emulator::Answer() {
  const int length = static_cast<int>(image_.size());
  if (model_.high) {
    TORVANE::HighState state;
    model_.high->Fill(state);
    std::memcpy(image_.data(), &state, sizeof state);
  } else {
    TORVANE::LowState_refine state;
    model_.low->Fill(state);
    std::memcpy(image_.data(), &state, sizeof state);
  }
  // A controller numbers its state datagrams (SN[0]), so that a capture shows losses and repeats.
  const uint32_t serial = static_cast<uint32_t>(answers_ + 1);
  std::memcpy(image_.data() + offsetof(TORVANE::HighState, SN), &serial, sizeof serial);
  char* image = reinterpret_cast<char*>(image_.data());
  udp_->SetSend(image);  // stamps the plain checksum into image_ and stages it
  if (options_.high_level) {
    // A controller sends its high-level state with the checksum scrambled.
    char mask[] = "[maskChkSum]";
    udp_->SetSend(mask);
    TORVANE::encryptCRC(image_.data(), nullptr, static_cast<uint32_t>(length));
  }

  // FNV-1a over the whole datagram as it stands before any fault, for tests that check what
  // they were given against what was sent.
  uint64_t digest = 1469598103934665603ull;
  for (uint8_t b : image_) digest = (digest ^ b) * 1099511628211ull;

  const Fault fault = faults_.Next();
  ++answers_;
  int sent = 0;
  switch (fault) {
    case Fault::kNone:
      sent = udp_->Send() > 0;
      break;
    case Fault::kDuplicate:
      sent = (udp_->Send() > 0) + (udp_->Send() > 0);
      break;
    case Fault::kDrop:
      break;
    case Fault::kCorruptCrc: {
      const uint32_t noise = faults_.Noise();
      for (int k = 0; k < 4; ++k) image_[length - 4 + k] ^= static_cast<uint8_t>(noise >> (8 * k));
      sent = send(udp_->socketfd, image_.data(), image_.size(), 0) > 0;
      break;
    }
    case Fault::kCorruptHeader:
      image_[1] ^= 0xFF;
      sent = send(udp_->socketfd, image_.data(), image_.size(), 0) > 0;
      break;
    case Fault::kTruncate:
      sent = send(udp_->socketfd, image_.data(),
                  static_cast<size_t>(faults_.TruncatedLength(length)), 0) > 0;
      break;
  }
  datagrams_ += static_cast<uint64_t>(sent);
  if (options_.trace) {
    std::printf("answer %llu %s %016llx %016llx\n", static_cast<unsigned long long>(answers_),
                FaultName(fault), static_cast<unsigned long long>(digest),
                static_cast<unsigned long long>(command_digest_));
    std::fflush(stdout);
  }
}

int Emulator::Run(const volatile std::sig_atomic_t& stop) {
  if (!Prepare() || !Listen()) return 1;
  const double start = Now();
  double next = start;
  while (stop == 0 && (options_.duration_s <= 0.0 || Now() - start < options_.duration_s)) {
    if (options_.lockstep) {
      pollfd p{udp_->socketfd, POLLIN, 0};
      if (poll(&p, 1, 100) == 1) TakeCommand();
      continue;
    }
    TakeCommand();
    Step();
    if (udp_->connected) Answer();
    Show();
    next += period_;
    const double now = Now();
    if (next < now - 0.1) next = now;  // fell far behind (a debugger, a suspend): resync
    SleepUntil(next);
  }
  window_.Close();
  const bool filmed = video_.Finish();
  PrintTally();
  if (!options_.video_path.empty()) {
    std::printf("torvane-sim: video: %llu frames written, %llu dropped%s\n",
                static_cast<unsigned long long>(video_.written()),
                static_cast<unsigned long long>(video_.dropped()),
                filmed ? "" : " (ffmpeg failed: the file may be incomplete)");
    std::fflush(stdout);
  }
  return 0;
}

void Emulator::PrintTally() const {
  const FaultTally& t = faults_.tally();
  std::printf(
      "torvane-sim: %llu commands taken, %llu rejected; %llu answers, %llu datagrams sent\n"
      "torvane-sim: injected drop %llu, crc %llu, header %llu, truncate %llu, duplicate %llu\n"
      "torvane-sim: rejected by reason: %s\n",
      static_cast<unsigned long long>(commands_), static_cast<unsigned long long>(rejected_),
      static_cast<unsigned long long>(answers_), static_cast<unsigned long long>(datagrams_),
      static_cast<unsigned long long>(t.drop), static_cast<unsigned long long>(t.corrupt_crc),
      static_cast<unsigned long long>(t.corrupt_header),
      static_cast<unsigned long long>(t.truncate), static_cast<unsigned long long>(t.duplicate),
      rejections_.Counts().c_str());
  if (options_.conditions.any_signal() || !options_.conditions.physics.FirstGiven().empty()) {
    std::printf("torvane-sim: conditions: %s\n", options_.conditions.Summary().c_str());
  }
  std::fflush(stdout);
}

}  // namespace torvane_sim
