-- The session reopened and a factory program picked as Ardour's preset list
-- does (VST3PI::set_program): it must return.
AudioEngine:set_backend("None (Dummy)", "", "")
assert(load_session(os.getenv("SESSION_DIR"), "s"), "no session")
for r in Session:get_routes():iter() do
  local proc = r:nth_plugin(0)
  if not proc:isnil() then
    local plugin = proc:to_insert():plugin(0)
    local preset = plugin:preset_by_uri("VST3-P:" .. plugin:unique_id() .. ":0002")
    assert(preset, "no factory program")
    assert(plugin:load_preset(preset), "the program did not load")
    print("picked " .. preset.label)
    break
  end
end
close_session()
