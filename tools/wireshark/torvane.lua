-- Wireshark / tshark dissector for the torvane robot link (UDP).
--
-- Finds torvane datagrams by content on any UDP port: the header FE EF, a level flag EE or FF,
-- and one of the four datagram lengths. Once a flow has carried one, its later datagrams with
-- header and level flag are taken at any length, so that cut ones show as malformed; a payload
-- without both is never taken by content, whatever its flow or length. The "torvane.port"
-- preference names a port whose datagrams are always taken. Shows every field by its record
-- name, the packed low-level values both raw and scaled, the twenty motor slots by leg and
-- joint, and the checksum verdict.
--
--   tshark -X lua_script:torvane.lua -r capture.pcap
--
-- The layouts below mirror the C++ records byte for byte; a test compares the offsets this
-- dissector shows with offsetof() of the records.

-- Loaded twice (from a plugin folder and with -X lua_script:), the first copy serves.
local created, torvane = pcall(Proto.new, "torvane", "torvane robot link")
if not created then
  return
end

local band, bor, bxor = bit32.band, bit32.bor, bit32.bxor
local lshift, rshift = bit32.lshift, bit32.rshift

---------------------------------------------------------------------------------------------
-- Record layouts. A field is {name, type, count = n, unit = "...", scale = s, slots = true}:
-- type is a scalar type ("u8" "i8" "u16" "i16" "u32" "i32" "f32"), "bytes" (count bytes as one
-- item) or a nested layout. `scale` marks a packed value: shown value = raw * scale.

local SIZE = { u8 = 1, i8 = 1, u16 = 2, i16 = 2, u32 = 4, i32 = 4, f32 = 4 }

local HEADER = {
  { "head", "bytes", count = 2 },
  { "levelFlag", "u8" },
  { "frameReserve", "u8" },
  { "SN", "u32", count = 2 },
  { "version", "u32", count = 2 },
  { "bandWidth", "u16" },
}

local CARTESIAN = { { "x", "f32" }, { "y", "f32" }, { "z", "f32" } }
local LED = { { "r", "u8" }, { "g", "u8" }, { "b", "u8" } }

local IMU = {
  { "quaternion", "f32", count = 4 },
  { "gyroscope", "f32", count = 3, unit = "rad/s" },
  { "accelerometer", "f32", count = 3, unit = "m/s²" },
  { "rpy", "f32", count = 3, unit = "rad" },
  { "temperature", "i8", unit = "°C" },
}

local MOTOR_STATE = {
  { "mode", "u8" },
  { "q", "f32", unit = "rad" },
  { "dq", "f32", unit = "rad/s" },
  { "ddq", "f32", unit = "rad/s²" },
  { "tauEst", "f32", unit = "N·m" },
  { "q_raw", "f32", unit = "rad" },
  { "dq_raw", "f32", unit = "rad/s" },
  { "ddq_raw", "f32", unit = "rad/s²" },
  { "temperature", "i8", unit = "°C" },
  { "reserve", "u32", count = 2 },
}

local MOTOR_CMD_REFINE = {
  { "mode", "u8" },
  { "q", "f32", unit = "rad" },
  { "dq", "f32", unit = "rad/s" },
  { "tau", "i16", scale = 1 / 256, unit = "N·m" },
  { "Kp", "i16", scale = 1 / 32, unit = "N·m/rad" },
  { "Kd", "i16", scale = 1 / 16, unit = "N·m·s/rad" },
  { "reserve", "u32", count = 3 },
}

local MOTOR_STATE_REFINE = {
  { "mode", "u8" },
  { "q", "f32", unit = "rad" },
  { "dq", "f32", unit = "rad/s" },
  { "ddq", "i16", scale = 1, unit = "rad/s²" },
  { "tauEst", "i16", scale = 1 / 256, unit = "N·m" },
  { "q_raw", "f32", unit = "rad" },
  { "dq_raw", "f32", unit = "rad/s" },
  { "ddq_raw", "i16", scale = 1, unit = "rad/s²" },
  { "temperature", "i8", unit = "°C" },
  { "reserve", "u32", count = 2 },
}

