"""Parameter names and one-line docs for the type stubs (python/stubs.py puts them in).

The module's own signatures keep the binding library's positional names (arg0, arg1, ...); the
stubs give each parameter its real name, still positional-only, and every call and field a line
with its units, so that an editor can help. Units are those of the robot's controller as
torvane-sim reproduces them; fields that the SDK only carries are marked so.
"""

# Parameter names per overload, in the module's overload order.
PARAMS = {
    "UDP.__init__": [
        ["level", "localPort", "targetIP", "targetPort"],
        ["localPort", "targetIP", "targetPort", "sendLength", "recvLength", "autoDisconnect",
         "recvType"],
        ["localPort", "sendLength", "recvLength", "autoDisconnect", "recvType", "deferInit"],
    ],
    "UDP.SetIpPort": [["targetIP", "targetPort"]],
    "UDP.SetRecvTimeout": [["timeoutMs"]],
    "UDP.SetDisconnectTime": [["callback_dt", "disconnectTime"]],
    "UDP.SetAccessibleTime": [["callback_dt", "accessibleTime"]],
    "UDP.InitCmdData": [["cmd"], ["cmd"]],
    "UDP.SetSend": [["data"], ["cmd"], ["cmd"]],
    "UDP.GetRecv": [["buffer"], ["state"], ["state"]],
    "Safety.__init__": [["type"]],
    "Safety.PositionLimit": [["cmd"]],
    "Safety.PowerProtect": [["cmd", "state", "factor"]],
    "Safety.PositionProtect": [["cmd", "state", "limit"]],
}

# One line per overload, in the module's overload order.
METHOD_DOCS = {
    "UDP.__init__": [
        "Client of one level: 0xEE (high, 129-byte commands, 1087-byte states) or 0xFF (low, "
        "614/807); any other level ends the process (status 255).",
        "Client with free datagram lengths [bytes] and receive mode; peer at targetIP:targetPort.",
        "Server that learns its client from the first datagram; with deferInit, nothing is set up "
        "until SetIpPort.",
    ],
    "UDP.SetIpPort": ["Makes the endpoint a client of targetIP:targetPort (sets it up afresh)."],
    "UDP.SetRecvTimeout": ["Receive timeout [ms]: above 0 each Recv waits up to that long."],
    "UDP.SetDisconnectTime": [
        "Drops a silent client after disconnectTime [s], counted in Recv calls of callback_dt [s]; "
        "process-wide."],
    "UDP.SetAccessibleTime": [
        "The link counts as lost after accessibleTime [s] without a valid state, counted in Recv "
        "calls of callback_dt [s]; process-wide."],
    "UDP.Send": ["Sends the staged command; returns the bytes sent, -1 on failure, 0 with no peer."],
    "UDP.Recv": [
        "Takes the latest datagram: 0 valid state published, 1 client dropped, -1 nothing new or "
        "bad header, -2 timed out, -3 bad checksum, -4 no peer."],
    "UDP.InitCmdData": [
        "Sets the header and level flag of a fresh high-level command; everything else stays 0.",
        "Sets the header, level flag and safe defaults of all 20 motor slots (mode 10, stop "
        "values, no gains).",
    ],
    "UDP.SetSend": [
        "'[maskChkSum]' scrambles the staged checksum, '[openDiagMode]' turns developer checksum "
        "mode on; else a raw datagram. Returns 0.",
        "Stamps cmd.crc and stages the 129-byte command for Send. Returns 0.",
        "Packs the command into its 614-byte wire form and stages it for Send. Returns 0.",
    ],
    "UDP.GetRecv": [
        "Copies the latest valid datagram's raw bytes into the buffer.",
        "Copies the latest valid high-level state into state.",
        "Unpacks the latest valid low-level state into state.",
    ],
    "Safety.__init__": ["Guard with the joint ranges [rad] of one robot model."],
    "Safety.PositionLimit": ["Clamps the 12 leg targets cmd.motorCmd[0..11].q into the model's "
                             "joint ranges [rad]."],
    "Safety.PowerProtect": [
        "Switches the leg motors off (mode 0) when sum |tauEst*dq| stays above 1000 W x factor/10 "
        "(factor 1..10); 1 ok, -1 tripped."],
    "Safety.PositionProtect": [
        "Switches the leg motors off (mode 0) when a leg joint lies within limit [rad] of its range "
        "ends; 1 ok, -1 tripped."],
}

