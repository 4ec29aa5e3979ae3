// DDS for the bridge's tests: a domain of this process's own, on the loopback interface only,
// without multicast, so that nothing leaves the machine and parallel runs do not meet.
#pragma once

#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace torvane_bridge_test {

inline const char* LoopbackConfig() {
  return "<General><Interfaces><NetworkInterface name=\"lo\"/></Interfaces>"
         "<AllowMulticast>false</AllowMulticast></General>"
         "<Discovery><ParticipantIndex>auto</ParticipantIndex>"
         "<MaxAutoParticipantIndex>30</MaxAutoParticipantIndex>"
         "<Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>";
}

// The same without peers: nothing is discovered beyond this process, so tests that use fixed
// topic names cannot meet another run of themselves.
inline const char* ProcessOnlyConfig() {
  return "<General><Interfaces><NetworkInterface name=\"lo\"/></Interfaces>"
         "<AllowMulticast>false</AllowMulticast></General>"
         "<Discovery><ParticipantIndex>none</ParticipantIndex></Discovery>";
}

// A domain id for this process: 100..199 by process id (a DDS domain spans every process that
// joins it on the machine; distinct namespaces keep the rest apart).
inline uint32_t TestDomain() {
  return 100 + static_cast<uint32_t>(getpid()) % 100;
}

// Waits up to 10 s for a sample on `reader` and returns its serialized form: the 4-byte
// encapsulation header and the CDR body, as it travels. Empty on timeout.
inline std::vector<uint8_t> TakeSerialized(dds_entity_t reader) {
  const dds_entity_t ws = dds_create_waitset(dds_get_participant(reader));
  const dds_entity_t cond = dds_create_readcondition(reader, DDS_ANY_STATE);
  dds_waitset_attach(ws, cond, 0);
  dds_waitset_wait(ws, nullptr, 0, DDS_SECS(10));
  std::vector<uint8_t> bytes;
  ddsi_serdata* sd = nullptr;
  dds_sample_info_t info;
  if (dds_takecdr(reader, &sd, 1, &info, DDS_ANY_STATE) == 1 && sd != nullptr) {
    bytes.resize(ddsi_serdata_size(sd));
    ddsi_serdata_to_ser(sd, 0, bytes.size(), bytes.data());
    ddsi_serdata_unref(sd);
  }
  dds_delete(cond);
  dds_delete(ws);
  return bytes;
}

// Little-endian encodings of single values, for images whose layout is written out by hand.
inline void U32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline void F64(std::vector<uint8_t>& v, double d) {
  uint64_t x = 0;
  static_assert(sizeof d == sizeof x, "double");
  __builtin_memcpy(&x, &d, sizeof x);
  for (int i = 0; i < 8; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline void Bytes(std::vector<uint8_t>& v, std::initializer_list<uint8_t> b) {
  v.insert(v.end(), b);
}
inline void Text(std::vector<uint8_t>& v, const std::string& s) {  // characters and the NUL
  v.insert(v.end(), s.begin(), s.end());
  v.push_back(0);
}

}  // namespace torvane_bridge_test