local BMS_CMD = { { "off", "u8" }, { "reserve", "bytes", count = 3 } }

local function bms_state(cell_vol)
  return {
    { "version_h", "u8" },
    { "version_l", "u8" },
    { "bms_status", "u8" },
    { "SOC", "u8", unit = "%" },
    { "current", "i32", unit = "mA" },
    { "cycle", "u16" },
    { "BQ_NTC", "i8", count = 2, unit = "°C" },
    { "MCU_NTC", "i8", count = 2, unit = "°C" },
    cell_vol,
  }
end
local BMS_STATE = bms_state({ "cell_vol", "u16", count = 10, unit = "mV" })
local BMS_STATE_REFINE = bms_state({ "cell_vol", "u8", count = 10, scale = 32, unit = "mV" })

local function record(body)
  local fields = {}
  for _, f in ipairs(HEADER) do fields[#fields + 1] = f end
  for _, f in ipairs(body) do fields[#fields + 1] = f end
  fields[#fields + 1] = { "reserve", "u32" }
  fields[#fields + 1] = { "crc", "u32" }
  return fields
end

local HIGH_CMD = record({
  { "mode", "u8" },
  { "gaitType", "u8" },
  { "speedLevel", "u8" },
  { "footRaiseHeight", "f32", unit = "m" },
  { "bodyHeight", "f32", unit = "m" },
  { "position", "f32", count = 2, unit = "m" },
  { "euler", "f32", count = 3, unit = "rad" },
  { "velocity", "f32", count = 2, unit = "m/s" },
  { "yawSpeed", "f32", unit = "rad/s" },
  { "bms", BMS_CMD },
  { "led", LED, count = 4 },
  { "wirelessRemote", "bytes", count = 40 },
})

local HIGH_STATE = record({
  { "imu", IMU },
  { "motorState", MOTOR_STATE, count = 20, slots = true },
  { "bms", BMS_STATE },
  { "footForce", "i16", count = 4 },
  { "footForceEst", "i16", count = 4 },
  { "mode", "u8" },
  { "progress", "f32" },
  { "gaitType", "u8" },
  { "footRaiseHeight", "f32", unit = "m" },
  { "position", "f32", count = 3, unit = "m" },
  { "bodyHeight", "f32", unit = "m" },
  { "velocity", "f32", count = 3, unit = "m/s" },
  { "yawSpeed", "f32", unit = "rad/s" },
  { "rangeObstacle", "f32", count = 4, unit = "m" },
  { "footPosition2Body", CARTESIAN, count = 4, unit = "m" },
  { "footSpeed2Body", CARTESIAN, count = 4, unit = "m/s" },
  { "wirelessRemote", "bytes", count = 40 },
})

local LOW_CMD = record({
  { "motorCmd", MOTOR_CMD_REFINE, count = 20, slots = true },
  { "bms", BMS_CMD },
  { "wirelessRemote", "bytes", count = 40 },
})

local LOW_STATE = record({
  { "imu", IMU },
  { "motorState", MOTOR_STATE_REFINE, count = 20, slots = true },
  { "bms", BMS_STATE_REFINE },
  { "footForce", "i16", count = 4 },
  { "footForceEst", "i16", count = 4 },
  { "tick", "u32", unit = "ms" },
  { "wirelessRemote", "bytes", count = 40 },
})

local function layout_size(layout)
  local n = 0
  for _, f in ipairs(layout) do
    local one = type(f[2]) == "table" and layout_size(f[2]) or (SIZE[f[2]] or 1)
    n = n + one * (f.count or 1)
  end
  return n
end

local HIGH, LOW = 0xEE, 0xFF
-- The four datagrams by level flag and length.
local KINDS = {
  [HIGH] = {
    [129] = { name = "HighCmd", what = "high-level command", layout = HIGH_CMD, state = false },
    [1087] = { name = "HighState", what = "high-level state", layout = HIGH_STATE, state = true },
  },
  [LOW] = {
    [614] = { name = "LowCmd_refine", what = "low-level command, packed", layout = LOW_CMD,
              state = false },
    [807] = { name = "LowState_refine", what = "low-level state, packed", layout = LOW_STATE,
              state = true },
  },
}
for _, by_length in pairs(KINDS) do
  for length, kind in pairs(by_length) do
    assert(layout_size(kind.layout) == length, kind.name .. " layout size")
  end
end

local LEGS = { "FR", "FL", "RR", "RL" }
local JOINTS = { "hip", "thigh", "calf" }

---------------------------------------------------------------------------------------------
-- Fields: one per path ("torvane.motorState.q"), shared by the records that have it.

local fields = {}
local registered = {}

local PROTOFIELD = {
  u8 = ProtoField.uint8, u16 = ProtoField.uint16, u32 = ProtoField.uint32,
  i8 = ProtoField.int8, i16 = ProtoField.int16, i32 = ProtoField.int32,
}

local function field(abbr, name, kind, descr, valuestring)
  local existing = fields[abbr]
  if existing then
    assert(existing.kind == kind, abbr .. " registered with two types")
    return existing.field
  end
  local f
  if kind == "f32" then
    f = ProtoField.float(abbr, name, descr)
  elseif kind == "bytes" then
    f = ProtoField.bytes(abbr, name, base.SPACE, descr)
  elseif kind == "string" then
    f = ProtoField.string(abbr, name, base.ASCII, descr)
  elseif kind == "hex32" then
    f = ProtoField.uint32(abbr, name, base.HEX, valuestring, nil, descr)
  else
    f = PROTOFIELD[kind](abbr, name, base.DEC, valuestring, nil, descr)
  end
  fields[abbr] = { field = f, kind = kind }
  registered[#registered + 1] = f
  return f
end

local function make_fields(layout, prefix)
  for _, f in ipairs(layout) do
    local name, t = f[1], f[2]
    local abbr = prefix .. "." .. name
    if type(t) == "table" then
      make_fields(t, abbr)
    elseif f.scale then
      -- An integer scale (cell voltages) keeps an integer; the others give a float.
      field(abbr, name, f.scale > 1 and "u16" or "f32", name .. ", unpacked")
      field(abbr .. ".raw", name .. " (raw)", t, name .. " as packed on the wire")
    elseif name == "crc" then
      field(abbr, name, "hex32", "checksum as carried")
    elseif name == "levelFlag" then
      field(abbr, name, t, nil, { [HIGH] = "high level", [LOW] = "low level" })
    else
      field(abbr, name, t)
    end
  end
end
for _, by_length in pairs(KINDS) do
  for _, kind in pairs(by_length) do
    make_fields(kind.layout, "torvane")
  end
end

local CRC_BAD, CRC_GOOD, CRC_SCRAMBLED, CRC_PLAIN_STATE = 0, 1, 2, 3
local CRC_VERDICTS = {
  [CRC_BAD] = "bad",
  [CRC_GOOD] = "good",
  [CRC_SCRAMBLED] = "good (scrambled)",
  [CRC_PLAIN_STATE] = "good (plain, where a state carries it scrambled)",
}
local f_kind = field("torvane.kind", "Datagram", "string", "kind of datagram")
local f_computed = field("torvane.crc.computed", "Computed checksum", "hex32",
                         "checksum computed over the covered words")
local f_status = field("torvane.crc.status", "Checksum status", "u8", nil, CRC_VERDICTS)
local f_data = field("torvane.data", "Data", "bytes", "bytes of a malformed datagram")

torvane.fields = registered

local e_bad_crc = ProtoExpert.new("torvane.crc.bad", "Bad checksum", expert.group.CHECKSUM,
                                  expert.severity.WARN)
local e_plain_state = ProtoExpert.new("torvane.crc.plain",
  "Plain checksum on a high-level state: an endpoint takes it only in developer mode",
  expert.group.CHECKSUM, expert.severity.NOTE)
local e_malformed = ProtoExpert.new("torvane.malformed", "Malformed torvane datagram",
                                    expert.group.MALFORMED, expert.severity.ERROR)
torvane.experts = { e_bad_crc, e_plain_state, e_malformed }

torvane.prefs.port = Pref.uint("UDP port", 0,
  "Dissect every datagram on this UDP port as torvane (0: none). Torvane datagrams are found " ..
  "by their content on any port without it.")

---------------------------------------------------------------------------------------------
-- Checksum: CRC-32, polynomial 0x04C11DB7, initial value all ones, most significant bit first,
-- no final XOR, fed 32-bit little-endian words (so each word's bytes go in as 3, 2, 1, 0).

local CRC_TABLE = {}
for i = 0, 255 do
  local c = lshift(i, 24)
  for _ = 1, 8 do
    if band(c, 0x80000000) ~= 0 then
      c = bxor(lshift(c, 1), 0x04C11DB7)
    else
      c = lshift(c, 1)
    end
  end
  CRC_TABLE[i] = c
end

-- Checksum of the first `words` 32-bit words of the string `s`.
local function crc32(s, words)
  local crc = 0xFFFFFFFF
  local byte = string.byte
  for k = 0, words - 1 do
    local b0, b1, b2, b3 = byte(s, 4 * k + 1, 4 * k + 4)
    crc = bxor(lshift(crc, 8), CRC_TABLE[bxor(rshift(crc, 24), b3)])
    crc = bxor(lshift(crc, 8), CRC_TABLE[bxor(rshift(crc, 24), b2)])
    crc = bxor(lshift(crc, 8), CRC_TABLE[bxor(rshift(crc, 24), b1)])
    crc = bxor(lshift(crc, 8), CRC_TABLE[bxor(rshift(crc, 24), b0)])
  end
  return crc
end

-- The scrambled form a high-level state carries: XOR with a mask, then rotate right by 8.
local function scramble(v)
  return bit32.rrotate(bxor(v, 0x5B3D7E91), 8)
end

---------------------------------------------------------------------------------------------
-- Dissection.

local function format_number(v, t)
  if t == "f32" then
    if v ~= v then return "NaN" end
    if v == math.huge then return "inf" end
    if v == -math.huge then return "-inf" end
    return string.format("%.7g", v)
  end
  return string.format("%d", v)
end

local READ = {
  u8 = function(r) return r:uint() end,
  i8 = function(r) return r:int() end,
  u16 = function(r) return r:le_uint() end,
  i16 = function(r) return r:le_int() end,
  u32 = function(r) return r:le_uint() end,
  i32 = function(r) return r:le_int() end,
  f32 = function(r) return r:le_float() end,
}

local function with_unit(text, unit)
  return unit and (text .. " " .. unit) or text
end

-- One scalar at `offset`: its item, labelled "name: value unit".
local function add_scalar(tree, tvb, offset, f, abbr, label, unit)
  local t = f[2]
  unit = f.unit or unit
  local r = tvb(offset, SIZE[t])
  local raw = READ[t](r)
  if f.scale then
    local value = raw * f.scale
    local item = tree:add(fields[abbr].field, r, value)
    local how = f.scale == 1 and "unscaled" or
                (f.scale > 1 and string.format("x %g", f.scale) or string.format("/ %g", 1 / f.scale))
    item:set_text(string.format("%s: %s (raw %d, %s)", label,
                                with_unit(format_number(value, f.scale > 1 and "u16" or "f32"), unit),
                                raw, how))
    item:add_le(fields[abbr .. ".raw"].field, r):set_text(string.format("%s (raw): %d", label, raw))
    return
  end
  local item = tree:add_le(fields[abbr].field, r)
  if f[1] == "crc" then
    item:set_text(string.format("%s: 0x%08x", label, raw))
  elseif f[1] == "levelFlag" then
    item:set_text(string.format("%s: 0x%02x (%s)", label, raw,
                                raw == HIGH and "high level" or (raw == LOW and "low level" or "?")))
  else
    item:set_text(string.format("%s: %s", label, with_unit(format_number(raw, t), unit)))
  end
end

local function slot_label(name, i, slots)
  if not slots then return string.format("%s[%d]", name, i) end
  if i < 12 then
    return string.format("%s[%d] %s %s", name, i, LEGS[math.floor(i / 3) + 1], JOINTS[i % 3 + 1])
  end
  return string.format("%s[%d] unused", name, i)
end

-- Adds the fields of `layout` from `offset` on; returns the offset after them. `unit` is the
-- enclosing field's, for components that have none of their own (a foot position's x, y, z).
local add_layout
function add_layout(tree, tvb, offset, layout, prefix, unit)
  for _, f in ipairs(layout) do
    local name, t = f[1], f[2]
    local abbr = prefix .. "." .. name
    local count = f.count or 1
    if t == "bytes" then
      tree:add(fields[abbr].field, tvb(offset, count))
      offset = offset + count
    elseif type(t) == "table" then
      local size = layout_size(t)
      for i = 0, count - 1 do
        local label = f.count and slot_label(name, i, f.slots) or name
        local sub = tree:add(tvb(offset, size), label)
        add_layout(sub, tvb, offset, t, abbr, f.unit)
        offset = offset + size
      end
    else
      for i = 0, count - 1 do
        local label = f.count and string.format("%s[%d]", name, i) or name
        add_scalar(tree, tvb, offset, f, abbr, label, unit)
        offset = offset + SIZE[t]
      end
    end
  end
  return offset
end

local function sn_text(tvb)
  local lo, hi = tvb(4, 4):le_uint(), tvb(8, 4):le_uint()
  if hi == 0 then return tostring(lo) end
  return string.format("%u:%u", hi, lo)
end

-- The checksum verdict of a whole datagram of a known kind.
local function verdict(tvb, length, level, kind)
  local covered = math.floor(length / 4) - 1
  local computed = crc32(tvb:raw(0, 4 * covered), covered)
  local carried = tvb(length - 4, 4):le_uint()
  if carried == computed then
    return (level == HIGH and kind.state) and CRC_PLAIN_STATE or CRC_GOOD, computed
  end
  if level == HIGH and carried == scramble(computed) then
    return CRC_SCRAMBLED, computed
  end
  return CRC_BAD, computed
end

local function bytes(n)
  return n == 1 and "1 byte" or string.format("%d bytes", n)
end

local function malformed(tvb, pinfo, root, why)
  local length = tvb:reported_len()
  local tree = tvb:len() > 0 and root:add(torvane, tvb()) or root:add(torvane)
  tree:add_proto_expert_info(e_malformed, why)
  local level = length >= 3 and tvb(2, 1):uint() or nil
  local offset = 0
  -- As much of the frame header as there is.
  local header_size = layout_size(HEADER)
  if tvb:len() >= header_size and level and (level == HIGH or level == LOW) then
    offset = add_layout(tree, tvb, 0, HEADER, "torvane")
  end
  if tvb:len() > offset then tree:add(f_data, tvb(offset)) end
  pinfo.cols.info:set(string.format("Malformed: %s", why))
  tree:append_text(string.format(", malformed (%s)", bytes(length)))
  return length
end

local function dissect(tvb, pinfo, root)
  pinfo.cols.protocol = "TORVANE"
  local length = tvb:reported_len()
  if length < 3 or tvb:len() < 3 or tvb(0, 1):uint() ~= 0xFE or tvb(1, 1):uint() ~= 0xEF then
    return malformed(tvb, pinfo, root, string.format("no header FE EF (%s)", bytes(length)))
  end
  local level = tvb(2, 1):uint()
  if level ~= HIGH and level ~= LOW then
    return malformed(tvb, pinfo, root, string.format("level flag 0x%02x is neither EE nor FF", level))
  end
  local kind = KINDS[level][length]
  local level_name = level == HIGH and "high" or "low"
  if not kind then
    local a, b = level == HIGH and 129 or 614, level == HIGH and 1087 or 807
    return malformed(tvb, pinfo, root, string.format(
      "%s: a %s-level datagram has %d (command) or %d (state)", bytes(length), level_name, a, b))
  end
  if tvb:len() < length then
    return malformed(tvb, pinfo, root, string.format(
      "%s cut to %d of %d bytes by the capture", kind.name, tvb:len(), length))
  end

  local tree = root:add(torvane, tvb(), string.format("torvane %s (%s)", kind.name, kind.what))
  tree:add(f_kind, tvb(0, 0), kind.name):set_generated()
  add_layout(tree, tvb, 0, kind.layout, "torvane")

  local status, computed = verdict(tvb, length, level, kind)
  tree:add(f_computed, tvb(length - 4, 4), computed):set_generated()
  local status_item = tree:add(f_status, tvb(length - 4, 4), status)
  status_item:set_generated()
  if status == CRC_BAD then
    status_item:add_proto_expert_info(e_bad_crc, string.format(
      "Bad checksum: carried 0x%08x, computed 0x%08x%s", tvb(length - 4, 4):le_uint(), computed,
      level == HIGH and string.format(" (scrambled 0x%08x)", scramble(computed)) or ""))
  elseif status == CRC_PLAIN_STATE then
    status_item:add_proto_expert_info(e_plain_state)
  end
  pinfo.cols.info:set(string.format("%s, %s level, SN %s, checksum %s", kind.name, level_name,
                                    sn_text(tvb), CRC_VERDICTS[status]))
  return length
end

function torvane.dissector(tvb, pinfo, root)
  return dissect(tvb, pinfo, root)
end

-- Flows that have carried a whole torvane datagram, by their two ends, with the first frame that
-- did: a later datagram of such a flow with header and level flag but another length is a cut
-- or damaged one of ours.
local flows = {}

function torvane.init()
  flows = {}
end

local function flow_key(pinfo)
  local a = tostring(pinfo.src) .. ":" .. pinfo.src_port
  local b = tostring(pinfo.dst) .. ":" .. pinfo.dst_port
  if a > b then a, b = b, a end
  return a .. " " .. b
end

-- By content only: the header and a level flag, and either a datagram length of that level or a
-- flow that has already carried a torvane datagram.
local function heuristic(tvb, pinfo, root)
  local length = tvb:reported_len()
  if tvb:len() < 3 or tvb(0, 1):uint() ~= 0xFE or tvb(1, 1):uint() ~= 0xEF then return false end
  local by_length = KINDS[tvb(2, 1):uint()]
  if not by_length then return false end
  local key = flow_key(pinfo)
  if by_length[length] then
    if not flows[key] or pinfo.number < flows[key] then flows[key] = pinfo.number end
  elseif not flows[key] or pinfo.number < flows[key] then
    return false
  end
  dissect(tvb, pinfo, root)
  return true
end
torvane:register_heuristic("udp", heuristic)

local udp_port = DissectorTable.get("udp.port")
udp_port:add_for_decode_as(torvane)
local current_port = 0
function torvane.prefs_changed()
  if current_port ~= 0 then udp_port:remove(current_port, torvane) end
  current_port = torvane.prefs.port
  if current_port ~= 0 then udp_port:add(current_port, torvane) end
end
