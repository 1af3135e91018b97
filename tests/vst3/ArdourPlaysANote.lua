-- Run by Ardour's headless session tool: ardour7-lua ArdourPlaysANote.lua FOLDER.
-- A new session in FOLDER (the dummy backend), a MIDI track with the VST 3
-- edition as its instrument, and one note sent to the track's input while
-- the engine runs; prints the loudest output sample before and with it.
local folder = assert (arg[1], "no session folder given")
assert (create_session (folder, "note", 48000), "no session")
local info = ARDOUR.LuaAPI.new_plugin_info ("Veltrosa", ARDOUR.PluginType.VST3)
if info:isnil () then
	error ("Veltrosa: no VST 3 plug-in of that name")
end
-- Its input connects to nothing: the one note is the only one it gets.
local track = Session:new_midi_track (ARDOUR.ChanCount (ARDOUR.DataType ("midi"), 1),
	ARDOUR.ChanCount (ARDOUR.DataType ("audio"), 2), true, info, nil, nil, 1, "Pad",
	ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, false):front ()

-- The meter's MIDI channels come before its audio ones.
local function loudest ()
	local meter = track:peak_meter ()
	local first = meter:input_streams ():n_midi ()
	local dB = -math.huge
	for c = first, first + 1 do
		dB = math.max (dB, meter:meter_level (c, ARDOUR.MeterType.MeterMaxPeak))
	end
	return dB
end

sleep (0.5)
print (string.format ("before the note: %f dBFS", loudest ()))
local parser = ARDOUR.RawMidiParser ()
for _, byte in ipairs ({ 0x90, 60, 100 }) do
	if parser:process_byte (byte) then
		track:write_immediate_event (Evoral.EventType.MIDI_EVENT, parser:buffer_size (), parser:midi_buffer ())
	end
end
sleep (1.5)
print (string.format ("with the note: %f dBFS", loudest ()))
