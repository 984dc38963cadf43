-- A session for tools/editor-screenshot.sh: one mono track, "Reverb", with
-- the plug-in at its defaults, on the Dummy backend.
-- Usage: ardour7-lua editor-screenshot.lua SESSION_DIR
local dir = arg[1]
local uri = "https://plonkbrett.org/plugins/plonkbrett-streuwolke"
local backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(backend and not backend:isnil(), "no Dummy backend")
local session = create_session(dir, "streuwolke", 48000)
assert(session, "cannot create the session")
local track = session:new_audio_track(1, 2, nil, 1, "Reverb", ARDOUR.PresentationInfo.max_order,
  ARDOUR.TrackMode.Normal, true):front()
local plugin = ARDOUR.LuaAPI.new_plugin(session, uri, ARDOUR.PluginType.LV2, "")
assert(not plugin:isnil(), "Ardour does not find " .. uri)
assert(track:add_processor_by_index(plugin, 0, nil, true) == 0, "cannot add the plug-in to the track")
session:save_state("", false, false, false, false, false)
print("saved")
close_session()
