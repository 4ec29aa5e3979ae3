#include "torvane/udp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "console.h"
#include "datagram/little_endian.h"
#include "torvane/checksum.h"
#include "torvane/packing.h"

namespace TORVANE {

using detail::Line;

namespace {

constexpr int kMinLength = 4;  // room for the checksum

// Guards the process-wide staging records udp_lowcmd and udp_lowstate. Taken before an
// endpoint's sendMutex or recvMutex, never after.
pthread_mutex_t stagingMutex = PTHREAD_MUTEX_INITIALIZER;

// Calls of the caller's loop in `time` seconds at period `dt`, in single precision: a quotient
// of 0 or less gives 1, one beyond int (or NaN) saturates instead of converting out of range.
int CallsFor(float time, float dt) {
  const float q = time / dt;
  if (std::isnan(q) || q >= 2147483648.0f) return INT_MAX;
  if (q <= 0.0f) return 1;
  return static_cast<int>(q);
}

// Stores the calls for `time` in `threshold`; a period of (nearly) zero gives 500 and the
// setter's warning instead. Returns whether the time was taken.
bool SetThreshold(float dt, float time, const char* setter, int& threshold) {
  if (std::fabs(static_cast<double>(dt)) < 1e-6) {
    threshold = 500;
    Line("[WARNNING] callback_dt can not be zero!  func: %s() ", setter);
    return false;
  }
  threshold = CallsFor(time, dt);
  return true;
}

}  // namespace

UDP::UDP(uint8_t level, uint16_t localPort, const char* targetIP, uint16_t targetPort)
    : localPort(localPort) {
  if (level == HIGH_LEVEL_FLAG) {
    sendLength = HIGH_CMD_LENGTH;
    recvLength = HIGH_STATE_LENGTH;
  } else if (level == LOW_LEVEL_FLAG) {
    sendLength = LOW_CMD_LENGTH;
    recvLength = LOW_STATE_LENGTH;
  } else {
    Line("Level Flag Error.");
    std::exit(-1);
  }
  connected = true;
  init(localPort, targetIP, targetPort);
}

UDP::UDP(uint16_t localPort, const char* targetIP, uint16_t targetPort, int sendLength,
         int recvLength, bool autoDisconnect, RecvEnum recvType)
    : localPort(localPort),
      connected(true),
      sendLength(sendLength),
      recvLength(recvLength),
      autoDisconnect(autoDisconnect) {
  SetMode(recvType);
  init(localPort, targetIP, targetPort);
}

UDP::UDP(uint16_t localPort, int sendLength, int recvLength, bool autoDisconnect, RecvEnum recvType,
         bool deferInit)
    : localPort(localPort),
      connected(false),
      sendLength(sendLength),
      recvLength(recvLength),
      autoDisconnect(autoDisconnect) {
  SetMode(recvType);
  if (!deferInit) init(localPort, nullptr, 0);
}

UDP::~UDP() {
  Line("Closing UDP.");
  Release(true);
  DestroyLocks();
}

void UDP::DestroyLocks() {
  if (!locksReady_) return;
  pthread_mutex_destroy(&sendMutex);
  pthread_mutex_destroy(&recvMutex);
  pthread_mutex_destroy(&sockMutex);
  locksReady_ = false;
}

void UDP::SetMode(RecvEnum recvType) {
  drainAll = recvType != block;
  recvTimeoutMs = recvType == blockTimeout ? 2 : -1;
}

void UDP::Release(bool closing) {
  recvBuf.reset();
  recvCopy.reset();
  sendBuf.reset();
  if (socketfd >= 0) {
    // Shutting down a datagram socket that was never connected fails on Linux; the destructor
    // reports it all the same.
    if (closing && shutdown(socketfd, SHUT_RDWR) != 0) Line("[Error] Close UDP Failed.");
    close(socketfd);
    socketfd = -1;
  }
}

void UDP::init(uint16_t localPort, const char* targetIP, uint16_t targetPort) {
  // A second set-up (SetIpPort) first releases the socket and buffers of the first, so that the
  // new socket can bind the same port.
  Release(false);
  udpState = UDPState{};
  supervision = LinkSupervision{};
  this->localPort = localPort;
  this->targetIP = targetIP != nullptr ? targetIP : "";
  this->targetPort = targetPort;

  bool usable = true;
  if (sendLength < kMinLength || recvLength < kMinLength) {
    Line(
        "[Error] UDP datagram lengths must be at least %d bytes (send %d, receive %d); "
        "the endpoint is not set up.",
        kMinLength, sendLength, recvLength);
    usable = false;
  } else {
    recvBuf.reset(new (std::nothrow) uint8_t[recvLength]());
    recvCopy.reset(new (std::nothrow) uint8_t[recvLength]());
    sendBuf.reset(new (std::nothrow) uint8_t[sendLength]());
    if (!recvBuf || !recvCopy || !sendBuf) {
      Line(
          "[Error] UDP buffers of %d and %d bytes could not be allocated; the endpoint is not "
          "set up.",
          sendLength, recvLength);
      recvBuf.reset();
      recvCopy.reset();
      sendBuf.reset();
      usable = false;
    }
  }

  bool blocking_checked = true;
  if (usable) {
    socketfd = socket(AF_INET, SOCK_DGRAM, 0);
    if (socketfd < 0) perror("[Error] Socket init failed");

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(localPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(socketfd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      perror("[Error] Bind client ip&port failed");
    }

    sockaddr_in& peer = transportState.peerAddr;
    peer = sockaddr_in{};
    peer.sin_family = AF_INET;
    if (connected) {
      if (targetIP == nullptr) {
        Line("[Error] Connect failed: no target IP given.");
      } else {
        peer.sin_addr.s_addr = inet_addr(targetIP);
        peer.sin_port = htons(targetPort);
        if (connect(socketfd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
          perror("[Error] Connect failed");
          Line("target IP:%s", targetIP);
        }
      }
    }

    if (recvTimeoutMs < 0) {
      const int flags = fcntl(socketfd, F_GETFL);
      if (flags == -1) {
        Line("[Error] fcntl F_GETFL failed.");
        blocking_checked = false;
      } else if (fcntl(socketfd, F_SETFL, flags | O_NONBLOCK) == -1) {
        Line("[Error] fcntl F_SETFL failed.");
      }
    }
  }

  DestroyLocks();  // initialising a live mutex again is undefined
  pthread_mutex_init(&recvMutex, nullptr);
  pthread_mutex_init(&sendMutex, nullptr);
  pthread_mutex_init(&sockMutex, nullptr);
  locksReady_ = true;

  if (usable && blocking_checked) {
    Line("UDP Initialized. socketfd: %d   Port: %u", socketfd, static_cast<unsigned>(localPort));
  }
}

void UDP::SetIpPort(const char* targetIP, uint16_t targetPort) {
  connected = true;
  init(localPort, targetIP, targetPort);
}

void UDP::SetRecvTimeout(int time) {
  recvTimeoutMs = time;
}

void UDP::SetDisconnectTime(float callback_dt, float disconnectTime) {
  if (SetThreshold(callback_dt, disconnectTime, "SetDisconnectTime",
                   transportState.disconnectThreshold)) {
    autoDisconnect = true;
  }
}

void UDP::SetAccessibleTime(float callback_dt, float accessibleTime) {
  SetThreshold(callback_dt, accessibleTime, "SetAccessibleTime",
               transportState.accessibleThreshold);
}

namespace {

// Whether a copy of `need` bytes fits a buffer of `length`; otherwise the line that says why.
bool Fits(bool set_up, int length, int need, const char* what, const char* direction) {
  if (set_up && length >= need && length >= kMinLength) return true;
  if (!set_up) {
    Line("[Error] %s refused: the endpoint is not set up.", what);
  } else {
    Line("[Error] %s refused: it needs a %s length of at least %d bytes, the endpoint has %d.",
         what, direction, need, length);
  }
  return false;
}

}  // namespace

bool UDP::SendReady(int need, const char* what) {
  return Fits(sendBuf != nullptr, sendLength, need, what, "send");
}

bool UDP::RecvReady(int need, const char* what) {
  return Fits(recvCopy != nullptr, recvLength, need, what, "receive");
}

int UDP::Send() {
  if (!connected) return 0;
  if (!SendReady(kMinLength, "Send")) return -1;
  pthread_mutex_lock(&sendMutex);
  pthread_mutex_lock(&sockMutex);
  const ssize_t sent = send(socketfd, sendBuf.get(), static_cast<size_t>(sendLength), 0);
  pthread_mutex_unlock(&sockMutex);
  pthread_mutex_unlock(&sendMutex);
  udpState.SendCount++;
  return static_cast<int>(sent);
}

int UDP::SetSend(HighCmd& cmd) {
  if (!SendReady(HIGH_CMD_LENGTH, "SetSend(HighCmd)")) return -1;
  cmd.crc = crc32(reinterpret_cast<const uint32_t*>(&cmd), covered_words(HIGH_CMD_LENGTH));
  pthread_mutex_lock(&sendMutex);
  std::memcpy(sendBuf.get(), &cmd, sizeof cmd);
  pthread_mutex_unlock(&sendMutex);
  return 0;
}

int UDP::SetSend(LowCmd& cmd) {
  if (!SendReady(LOW_CMD_LENGTH, "SetSend(LowCmd)")) return -1;
  pthread_mutex_lock(&stagingMutex);
  refineCmd(udp_lowcmd, cmd);  // outside the send lock, so a Send in flight is not held up
  pthread_mutex_lock(&sendMutex);
  std::memcpy(sendBuf.get(), &udp_lowcmd, sizeof udp_lowcmd);
  pthread_mutex_unlock(&sendMutex);
  pthread_mutex_unlock(&stagingMutex);
  return 0;
}

int UDP::SetSend(char* buf) {
  if (buf == nullptr) {
    Line("[Error] SetSend refused: no buffer given.");
    return -1;
  }
  // strncmp stops at a terminating zero, so any text that begins with a command matches it.
  if (std::strncmp(buf, "[maskChkSum]", 12) == 0) {
    if (!SendReady(kMinLength, "SetSend([maskChkSum])")) return -1;
    encryptCRC(sendBuf.get(), &sendMutex, static_cast<uint32_t>(sendLength));
    return 0;
  }
  if (std::strncmp(buf, "[openDiagMode]", 14) == 0) {
    transportState.developer = true;
    return 0;
  }
  if (!SendReady(kMinLength, "SetSend")) return -1;
  const uint32_t crc = crc32(reinterpret_cast<const uint32_t*>(buf), covered_words(sendLength));
  torvane_datagram::StoreLE32(reinterpret_cast<uint8_t*>(buf) + sendLength - 4, crc);
  pthread_mutex_lock(&sendMutex);
  std::memcpy(sendBuf.get(), buf, static_cast<size_t>(sendLength));
  pthread_mutex_unlock(&sendMutex);
  return 0;
}

void UDP::GetRecv(HighState& state) {
  if (!RecvReady(HIGH_STATE_LENGTH, "GetRecv(HighState)")) return;
  pthread_mutex_lock(&recvMutex);
  std::memcpy(&state, recvCopy.get(), sizeof state);
  pthread_mutex_unlock(&recvMutex);
}

void UDP::GetRecv(LowState& state) {
  if (!RecvReady(LOW_STATE_LENGTH, "GetRecv(LowState)")) return;
  pthread_mutex_lock(&stagingMutex);
  pthread_mutex_lock(&recvMutex);
  std::memcpy(&udp_lowstate, recvCopy.get(), sizeof udp_lowstate);
  pthread_mutex_unlock(&recvMutex);
  refineState(state, udp_lowstate);
  pthread_mutex_unlock(&stagingMutex);
}

void UDP::GetRecv(char* buf) {
  if (buf == nullptr) {
    Line("[Error] GetRecv refused: no buffer given.");
    return;
  }
  if (!RecvReady(kMinLength, "GetRecv")) return;
  pthread_mutex_lock(&recvMutex);
  std::memcpy(buf, recvCopy.get(), static_cast<size_t>(recvLength));
  pthread_mutex_unlock(&recvMutex);
}

}  // namespace TORVANE
