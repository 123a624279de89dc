#!/usr/bin/env bash
# Makes a sample camcorder card: PRIVATE/AVCHD/BDMV/STREAM with six real H.264 clips in M2TS
# streams (192-byte packets, AC-3 audio), recorded on two days, and AVCHDTN/THUMB.TDT + THUMB.TID
# holding the camera's thumbnails of the first three. The other three get generated thumbnails.
# A seventh recording is split across 00006.MTS and 00007.MTS, cut in the middle of a group of
# pictures as a camera does at the card's size limit, and BDMV/PLAYLIST/00000.MPL says so.
# Beside them, as today's cameras write: two XAVC S clips in PRIVATE/M4ROOT/CLIP with their XML
# descriptions, the camera's picture of the first in THMBNL and MEDIAPRO.XML; and an H.265 clip in
# a QuickTime file in DCIM/100CANON, whose time is its movie header's.
set -euo pipefail
card=${1:?usage: make-demo-card.sh <folder>}
stream="$card/PRIVATE/AVCHD/BDMV/STREAM"
thumbs="$card/PRIVATE/AVCHD/AVCHDTN"
playlist="$card/PRIVATE/AVCHD/BDMV/PLAYLIST"
m4root="$card/PRIVATE/M4ROOT"
[[ -f "$stream/00007.MTS" && -f "$thumbs/THUMB.TID" && -f "$playlist/00000.MPL" && -f "$m4root/MEDIAPRO.XML" ]] && exit 0

rm -rf "$card"
mkdir -p "$stream" "$thumbs" "$playlist"
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

# The split recording: four seconds, cut at the video packet of picture 55 (in decode order),
# which lies inside a group of 12.
whole="$card/whole.MTS"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "mandelbrot=size=1920x1080:rate=25" \
  -f lavfi -i "sine=frequency=880:duration=4" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  -x264opts keyint=12:min-keyint=12:scenecut=0 -c:a ac3 -b:a 192k -t 4 -f mpegts -mpegts_m2ts_mode 1 "$whole"
packets=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts,pos -of csv=p=0 "$whole" | grep ,)
cut=$(( $(sed -n 56p <<<"$packets" | cut -d, -f2) / 192 * 192 ))
size=$(stat -c %s "$whole")
head -c "$cut" "$whole" > "$stream/00006.MTS"
tail -c $(( size - cut )) "$whole" > "$stream/00007.MTS"
rm "$whole"
touch -d "2009-03-08 16:00:00 UTC" "$stream/00006.MTS" "$stream/00007.MTS"
start=$(cut -d, -f1 <<<"$packets" | sort -n | head -1)
count=$(wc -l <<<"$packets")

# The playlist: big-endian numbers, one play item a file (IN and OUT in 45 kHz ticks), the
# split recording's second item with connection condition 6, an entry mark per recording.
byte() { printf "\\$(printf '%03o' $(( $1 & 255 )))"; }
be16() { byte $(( $1 >> 8 )); byte "$1"; }
be32() { be16 $(( $1 >> 16 )); be16 $(( $1 & 65535 )); }
item() {  # name connection in out
  be16 48; printf '%s' "$1"; printf 'M2TS'; be16 "$2"; byte 0; be32 "$3"; be32 "$4"
  head -c 12 /dev/zero; be16 14; head -c 14 /dev/zero
}
split_at=$(( (start + 3600 * 55) / 2 ))
end=$(( (start + 3600 * count) / 2 ))
{
  items=8
  list_length=$(( 6 + items * 50 ))
  printf 'MPLS0200'; be32 58; be32 $(( 62 + list_length )); be32 0; head -c 20 /dev/zero
  be32 14; byte 0; byte 1; head -c 12 /dev/zero
  be32 "$list_length"; be16 0; be16 "$items"; be16 0
  for i in 0 1 2 3 4 5; do item "0000$i" 1 0 90000; done
  item 00006 1 $(( start / 2 )) "$split_at"
  item 00007 6 "$split_at" "$end"
  be32 $(( 2 + 7 * 14 )); be16 7
  for i in 0 1 2 3 4 5 6; do byte 0; byte 1; be16 "$i"; be32 0; be16 4113; be32 0; done
} > "$playlist/00000.MPL"

# XAVC S clips: MP4 files with the camera's description of each (its wall clock and zone, its
# length in frames at 50p, its model), its picture of the first, and the card's list of clips.
mkdir -p "$m4root/CLIP" "$m4root/THMBNL" "$card/DCIM/100CANON"
profile='<?xml version="1.0" encoding="UTF-8"?>
<MediaProfile xmlns="http://xmlns.sony.net/pro/metadata/mediaprofile" version="2.00"><Contents>'
for i in 1 2; do
  name=$(printf 'C%04d' "$i")
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=50" \
    -f lavfi -i "sine=frequency=$((500 + 200 * i)):duration=2" -c:v libx264 -preset ultrafast \
    -pix_fmt yuv420p -c:a aac -t 2 -metadata creation_time="2016-01-0${i}T10:10:57Z" "$m4root/CLIP/$name.MP4"
  cat > "$m4root/CLIP/${name}M01.XML" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<NonRealTimeMeta xmlns="urn:schemas-professionalDisc:nonRealTimeMeta:ver.2.00">
  <Duration value="100"/>
  <LtcChangeTable tcFps="25" halfStep="true"/>
  <CreationDate value="2016-01-0${i}T06:10:57-04:00"/>
  <Device manufacturer="Sony" modelName="ILCE-7M3"/>
</NonRealTimeMeta>
XML
  profile+="<Material uri=\"./CLIP/$name.MP4\"><RelevantInfo uri=\"./CLIP/${name}M01.XML\" type=\"XML\"/>"
  profile+="<RelevantInfo uri=\"./THMBNL/${name}T01.JPG\" type=\"JPG\"/></Material>"
  touch -d "2016-01-0${i} 10:11:00 UTC" "$m4root/CLIP/$name.MP4"
done
ffmpeg -nostdin -loglevel error -y -i "$m4root/CLIP/C0001.MP4" -frames:v 1 -vf scale=640:360 -q:v 4 \
  "$m4root/THMBNL/C0001T01.JPG"
printf '%s</Contents></MediaProfile>\n' "$profile" > "$m4root/MEDIAPRO.XML"

# Another maker's clip: H.265 in a QuickTime file, timed by its movie header.
ffmpeg -nostdin -loglevel error -y -f lavfi -i "smptehdbars=size=1920x1080:rate=25" -c:v libx265 \
  -x265-params log-level=error -preset ultrafast -tag:v hvc1 -t 2 \
  -metadata creation_time="2022-05-06T10:20:30Z" "$card/DCIM/100CANON/MVI_0001.MOV"
