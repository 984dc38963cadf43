-- Ardour session with one mono track that runs the plug-in on the Dummy
-- backend's noise input; each setting below is exported to a float WAV file
-- in SESSION_DIR/<name>/. Ardour hands LV2 plug-ins one buffer for the input
-- and the first output, so this runs the plug-in in place.
-- Usage: ardour7-lua ardour.lua SESSION_DIR EXPORT_PRESET_ID
local dir, preset = arg[1], arg[2]
local uri = "https://plonkbrett.org/plugins/plonkbrett-streuwolke"
local port = { mix = 3, lines = 4, decay = 5, spread = 8, depth_min = 12, depth_max = 13 }
local settings = {
  { name = "same", mix = 50, lines = 6, decay = 800, spread = 0, depth_min = 0, depth_max = 0 },
  { name = "apart", mix = 100, spread = 100, depth_min = 20, depth_max = 60 },
}

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

local plugin = ARDOUR.LuaAPI.new_plugin(session, uri, ARDOUR.PluginType.LV2, "")
assert(not plugin:isnil(), "Ardour does not find " .. uri)
assert(track:add_processor_by_index(plugin, 0, nil, true) == 0, "cannot add the plug-in to the track")
local loaded = track:nth_plugin(0)
assert(not loaded:isnil() and loaded:to_insert():plugin(0):unique_id() == uri, "the plug-in is not on the track")

for _, setting in ipairs(settings) do
  for symbol, index in pairs(port) do
    local value = setting[symbol]
    if value then
      -- Ardour numbers the control ports after the three audio ports.
      assert(ARDOUR.LuaAPI.set_processor_param(plugin, index - 3, value), "cannot set " .. symbol)
      local now = ARDOUR.LuaAPI.get_processor_param(plugin, index - 3)
      assert(now == value, symbol .. " reads back " .. tostring(now) .. ", not " .. value)
    end
  end
  local export = session:simple_export()
  os.execute("mkdir -p '" .. dir .. "/" .. setting.name .. "'")
  export:set_folder(dir .. "/" .. setting.name)
  export:set_range(0, 3 * 48000)
  assert(export:set_preset(preset), "no export preset " .. preset)
  assert(export:check_outputs(), "nothing to export")
  assert(export:run_export(), "export " .. setting.name .. " failed")
  print("exported " .. setting.name)
end
close_session()
