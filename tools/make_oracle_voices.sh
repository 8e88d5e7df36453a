#!/usr/bin/env bash
# Makes the eight spoken "oracle" lines of the synthesiser, data/kestrel/oracle_voice/*.wav, with
# espeak-ng and sox (both installed by scripts/setup):
#   1. espeak-ng speaks the line with a low, slow male voice;
#   2. the silence around the words is trimmed and the speech is stretched (without changing its
#      pitch) to the length the subtitles expect, so the words on screen follow the voice;
#   3. sox lowers the pitch, doubles it with a quiet copy an octave below, warms it up with EQ,
#      adds a short echo and a hall reverb, and normalises it to -1 dBFS;
#   4. the result is stored as 16-bit mono PCM at 24 kHz (small; the synthesiser resamples it).
#
#   tools/make_oracle_voices.sh [OUTPUT_DIR]     (default: data/kestrel/oracle_voice)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out_dir=${1:-"$root/data/kestrel/oracle_voice"}
mkdir -p "$out_dir"

for tool in espeak-ng sox soxi; do
  command -v "$tool" >/dev/null || { echo "make_oracle_voices: $tool is missing (run scripts/setup)" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# file name | words | seconds of speech: the subtitle's speech length at 140 bpm
# (bars from the line's start to its speech end, times 240 / 140 seconds per bar).
lines=(
  "oracle_01_wake_the_stone|Wake the stone.|1.11"
  "oracle_02_body_optional|Body optional.|1.17"
  "oracle_03_nova_is_signal|Nova is signal.|1.20"
  "oracle_04_stone_dreams|Stone dreams.|1.13"
  "oracle_05_operator_near|Operator near.|1.25"
  "oracle_06_the_floor_remembers|The floor remembers.|1.37"
  "oracle_07_do_not_trust_the_sky|Do not trust the sky.|1.54"
  "oracle_08_transmit_the_night|Transmit the night.|1.20"
)

voice="en-gb+m3"  # a plain male voice; the processing below makes it the oracle
pitch=28          # espeak-ng pitch 0..99 (50 is normal)
speed=118         # words per minute (175 is normal)

for entry in "${lines[@]}"; do
  IFS='|' read -r name words seconds <<<"$entry"
  raw="$tmp/$name.raw.wav"
  dry="$tmp/$name.dry.wav"
  low="$tmp/$name.low.wav"

  # 1. Speech.
  espeak-ng -v "$voice" -p "$pitch" -s "$speed" -g 4 -w "$raw" "$words"

  # 2. Trim leading and trailing silence, then fit the speech to its length on screen.
  # Short fades keep the cut edges from clicking (the echo would repeat the click).
  sox "$raw" "$tmp/$name.cut.wav" silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse
  sox "$tmp/$name.cut.wav" "$tmp/$name.trim.wav" fade t 0.005 -0 0.04
  spoken=$(soxi -D "$tmp/$name.trim.wav")
  stretch=$(awk -v a="$spoken" -v b="$seconds" 'BEGIN { printf "%.4f", a / b }')
  # Pitch down by 4 semitones for the main voice, and a copy an octave lower for its shadow.
  sox "$tmp/$name.trim.wav" -r 48000 "$dry" tempo -s "$stretch" pitch -400 rate 48000 fade t 0 -0 0.03
  sox "$tmp/$name.trim.wav" -r 48000 "$low" tempo -s "$stretch" pitch -1200 rate 48000 vol 0.45 fade t 0 -0 0.03

  # 3. Mix the two, EQ (body around 150 Hz, less hiss, a little presence so the words stay
  #    clear), then an echo on the dotted eighth of 140 bpm (321 ms) and a hall.
  sox -m "$dry" "$low" -c 1 "$tmp/$name.mix.wav" \
      highpass 60 bass +5 150 equalizer 2500 1.2q +2 treble -4 6000 \
      pad 0 1.6 \
      echo 0.85 0.8 321 0.22 \
      reverb 40 50 85 100 12 -2 \
      highpass 50 lowpass 9000

  # 4. Normalise, trim the faded tail, store small.
  sox "$tmp/$name.mix.wav" "$tmp/$name.tail.wav" reverse silence 1 0.01 0.1% reverse
  sox "$tmp/$name.tail.wav" -b 16 -e signed-integer -c 1 -r 24000 "$out_dir/$name.wav" \
      fade t 0 -0 0.15 norm -1
  echo "$out_dir/$name.wav: $(soxi -D "$out_dir/$name.wav") s"
done
