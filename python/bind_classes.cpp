// LeggedType, RecvEnum, UDP and Safety.
//
// Every call runs with the interpreter lock held, except a Recv that waits (receive_lock.h);
// Recv, the constructors and the setters take the process-wide receive lock. The SDK members are
// reached with the parameter types they declare, so conversions, signatures and messages are the
// binding library's own. The few wrappers refuse, before any SDK code runs, what the endpoint
// cannot take: a None text, a text shorter than the length the SDK reads or writes, a record larger
// than the endpoint's buffer, and lengths that cannot hold a checksum.
#include <pybind11/pybind11.h>

#include <cstring>
#include <memory>
#include <string>

#include "bindings.h"
#include "receive_lock.h"
#include "torvane/records.h"
#include "torvane/safety.h"
#include "torvane/udp.h"

namespace py = pybind11;
using namespace TORVANE;

namespace torvane_python {
namespace {

constexpr int kMinLength = 4;

void CheckLengths(int sendLength, int recvLength) {
  if (sendLength < kMinLength || recvLength < kMinLength) {
    throw py::value_error("UDP: sendLength (" + std::to_string(sendLength) + ") and recvLength (" +
                          std::to_string(recvLength) + ") must be at least " +
                          std::to_string(kMinLength) + " bytes");
  }
}

void CheckFits(const char* call, const char* record, int amount, const char* length_name,
               int length) {
  if (length < amount) {
    throw py::value_error(std::string(call) + ": a " + record + " is " + std::to_string(amount) +
                          " bytes, more than the endpoint's " + length_name + " of " +
                          std::to_string(length));
  }
}

void CheckText(const char* call, const std::string& text, const char* length_name, int length) {
  if (static_cast<long long>(text.size()) < length) {
    throw py::value_error(std::string(call) + ": the text holds " + std::to_string(text.size()) +
                          " bytes, fewer than the endpoint's " + length_name + " of " +
                          std::to_string(length));
  }
}

bool IsCommandText(const std::string& text) {
  return std::strncmp(text.c_str(), "[maskChkSum]", 12) == 0 ||
         std::strncmp(text.c_str(), "[openDiagMode]", 14) == 0;
}

// Raises what a signal handler raised while the call waited for the receive lock.
void Require(const ReceiveLock& lock) {
  if (!lock.Ok()) throw py::error_already_set();
}

}  // namespace

void bind_enums(py::module_& m) {
  py::enum_<LeggedType>(m, "LeggedType")
      .value("Zorvan", LeggedType::Zorvan)
      .value("Pellix", LeggedType::Pellix)
      .value("Tamrin", LeggedType::Tamrin)
      .value("Vesko", LeggedType::Vesko)
      .export_values();
  py::enum_<RecvEnum>(m, "RecvEnum")
      .value("nonBlock", RecvEnum::nonBlock)
      .value("block", RecvEnum::block)
      .value("blockTimeout", RecvEnum::blockTimeout)
      .export_values();
}

// Texts come in as std::string: the same "str" in the signatures and the same str, bytes and
// bytearray conversions as a char*, but with their length known and None refused by overload
// resolution (a TypeError).
void bind_udp(py::module_& m) {
  py::class_<UDP>(m, "UDP")
      .def(py::init(
          [](uint8_t level, uint16_t localPort, const std::string& targetIP, uint16_t targetPort) {
            ReceiveLock lock;
            Require(lock);
            return std::make_unique<UDP>(level, localPort, targetIP.c_str(), targetPort);
          }))
      .def(py::init([](uint16_t localPort, const std::string& targetIP, uint16_t targetPort,
                       int sendLength, int recvLength, bool autoDisconnect, RecvEnum recvType) {
        CheckLengths(sendLength, recvLength);
        ReceiveLock lock;
        Require(lock);
        return std::make_unique<UDP>(localPort, targetIP.c_str(), targetPort, sendLength,
                                     recvLength, autoDisconnect, recvType);
      }))
      .def(py::init([](uint16_t localPort, int sendLength, int recvLength, bool autoDisconnect,
                       RecvEnum recvType, bool deferInit) {
        CheckLengths(sendLength, recvLength);
        ReceiveLock lock;
        Require(lock);
        return std::make_unique<UDP>(localPort, sendLength, recvLength, autoDisconnect, recvType,
                                     deferInit);
      }))
      .def("SetIpPort",
           [](UDP& self, const std::string& targetIP, uint16_t targetPort) {
             ReceiveLock lock;
             Require(lock);
             self.SetIpPort(targetIP.c_str(), targetPort);
           })
      .def("SetRecvTimeout",
           [](UDP& self, int time) {
             ReceiveLock lock;
             Require(lock);
             self.SetRecvTimeout(time);
           })
      .def("SetDisconnectTime",
           [](UDP& self, float callback_dt, float disconnectTime) {
             ReceiveLock lock;
             Require(lock);
             self.SetDisconnectTime(callback_dt, disconnectTime);
           })
      .def("SetAccessibleTime",
           [](UDP& self, float callback_dt, float accessibleTime) {
             ReceiveLock lock;
             Require(lock);
             self.SetAccessibleTime(callback_dt, accessibleTime);
           })
      .def("Send", &UDP::Send)
      .def("Recv",
           [](UDP& self) -> int {
             PyObject* const result = ReceiveCall(self);
             if (result == nullptr) throw py::error_already_set();
             const long value = PyLong_AsLong(result);
             Py_DECREF(result);
             return static_cast<int>(value);
           })
      .def("InitCmdData", py::overload_cast<HighCmd&>(&UDP::InitCmdData))
      .def("InitCmdData", py::overload_cast<LowCmd&>(&UDP::InitCmdData))
      .def("SetSend",
           [](UDP& self, std::string& text) -> int {
             if (!IsCommandText(text)) CheckText("SetSend", text, "sendLength", self.sendLength);
             // "[openDiagMode]" changes how Recv checks checksums.
             ReceiveLock lock;
             Require(lock);
             return self.SetSend(&text[0]);
           })
      .def("SetSend",
           [](UDP& self, HighCmd& cmd) -> int {
             CheckFits("SetSend", "HighCmd", HIGH_CMD_LENGTH, "sendLength", self.sendLength);
             return self.SetSend(cmd);
           })
      .def("SetSend",
           [](UDP& self, LowCmd& cmd) -> int {
             CheckFits("SetSend", "LowCmd", LOW_CMD_LENGTH, "sendLength", self.sendLength);
             return self.SetSend(cmd);
           })
      .def("GetRecv",
           [](UDP& self, std::string& text) {
             CheckText("GetRecv", text, "recvLength", self.recvLength);
             self.GetRecv(&text[0]);
           })
      .def("GetRecv",
           [](UDP& self, HighState& state) {
             CheckFits("GetRecv", "HighState", HIGH_STATE_LENGTH, "recvLength", self.recvLength);
             self.GetRecv(state);
           })
      .def("GetRecv", [](UDP& self, LowState& state) {
        CheckFits("GetRecv", "LowState", LOW_STATE_LENGTH, "recvLength", self.recvLength);
        self.GetRecv(state);
      });
}

void bind_safety(py::module_& m) {
  py::class_<Safety>(m, "Safety")
      .def(py::init<LeggedType>())
      .def("PositionLimit", &Safety::PositionLimit)
      .def("PowerProtect", &Safety::PowerProtect)
      .def("PositionProtect", &Safety::PositionProtect);
}

}  // namespace torvane_python