CLASS_DOCS = {
    "LeggedType": "Robot model: selects the safety guard's joint ranges.",
    "RecvEnum": "Receive mode of an endpoint: nonBlock drains every queued datagram, block reads "
                "one, blockTimeout waits up to 2 ms.",
    "UDP": "One end of the datagram link with the robot's controller, driven once per cycle.",
    "Safety": "Low-level safety guard: clamps joint targets, switches the leg motors off on "
              "over-power or a joint out of range.",
    "BmsCmd": "Command to the battery management.",
    "BmsState": "Battery management state.",
    "Cartesian": "A point or vector [m or m/s].",
    "IMU": "Inertial measurement of the body.",
    "LED": "One LED colour.",
    "MotorState": "State of one motor slot (slots 0-11: FR, FL, RR, RL x hip, thigh, calf).",
    "MotorCmd": "Command for one motor slot (slots 0-11: FR, FL, RR, RL x hip, thigh, calf).",
    "LowState": "Low-level state: one MotorState per slot plus IMU, battery and feet.",
    "LowCmd": "Low-level command: one MotorCmd per slot (slots 12-19 unused).",
    "HighState": "High-level state: body pose and motion, IMU, motors, battery and feet.",
    "HighCmd": "High-level command: body motion targets.",
    "UDPState": "An endpoint's seven traffic counters (Python cannot read an endpoint's own).",
}

