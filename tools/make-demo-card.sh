#!/usr/bin/env bash
# Makes a sample camcorder card: PRIVATE/AVCHD/BDMV/STREAM with six real H.264 clips in M2TS
# streams (192-byte packets, AC-3 audio), recorded on two days, and AVCHDTN/THUMB.TDT + THUMB.TID
# holding the camera's thumbnails of the first three. The other three get generated thumbnails.
set -euo pipefail
card=${1:?usage: make-demo-card.sh <folder>}
stream="$card/PRIVATE/AVCHD/BDMV/STREAM"
thumbs="$card/PRIVATE/AVCHD/AVCHDTN"
[[ -f "$stream/00005.MTS" && -f "$thumbs/THUMB.TID" ]] && exit 0

rm -rf "$card"
mkdir -p "$stream" "$thumbs"
sources=(
  "testsrc2=size=1920x1080:rate=25"
  "smptehdbars=size=1920x1080:rate=25"
  "cellauto=size=1920x1080:rate=25:rule=110:scroll=0:full=1"
  "rgbtestsrc=size=1920x1080:rate=25"
  "testsrc=size=1920x1080:rate=25"
  "life=size=1920x1080:rate=25:mold=10:ratio=0.5:death_color=#204060:life_color=#e0c040"
)
dates=("2009-03-07 14:05:09" "2009-03-07 14:20:41" "2009-03-07 15:02:17"
       "2009-03-08 10:11:12" "2009-03-08 10:30:00" "2009-03-08 11:45:59")
for i in "${!sources[@]}"; do
  clip=$(printf '%s/%05d.MTS' "$stream" "$i")
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "${sources[$i]}" \
    -f lavfi -i "sine=frequency=$((300 + 100 * i)):duration=2" \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p -flags +ildct+ilme -x264opts tff=1 \
    -c:a ac3 -b:a 192k -t 2 -f mpegts -mpegts_m2ts_mode 1 "$clip"
  touch -d "${dates[$i]} UTC" "$clip"
done

# Camera thumbnails: 416 x 240 JPEGs with 4:2:2 chroma, each padded to a 16384-byte block.
: > "$thumbs/THUMB.TDT"
for i in 0 1 2; do
  jpg="$thumbs/block$i.jpg"
  ffmpeg -nostdin -loglevel error -y -i "$(printf '%s/%05d.MTS' "$stream" "$i")" -frames:v 1 \
    -vf scale=416:240 -pix_fmt yuvj422p -q:v 6 "$jpg"
  truncate -s 16384 "$jpg"
  cat "$jpg" >> "$thumbs/THUMB.TDT"
  rm "$jpg"
done
# Index: 72 header bytes, then (clip, block) records of 12 bytes, big-endian.
{
  head -c 72 /dev/zero
  for i in 0 1 2; do printf "\\x00\\x0$i\\x00\\x0$i"; head -c 8 /dev/zero; done
} > "$thumbs/THUMB.TID"
