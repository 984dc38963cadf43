#!/bin/bash
# Runs ardour.lua in Ardour's headless Lua session tool on the Dummy backend
# and checks the two exports: one with both banks alike (left and right must
# match to the bit, which an in-place aliasing fault breaks), one with spread
# and modulation (left and right must differ, which only the plug-in does).
# Usage: ardour.sh LV2_DIR (a folder holding the plug-in bundle)
. "${0%/*}/common.sh"
tool=$(compgen -c ardour | grep -E '^ardour[0-9]+-lua$' | sort -uV | tail -n 1) || true
[ -n "$tool" ] || need ardour7-lua
need sox soxi

# A private configuration: it shows the Dummy backend (hidden by default) and
# holds a 32-bit float WAV export preset, so non-finite samples are kept.
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config XDG_CACHE_HOME=$scratch/cache XDG_DATA_HOME=$scratch/data
export LV2_PATH=$1
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

timeout 100 "$tool" "${0%/*}/ardour.lua" "$scratch/session" "$preset" >"$scratch/ardour.log" 2>&1 ||
  { cat "$scratch/ardour.log"; fail "$tool failed"; }
grep -q "exported apart" "$scratch/ardour.log" || { cat "$scratch/ardour.log"; fail "$tool did not export"; }

same=$(ls "$scratch"/session/same/*.wav) && apart=$(ls "$scratch"/session/apart/*.wav) ||
  fail "export files missing"
for wav in "$same" "$apart"; do
  expect_channels "$wav" 2
  [ "$(soxi -e "$wav" 2>/dev/null)" = "Floating Point PCM" ] || fail "$wav is not a float WAV file"
  expect_level "$wav" 1 "$(basename "$(dirname "$wav")") left" -50
  expect_level "$wav" 2 "$(basename "$(dirname "$wav")") right" -50
done
expect_level "$same" 1,2v-1 "same: left minus right" -999 -140
expect_level "$apart" 1,2v-1 "apart: left minus right" -50
echo "$tool: plug-in output is finite, not silent, and in-place safe"
