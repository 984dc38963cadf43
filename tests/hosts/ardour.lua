-- Ardour session with one mono track that runs the plug-in on the Dummy
-- backend's noise input; the setting NAME below is exported to a float WAV
-- file in SESSION_DIR/NAME/. Ardour hands LV2 plug-ins one buffer for the
-- input and the first output, so this runs the plug-in in place. Before the
-- export every control is checked as Ardour's editor presents it: its text
-- for a value, its scale, and whether Ardour lets it be automated, live and
-- in the saved session.
-- One setting per run: Ardour 7.3's export corrupts its own heap in about
-- one run in four, so ardour.sh starts a fresh Ardour with a new session for
-- each setting and can start it again when it crashes.
-- Usage: ardour7-lua ardour.lua SESSION_DIR EXPORT_PRESET_ID NAME SYMBOL=N...
-- where N is the control's number among the plug-in's control ports, the
-- parameter number Ardour takes (ardour.sh reads them from the bundle).
local dir, preset, name = arg[1], arg[2], arg[3]
local uri = "https://plonkbrett.org/plugins/plonkbrett-streuwolke"
local control = {}
for i = 4, #arg do
  local symbol, n = arg[i]:match("^([%w_]+)=(%d+)$")
  assert(symbol, "not SYMBOL=N: " .. arg[i])
  control[symbol] = tonumber(n)
end
-- Each setting names every control it relies on, as each run starts from the
-- plug-in's defaults.
local settings = {
  same = { mix = 50, lines = 6, decay = 800, spread = 0, depth_min = 0, depth_max = 0 },
  apart = { mix = 100, lines = 6, decay = 800, spread = 100, depth_min = 20, depth_max = 60 },
}
local setting = settings[name]
assert(setting, "no setting " .. tostring(name))

-- Per control: a value, the text Ardour shows for it, whether Ardour lets
-- the control be automated and whether its slider is logarithmic. Lines and
-- Parallel switch unramped and click, so they are marked as causing
-- artifacts, which Ardour takes for "not automatable"; the distances glide.
local presented = {
  mix = { 25, "25.00%", true, false },
  lines = { 3, "3 lines", false, false },
  decay = { 1200, "1200.0 ms", true, false },
  min_distance = { 2.5, "2.50 m", true, true },
  max_distance = { 40, "40.00 m", true, true },
  spread = { 60, "60.00%", true, false },
  parallel = { 1, "on", false, false },
  low_cut = { 80, "80.0 Hz", true, true },
  high_cut = { 6000, "6000.0 Hz", true, true },
  depth_min = { 12.5, "12.50%", true, false },
  depth_max = { 50, "50.00%", true, false },
  rate_min = { 0.25, "0.250 Hz", true, true },
  rate_max = { 2, "2.000 Hz", true, true },
}

-- The text Ardour 7's editor shows for a value (its value_as_string for a
-- plug-in control): "on" or "off" for a toggle, otherwise the control's
-- print format (from the unit's render format) filled in by snprintf with
-- the value as a double, so any conversion but a floating one prints garbage.
local function shown(desc, value)
  if desc.toggled then return value > 0 and "on" or "off" end
  local format = desc.print_fmt
  assert(format ~= "", desc.label .. " has no print format: is the units bundle on LV2_PATH?")
  for conversion in format:gsub("%%%%", ""):gmatch("%%[-+ #0-9.]*(%a)") do
    assert(conversion:match("[aAeEfFgG]"),
      desc.label .. ": Ardour hands \"" .. format .. "\" a double, not what %" .. conversion .. " reads")
  end
  return string.format(format, value)
end

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(backend and not backend:isnil(), "no Dummy backend")
backend:set_device_name("Gaussian White Noise")
local session = create_session(dir, "hosts", 48000)
assert(session, "cannot create the session")

local track = session:new_audio_track(1, 2, nil, 1, "streuwolke", ARDOUR.PresentationInfo.max_order,
  ARDOUR.TrackMode.Normal, true):front()
local input = track:input():audio(0)
if not input:connected_to("system:capture_1") then input:connect("system:capture_1") end
assert(input:connected_to("system:capture_1"), "track input is not connected")
track:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)

