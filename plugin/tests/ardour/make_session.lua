-- Two MIDI tracks, each with the plugin as its instrument, saved.
AudioEngine:set_backend("None (Dummy)", "", "")
assert(create_session(os.getenv("SESSION_DIR"), "s", 48000), "no session")
for i = 1, 2 do
  local tracks = Session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
    ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2), false, ARDOUR.PluginInfo(), nil, nil, 1,
    "T" .. i, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false)
  local plugin = ARDOUR.LuaAPI.new_plugin(Session, "Ondelith", ARDOUR.PluginType.VST3, "")
  assert(not plugin:isnil(), "no plugin")
  for t in tracks:iter() do t:to_route():add_processor_by_index(plugin, 0, nil, true) end
end
Session:save_state("", false, false, false, false, false)
close_session()
