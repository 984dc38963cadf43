#!/bin/bash
# Runs ardour.lua in Ardour's headless Lua session tool on the Dummy backend,
# once per setting, and checks the two exports: one with both banks alike
# (left and right must match to the bit, which an in-place aliasing fault
# breaks), one with spread and modulation (left and right must differ, which
# only the plug-in does). Each run of ardour.lua also checks how Ardour
# presents the controls: their texts, scales and automation.
# Usage: ardour.sh LV2_DIR (a folder holding the plug-in bundle)
. "${0%/*}/common.sh"
tool=$(compgen -c ardour | grep -E '^ardour[0-9]+-lua$' | sort -uV | tail -n 1) || true
[ -n "$tool" ] || need ardour7-lua
need sox soxi lv2info

# A private configuration: it shows the Dummy backend (hidden by default) and
# holds a 32-bit float WAV export preset, so non-finite samples are kept.
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config XDG_CACHE_HOME=$scratch/cache XDG_DATA_HOME=$scratch/data
export LV2_PATH=$1
# Each control's symbol with its number among the control ports, as Ardour
# counts them, read from the bundle through lilv (test_lilv holds the
# bundle to the library's port table): "mix=0 lines=1 ...".
controls=$(lv2info https://plonkbrett.org/plugins/plonkbrett-streuwolke |
  awk '/^\tPort [0-9]+:$/ { control = 0 } /#ControlPort$/ { control = 1 }
       /^\t\tSymbol:/ && control { printf "%s=%d ", $2, n++ }')
[ -n "$controls" ] || fail "lv2info lists no control ports"
config=$XDG_CONFIG_HOME/${tool%-lua}
mkdir -p "$config/export"
cat >"$config/config" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour><Config><Option name="hide-dummy-backend" value="0"/></Config></Ardour>
XML
format=0d6b9a40-5c0e-4a61-9a43-0c8f3b7e2a51
preset=7c1d5d3e-5b1a-4e0b-9a57-2f0a8c3f4e11
cat >"$config/export/streuwolke-float.format" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<ExportFormatSpecification name="streuwolke float" id="$format" with-cue="false" with-toc="false">
  <Encoding id="F_WAV" type="T_Sndfile" extension="wav" name="WAV" has-sample-format="true" channel-limit="256"/>
  <SampleRate rate="SR_Session"/>
  <EncodingOptions>
    <Option name="sample-format" value="SF_Float"/>
    <Option name="dithering" value="D_None"/>
  </EncodingOptions>
  <Processing><Normalize enabled="false"/></Processing>
</ExportFormatSpecification>
XML
cat >"$config/export/streuwolke-float.preset" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="$preset" name="streuwolke float">
  <ExportFormat id="$format"/>
  <ExportFilename><Folder relative="1" path="export"/></ExportFilename>
</ExportPreset>
XML

# export_setting NAME: one Ardour run, with a session of its own, exports the
# setting NAME and leaves the file's path in $wav. Ardour 7.3's export
# corrupts its own heap in about one run in four and then aborts or
# segfaults, during the export or while closing the session; it does so just
# as often with no plug-in and no track, with one export per run and with
# Ardour's own presets. Such a run is tried again, with a new session, up to
# $tries times in all, which leaves about one test in 10000 failing for
# Ardour's sake. Anything else fails at once: a failed assert in ardour.lua,
# a hang (the timeout), a missing file. A plug-in that crashes Ardour every
# time still fails here, after the last try.
tries=8
export_setting() {
  local name=$1 try rc session log when
  for try in $(seq $tries); do
    session=$scratch/$name-$try log=$scratch/$name-$try.log rc=0
    timeout 100 "$tool" "${0%/*}/ardour.lua" "$session" "$preset" "$name" $controls >"$log" 2>&1 || rc=$?
    case $rc in
      0)
        grep -qx "exported $name" "$log" || { cat "$log"; fail "$tool did not export $name"; }
        wav=$(ls "$session/$name"/*.wav) || fail "export file of $name missing"
        return ;;
      134|135|139) # SIGABRT, SIGBUS, SIGSEGV
        grep -qx "exported $name" "$log" && when="after the export" || when="before the export ended"
        echo "$tool crashed (status $rc) $when, in try $try of $name: $(grep -m 1 -iE 'corrupt|free|malloc' "$log" || true)" ;;
      *) cat "$log"; fail "$tool failed on $name (status $rc)" ;;
    esac
  done
  cat "$log"; fail "$tool crashed in all $tries tries of $name"
}
export_setting same; same=$wav
export_setting apart; apart=$wav
for wav in "$same" "$apart"; do
  expect_channels "$wav" 2
  [ "$(soxi -e "$wav" 2>/dev/null)" = "Floating Point PCM" ] || fail "$wav is not a float WAV file"
  expect_level "$wav" 1 "$(basename "$(dirname "$wav")") left" -50
  expect_level "$wav" 2 "$(basename "$(dirname "$wav")") right" -50
done
expect_level "$same" 1,2v-1 "same: left minus right" -999 -140
expect_level "$apart" 1,2v-1 "apart: left minus right" -50
echo "$tool: plug-in output is finite, not silent, and in-place safe"
