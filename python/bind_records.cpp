// The twelve records: one class each, a default constructor giving a zero-filled record, and
// every field a read-write property. Embedded records and record arrays read as live views that
// keep their parent alive; scalar arrays read as new lists. Components are registered before
// the records that embed them, so that the property signatures name their Python classes.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings.h"
#include "torvane/records.h"

namespace py = pybind11;
using namespace TORVANE;

namespace torvane_python {
namespace {

// The frame header that all four frame records share.
template <typename Record>
void frame_header(py::class_<Record>& c) {
  c.def_readwrite("head", &Record::head)
      .def_readwrite("levelFlag", &Record::levelFlag)
      .def_readwrite("frameReserve", &Record::frameReserve)
      .def_readwrite("SN", &Record::SN)
      .def_readwrite("version", &Record::version)
      .def_readwrite("bandWidth", &Record::bandWidth);
}

// imu .. footForceEst, identical in both state records.
template <typename Record>
void state_body(py::class_<Record>& c) {
  c.def_readwrite("imu", &Record::imu)
      .def_readwrite("motorState", &Record::motorState)
      .def_readwrite("bms", &Record::bms)
      .def_readwrite("footForce", &Record::footForce)
      .def_readwrite("footForceEst", &Record::footForceEst);
}

template <typename Record>
void frame_tail(py::class_<Record>& c) {
  c.def_readwrite("wirelessRemote", &Record::wirelessRemote)
      .def_readwrite("reserve", &Record::reserve)
      .def_readwrite("crc", &Record::crc);
}

}  // namespace

void bind_records(py::module_& m) {
  // Each instance carries one more pointer: a view's place in its parent's cache, or a parent's
  // cache of views (bind_record_views.cpp).
  const py::custom_type_setup component(view_component_setup);
  const py::custom_type_setup parent(view_parent_setup);

  py::class_<BmsCmd>(m, "BmsCmd", component)
      .def(py::init<>())
      .def_readwrite("off", &BmsCmd::off)
      .def_readwrite("reserve", &BmsCmd::reserve);

  py::class_<BmsState>(m, "BmsState", component)
      .def(py::init<>())
      .def_readwrite("version_h", &BmsState::version_h)
      .def_readwrite("version_l", &BmsState::version_l)
      .def_readwrite("bms_status", &BmsState::bms_status)
      .def_readwrite("SOC", &BmsState::SOC)
      .def_readwrite("current", &BmsState::current)
      .def_readwrite("cycle", &BmsState::cycle)
      .def_readwrite("BQ_NTC", &BmsState::BQ_NTC)
      .def_readwrite("MCU_NTC", &BmsState::MCU_NTC)
      .def_readwrite("cell_vol", &BmsState::cell_vol);

  py::class_<Cartesian>(m, "Cartesian", component)
      .def(py::init<>())
      .def_readwrite("x", &Cartesian::x)
      .def_readwrite("y", &Cartesian::y)
      .def_readwrite("z", &Cartesian::z);

  py::class_<IMU>(m, "IMU", component)
      .def(py::init<>())
      .def_readwrite("quaternion", &IMU::quaternion)
      .def_readwrite("gyroscope", &IMU::gyroscope)
      .def_readwrite("accelerometer", &IMU::accelerometer)
      .def_readwrite("rpy", &IMU::rpy)
      .def_readwrite("temperature", &IMU::temperature);

  py::class_<LED>(m, "LED", component)
      .def(py::init<>())
      .def_readwrite("r", &LED::r)
      .def_readwrite("g", &LED::g)
      .def_readwrite("b", &LED::b);

  py::class_<MotorState>(m, "MotorState", component)
      .def(py::init<>())
      .def_readwrite("mode", &MotorState::mode)
      .def_readwrite("q", &MotorState::q)
      .def_readwrite("dq", &MotorState::dq)
      .def_readwrite("ddq", &MotorState::ddq)
      .def_readwrite("tauEst", &MotorState::tauEst)
      .def_readwrite("q_raw", &MotorState::q_raw)
      .def_readwrite("dq_raw", &MotorState::dq_raw)
      .def_readwrite("ddq_raw", &MotorState::ddq_raw)
      .def_readwrite("temperature", &MotorState::temperature)
      .def_readwrite("reserve", &MotorState::reserve);

  py::class_<MotorCmd>(m, "MotorCmd", component)
      .def(py::init<>())
      .def_readwrite("mode", &MotorCmd::mode)
      .def_readwrite("q", &MotorCmd::q)
      .def_readwrite("dq", &MotorCmd::dq)
      .def_readwrite("tau", &MotorCmd::tau)
      .def_readwrite("Kp", &MotorCmd::Kp)
      .def_readwrite("Kd", &MotorCmd::Kd)
      .def_readwrite("reserve", &MotorCmd::reserve);

  py::class_<LowState> low_state(m, "LowState", parent);
  low_state.def(py::init<>());
  frame_header(low_state);
  state_body(low_state);
  low_state.def_readwrite("tick", &LowState::tick);
  frame_tail(low_state);

  py::class_<LowCmd> low_cmd(m, "LowCmd", parent);
  low_cmd.def(py::init<>());
  frame_header(low_cmd);
  low_cmd.def_readwrite("motorCmd", &LowCmd::motorCmd).def_readwrite("bms", &LowCmd::bms);
  frame_tail(low_cmd);

  py::class_<HighState> high_state(m, "HighState", parent);
  high_state.def(py::init<>());
  frame_header(high_state);
  state_body(high_state);
  high_state.def_readwrite("mode", &HighState::mode)
      .def_readwrite("progress", &HighState::progress)
      .def_readwrite("gaitType", &HighState::gaitType)
      .def_readwrite("footRaiseHeight", &HighState::footRaiseHeight)
      .def_readwrite("position", &HighState::position)
      .def_readwrite("bodyHeight", &HighState::bodyHeight)
      .def_readwrite("velocity", &HighState::velocity)
      .def_readwrite("yawSpeed", &HighState::yawSpeed)
      .def_readwrite("rangeObstacle", &HighState::rangeObstacle)
      .def_readwrite("footPosition2Body", &HighState::footPosition2Body)
      .def_readwrite("footSpeed2Body", &HighState::footSpeed2Body);
  frame_tail(high_state);

  py::class_<HighCmd> high_cmd(m, "HighCmd", parent);
  high_cmd.def(py::init<>());
  frame_header(high_cmd);
  high_cmd.def_readwrite("mode", &HighCmd::mode)
      .def_readwrite("gaitType", &HighCmd::gaitType)
      .def_readwrite("speedLevel", &HighCmd::speedLevel)
      .def_readwrite("footRaiseHeight", &HighCmd::footRaiseHeight)
      .def_readwrite("bodyHeight", &HighCmd::bodyHeight)
      .def_readwrite("position", &HighCmd::position)
      .def_readwrite("euler", &HighCmd::euler)
      .def_readwrite("velocity", &HighCmd::velocity)
      .def_readwrite("yawSpeed", &HighCmd::yawSpeed)
      .def_readwrite("bms", &HighCmd::bms)
      .def_readwrite("led", &HighCmd::led);
  frame_tail(high_cmd);

  py::class_<UDPState>(m, "UDPState")
      .def(py::init<>())
      .def_readwrite("TotalCount", &UDPState::TotalCount)
      .def_readwrite("SendCount", &UDPState::SendCount)
      .def_readwrite("RecvCount", &UDPState::RecvCount)
      .def_readwrite("SendError", &UDPState::SendError)
      .def_readwrite("FlagError", &UDPState::FlagError)
      .def_readwrite("RecvCRCError", &UDPState::RecvCRCError)
      .def_readwrite("RecvLoseError", &UDPState::RecvLoseError);
}

}  // namespace torvane_python