# Field docs: "Class.field" first, then "field" for fields of the same meaning everywhere.
FIELD_DOCS = {
    # Frame header and trailer of the four datagram records.
    "head": "Frame header bytes, 0xFE 0xEF (InitCmdData sets them).",
    "levelFlag": "0xEE at the high level, 0xFF at the low level.",
    "frameReserve": "Reserved byte.",
    "SN": "Serial-number words, carried unchanged.",
    "version": "Version words, carried unchanged.",
    "bandWidth": "Carried unchanged.",
    "reserve": "Reserved, carried unchanged.",
    "crc": "Packet checksum (stamped by SetSend; its last bytes are covered by nothing).",
    "wirelessRemote": "40 raw bytes of the wireless remote, carried unchanged.",
    "bms": "Battery management.",
    "imu": "Inertial measurement of the body.",
    "footForce": "Foot contact forces FR, FL, RR, RL [sensor units].",
    "footForceEst": "Estimated foot contact forces FR, FL, RR, RL [sensor units].",
    "motorState": "20 motor slots: 0-11 are FR, FL, RR, RL x hip, thigh, calf; 12-19 unused.",
    "motorCmd": "20 motor slots: 0-11 are FR, FL, RR, RL x hip, thigh, calf; 12-19 unused.",
    "Cartesian.x": "x component [m or m/s].",
    "Cartesian.y": "y component [m or m/s].",
    "Cartesian.z": "z component [m or m/s].",
    "LED.r": "Red, 0-255.",
    "LED.g": "Green, 0-255.",
    "LED.b": "Blue, 0-255.",
    "IMU.quaternion": "Orientation quaternion w, x, y, z.",
    "IMU.gyroscope": "Angular rates about x, y, z [rad/s].",
    "IMU.accelerometer": "Accelerations along x, y, z [m/s^2].",
    "IMU.rpy": "Roll, pitch, yaw [rad].",
    "IMU.temperature": "Sensor temperature [deg C].",
    "BmsCmd.off": "Battery switch-off byte.",
    "BmsState.version_h": "Battery management version, high part.",
    "BmsState.version_l": "Battery management version, low part.",
    "BmsState.bms_status": "Status byte.",
    "BmsState.SOC": "State of charge [%].",
    "BmsState.current": "Battery current [mA], negative while discharging.",
    "BmsState.cycle": "Charge cycle count.",
    "BmsState.BQ_NTC": "Two battery temperatures [deg C].",
    "BmsState.MCU_NTC": "Two battery-controller temperatures [deg C].",
    "BmsState.cell_vol": "Ten cell voltages [mV] (32 mV steps at the low level).",
    "MotorCmd.mode": "10 drives the motor (tau = Kp*(q-q_meas) + Kd*(dq-dq_meas) + tau), 0 switches "
                     "it off.",
    "MotorCmd.q": "Target joint position [rad].",
    "MotorCmd.dq": "Target joint velocity [rad/s].",
    "MotorCmd.tau": "Feed-forward torque [N m] (1/256 N m steps on the wire).",
    "MotorCmd.Kp": "Stiffness [N m/rad] (1/32 steps on the wire, below 1024).",
    "MotorCmd.Kd": "Damping [N m s/rad] (1/16 steps on the wire, below 2048).",
    "MotorState.mode": "Current motor mode (10 driven, 0 off).",
    "MotorState.q": "Joint position [rad].",
    "MotorState.dq": "Joint velocity [rad/s].",
    "MotorState.ddq": "Joint acceleration [rad/s^2] (whole numbers at the low level).",
    "MotorState.tauEst": "Estimated joint torque [N m] (1/256 N m steps at the low level).",
    "MotorState.q_raw": "Raw joint position [rad].",
    "MotorState.dq_raw": "Raw joint velocity [rad/s].",
    "MotorState.ddq_raw": "Raw joint acceleration [rad/s^2].",
    "MotorState.temperature": "Motor temperature [deg C].",
    "LowState.tick": "Controller clock [ms].",
    "HighCmd.mode": "Mode: 0 idle, 1 stand, 2 walk at the commanded velocity (the controller's own).",
    "HighCmd.gaitType": "Gait selector (the controller's own).",
    "HighCmd.speedLevel": "Speed level (the controller's own).",
    "HighCmd.footRaiseHeight": "Foot raise height, offset from the default [m].",
    "HighCmd.bodyHeight": "Body height, offset from the default [m].",
    "HighCmd.position": "Position target x, y [m].",
    "HighCmd.euler": "Body attitude target roll, pitch, yaw [rad].",
    "HighCmd.velocity": "Velocity target forward, sideways in the body frame [m/s].",
    "HighCmd.yawSpeed": "Yaw rate target [rad/s], positive turns left.",
    "HighCmd.led": "Four LED colours.",
    "HighState.mode": "Current mode.",
    "HighState.progress": "Progress value of the current mode.",
    "HighState.gaitType": "Current gait.",
    "HighState.footRaiseHeight": "Foot raise height [m].",
    "HighState.position": "Body position x, y, z from the start [m].",
    "HighState.bodyHeight": "Body height [m].",
    "HighState.velocity": "Body velocity forward, sideways, up in the body frame [m/s].",
    "HighState.yawSpeed": "Yaw rate [rad/s].",
    "HighState.rangeObstacle": "Four obstacle distances [m].",
    "HighState.footPosition2Body": "Foot positions FR, FL, RR, RL relative to the body [m].",
    "HighState.footSpeed2Body": "Foot velocities FR, FL, RR, RL relative to the body [m/s].",
    "UDPState.TotalCount": "Never counted; 0.",
    "UDPState.SendCount": "Sends that reached the socket.",
    "UDPState.RecvCount": "Valid states published by Recv.",
    "UDPState.SendError": "Never counted; 0.",
    "UDPState.FlagError": "Never counted; 0.",
    "UDPState.RecvCRCError": "Datagrams rejected for their checksum.",
    "UDPState.RecvLoseError": "Recv calls that found nothing (or whose timed wait expired).",
}


def field_doc(cls: str, field: str) -> str:
    return FIELD_DOCS.get(f"{cls}.{field}", FIELD_DOCS.get(field, ""))