-- The controls are set before the plug-in joins the track, so its first run
-- already has them: the instance starts at its lengths, and no tail of other
-- settings (the defaults' spread sets the banks apart) reaches the export.
local plugin = ARDOUR.LuaAPI.new_plugin(session, uri, ARDOUR.PluginType.LV2, "")
assert(not plugin:isnil(), "Ardour does not find " .. uri)
local function control_of(symbol)
  local n = control[symbol]
  assert(n, "the plug-in has no control " .. symbol)
  local port = plugin:to_insert():plugin(0):nth_parameter(n, true)
  return n, plugin:to_automatable():automation_control(
    Evoral.Parameter(ARDOUR.AutomationType.PluginAutomation, 0, port), false)
end
for symbol, want in pairs(presented) do
  local n, ac = control_of(symbol)
  assert(ARDOUR.LuaAPI.set_processor_param(plugin, n, want[1]), "cannot set " .. symbol)
  local text = shown(ac:desc(), ac:get_value())
  assert(text == want[2], symbol .. " at " .. want[1] .. " shows \"" .. text .. "\", not \"" .. want[2] .. "\"")
  assert(ac:desc().logarithmic == want[4], symbol .. (want[4] and " is not" or " is") .. " logarithmic")
  ac:set_automation_state(ARDOUR.AutoState.Play)
  local automatable = ac:automation_state() == ARDOUR.AutoState.Play
  ac:set_automation_state(ARDOUR.AutoState.Off)
  assert(automatable == want[3], symbol .. (want[3] and " cannot" or " can") .. " be automated")
end
-- Back at the defaults, which the setting starts from.
ARDOUR.LuaAPI.reset_processor_to_default(plugin)
for symbol, value in pairs(setting) do
  local n = control_of(symbol)
  assert(ARDOUR.LuaAPI.set_processor_param(plugin, n, value), "cannot set " .. symbol)
  local now = ARDOUR.LuaAPI.get_processor_param(plugin, n)
  assert(now == value, symbol .. " reads back " .. tostring(now) .. ", not " .. value)
end
assert(track:add_processor_by_index(plugin, 0, nil, true) == 0, "cannot add the plug-in to the track")
local loaded = track:nth_plugin(0)
assert(not loaded:isnil() and loaded:to_insert():plugin(0):unique_id() == uri, "the plug-in is not on the track")

-- The saved session marks what Ardour will not automate.
assert(session:save_state("", false, false, false, false, false) == 0, "cannot save the session")
local saved = assert(io.open(dir .. "/hosts.ardour"))
local automatable = {}
for line in saved:lines() do
  local flags, symbol = line:match('<Controllable [^>]*flags="([^"]*)"[^>]*symbol="([%w_]+)"')
  if symbol then automatable[symbol] = not flags:find("NotAutomatable") end
end
saved:close()
for symbol, want in pairs(presented) do
  assert(automatable[symbol] == want[3], "the saved session has " .. symbol ..
    (automatable[symbol] == nil and " missing" or (want[3] and " not" or "") .. " automatable"))
end

-- Ardour applies the monitoring choice from its process thread: wait until
-- the track monitors its input, or the export records the empty playlist.
for _ = 1, 200 do
  if track:monitoring_control():get_value() == ARDOUR.MonitorChoice.MonitorInput then break end
  ARDOUR.LuaAPI.usleep(10000)
end
assert(track:monitoring_control():get_value() == ARDOUR.MonitorChoice.MonitorInput, "the track does not monitor its input")

local export = session:simple_export()
os.execute("mkdir -p '" .. dir .. "/" .. name .. "'")
export:set_folder(dir .. "/" .. name)
export:set_range(0, 3 * 48000)
assert(export:set_preset(preset), "no export preset " .. preset)
assert(export:check_outputs(), "nothing to export")
assert(export:run_export(), "export " .. name .. " failed")
-- Flushed, so the log shows it even when Ardour crashes while closing.
print("exported " .. name)
io.stdout:flush()
close_session()
