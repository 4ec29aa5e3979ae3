// UDP endpoint: one end of a datagram link with the robot's controller.
//
// An endpoint owns one IPv4 datagram socket and three buffers. As a client it is connected to
// the peer given at construction; as a server it learns its client from the first valid
// datagram that a draining or timed Recv takes, and may drop it again after a silence
// (autoDisconnect). An endpoint bound to port 0 keeps the port it was given across a drop.
//
// Threads: one thread may send (SetSend, Send) while another receives (Recv, GetRecv). Locks:
// sendMutex guards sendBuf, recvMutex guards recvCopy, sockMutex the socket; the order is
// sendMutex before sockMutex (Send) and sockMutex before recvMutex (Recv). Low-level SetSend
// and GetRecv also hold one process-wide staging lock, taken before sendMutex or recvMutex,
// while they use the shared records udp_lowcmd and udp_lowstate, so they may run on any number
// of threads and endpoints at once.
//
// Recv runs in one thread at a time in the whole process: whatever the endpoint, never two
// Recv calls at once. The timed wait's descriptor sets and the peer address it learns into are
// process-wide and not locked. Each endpoint supervises its own link; the two thresholds
// (SetDisconnectTime, SetAccessibleTime) are process-wide.
//
// Nothing here throws. Failures are reported by return values and by one line on standard
// output ("[Error] ...") or, for failed socket calls, through perror on standard error.
#pragma once

#include <netinet/in.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/time.h>

#include <cstdint>
#include <memory>
#include <string>

#include "torvane/records.h"
#include "torvane/transport_state.h"

namespace TORVANE {

// Receive mode given to the constructors.
enum RecvEnum : uint32_t {
  nonBlock = 0,      // non-blocking socket; each Recv drains the queue and keeps the last datagram
  block = 1,         // non-blocking socket; each Recv reads at most one datagram
  blockTimeout = 2,  // blocking socket; each Recv waits up to recvTimeoutMs (2 ms), then drains
};

// Descriptor sets and time values of the timed wait, shared by the whole process.
extern fd_set fdOverTime;
extern fd_set fdClearBuf;
extern timeval timeout;
extern timeval bufferClear;

class UDP {
 public:
  // Client of one protocol level: 0xEE (129/1087 bytes) or 0xFF (614/807 bytes). Any other
  // level prints "Level Flag Error." and ends the process with exit status -1.
  UDP(uint8_t level, uint16_t localPort, const char* targetIP, uint16_t targetPort);
  // Client with free datagram lengths (at least 4 bytes each).
  UDP(uint16_t localPort, const char* targetIP, uint16_t targetPort, int sendLength, int recvLength,
      bool autoDisconnect, RecvEnum recvType);
  // Server that learns its client; with deferInit nothing is set up until SetIpPort.
  UDP(uint16_t localPort, int sendLength, int recvLength, bool autoDisconnect, RecvEnum recvType,
      bool deferInit);
  // Prints "Closing UDP.", shuts the socket down ("[Error] Close UDP Failed." if that fails),
  // closes it and frees the buffers.
  ~UDP();
  UDP(const UDP&) = delete;
  UDP& operator=(const UDP&) = delete;

  // Sets the endpoint up: counters reset, zeroed buffers, socket bound to localPort and, for a
  // client, connected to targetIP:targetPort. Releases an earlier set-up first. Reports failures
  // by messages only; a failed step leaves an endpoint whose calls fail at the socket.
  void init(uint16_t localPort, const char* targetIP, uint16_t targetPort);
  // Makes the endpoint a client of targetIP:targetPort (runs init again in full). Not while
  // another thread uses the endpoint.
  void SetIpPort(const char* targetIP, uint16_t targetPort);
  // Timeout of Recv in milliseconds: above 0 Recv waits up to that long. Does not change the
  // socket's blocking mode.
  void SetRecvTimeout(int time);
  // Process-wide: a client silent for disconnectTime seconds (counted in Recv calls of period
  // callback_dt) is dropped; turns autoDisconnect on.
  void SetDisconnectTime(float callback_dt, float disconnectTime);
  // Process-wide: accessible turns false after accessibleTime seconds without a valid datagram.
  void SetAccessibleTime(float callback_dt, float accessibleTime);

  // Sends sendBuf as one datagram under sendMutex then sockMutex. Returns the bytes sent or -1;
  // 0 without sending while no peer is known.
  int Send();
  // Takes the latest datagram, checks header and checksum, publishes it to recvCopy and advances
  // the link supervision. Returns 0 published, 1 client dropped, -1 bad header or nothing read,
  // -2 timed wait expired, -3 bad checksum, -4 no peer. Without a peer, only a datagram that
  // passes the same checks teaches the client; a call that read only rejected datagrams returns
  // the last one's -1 or -3. One thread at a time in the whole process.
  int Recv();

  // Stamps cmd.crc (in the caller's record) and copies the 129 bytes into sendBuf. Returns 0,
  // or -1 if the endpoint's send length is below 129.
  int SetSend(HighCmd& cmd);
  // Packs cmd into udp_lowcmd and copies the 614 bytes into sendBuf. Returns 0, or -1 if the
  // endpoint's send length is below 614.
  int SetSend(LowCmd& cmd);
  // "[maskChkSum]" scrambles the checksum in sendBuf; "[openDiagMode]" turns developer checksum
  // mode on for the process; anything else is a raw datagram of sendLength bytes whose last four
  // bytes get the checksum (in the caller's buffer) before it is copied. Returns 0, or -1.
  int SetSend(char* buf);
  // Copies the latest valid datagram (1087 bytes) into state; refused below that length.
  void GetRecv(HighState& state);
  // Copies 807 bytes into udp_lowstate and unpacks them into state; refused below that length.
  void GetRecv(LowState& state);
  // Copies recvLength bytes of the latest valid datagram into buf.
  void GetRecv(char* buf);

  // Fill a fresh command's header, level flag and (low level) safe motor defaults.
  void InitCmdData(HighCmd& cmd);
  void InitCmdData(LowCmd& cmd);

  UDPState udpState{};
  std::string targetIP;  // peer address text; empty while a server has no client
  uint16_t targetPort = 0;
  uint16_t localPort = 0;
  bool accessible = false;
  int socketfd = -1;
  bool connected = false;
  int sendLength = 0;
  int recvLength = 0;
  std::unique_ptr<uint8_t[]> recvBuf;
  std::unique_ptr<uint8_t[]> recvCopy;
  std::unique_ptr<uint8_t[]> sendBuf;
  pthread_mutex_t sendMutex;
  pthread_mutex_t recvMutex;
  pthread_mutex_t sockMutex;
  bool drainAll = true;
  int recvTimeoutMs = -1;
  bool autoDisconnect = false;
  // This endpoint's own link supervision (idle and disconnect counts, relisten window): only its
  // own Recv calls and datagrams advance or reset it. Read it; Recv and init write it.
  LinkSupervision supervision;

 private:
  enum class Stranger { kLearned, kDiscarded, kRejected, kConnectFailed };
  void SetMode(RecvEnum recvType);
  void Release(bool closing);
  void DestroyLocks();
  bool SendReady(int need, const char* what);
  bool RecvReady(int need, const char* what);
  int RecvTimed();
  int RecvPolled();
  int Check() const;
  Stranger TakeFromStranger(int& check);
  int CheckAndPublish();
  void DropClient();
  void KeepLocalPort(const sockaddr_in& before);

  bool locksReady_ = false;
};

}  // namespace TORVANE
