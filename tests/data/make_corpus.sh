#!/usr/bin/env bash
# Regenerates the committed test-media corpus in this directory and the
# ffprobe reference JSON for every file (reference/NAME.ffprobe.json).
#
# Every input is synthetic (lavfi testsrc2/smptebars/sine/aevalsrc/anoisesrc
# with fixed seeds) and every encoder/muxer runs in bit-exact mode with
# metadata stripped, so running this twice with the same ffmpeg build yields
# byte-identical files.
#
# Usage: tests/data/make_corpus.sh [NAME...]  (needs ffmpeg, ffprobe, xxd)
#   With names, only those files (and their references) are written.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")"

for tool in ffmpeg ffprobe xxd; do
    command -v "$tool" >/dev/null || { echo "make_corpus.sh: $tool not found" >&2; exit 1; }
done

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

mkdir -p reference
FILES=()

# enc OUTPUT EXTRA_VIDEO_FLAGS [ffmpeg input/output options...]
#   Runs ffmpeg with the common determinism options appended just before the
#   output name. EXTRA_VIDEO_FLAGS is appended to "-flags:v +bitexact" (e.g.
#   "+ilme+ildct"); both must go in one -flags value, since a later -flags
#   option for the same stream replaces an earlier one.
ONLY=("$@")
wanted() { [ ${#ONLY[@]} -eq 0 ] || [[ " ${ONLY[*]} " == *" $1 "* ]]; }
enc() {
    local out=$1 vflags=$2
    shift 2
    wanted "$out" || return 0
    ffmpeg -nostdin -hide_banner -loglevel error -y "$@" \
        -map_metadata -1 -map_chapters -1 \
        -fflags +bitexact -flags:v "+bitexact${vflags}" -flags:a +bitexact \
        "$out"
    FILES+=("$out")
}

# Synthetic sources. Video: testsrc2 (moving pattern) or smptebars.
# Audio: sine tones, multichannel aevalsrc, seeded noise.
vsrc()  { echo "testsrc2=size=$1:rate=$2:duration=$3"; }
bars()  { echo "smptebars=size=$1:rate=$2:duration=$3"; }
tone()  { echo "sine=frequency=$1:sample_rate=$2:duration=$3"; }
# Stereo: 440 Hz left, 660 Hz right.
stereo() { echo "aevalsrc=0.4*sin(440*2*PI*t)|0.4*sin(660*2*PI*t):sample_rate=$1:channel_layout=stereo:duration=$2"; }
# 5.1: a distinct tone per channel (FL FR FC LFE BL BR).
surround() { echo "aevalsrc=0.3*sin(440*2*PI*t)|0.3*sin(550*2*PI*t)|0.3*sin(660*2*PI*t)|0.3*sin(60*2*PI*t)|0.3*sin(770*2*PI*t)|0.3*sin(880*2*PI*t):sample_rate=$1:channel_layout=5.1:duration=$2"; }
noise() { echo "anoisesrc=color=pink:amplitude=0.3:seed=$3:sample_rate=$1:duration=$2"; }

# --------------------------------------------------------------------------
# MPEG-1 system streams
# --------------------------------------------------------------------------

# Generic MPEG-1 system stream, deliberately not VCD-shaped (320x240, 30 fps,
# 44.1 kHz MP2, mux rate 1.6 Mbit/s).
enc mpg1_mpeg1video_320x240_30fps_mp2_44k_stereo.mpg "" \
    -f lavfi -i "$(vsrc 320x240 30 2)" -f lavfi -i "$(stereo 44100 2)" \
    -c:v mpeg1video -b:v 600k -maxrate 1000k -bufsize 320k -g 15 -bf 2 -threads 1 \
    -c:a mp2 -b:a 128k \
    -muxrate 1600000 -f mpeg

# VCD (PAL): 352x288 4:3 25 fps MPEG-1 1150 kbit/s, MP2 224 kbit/s 44.1 kHz,
# VCD muxer (2324-byte packs, constant mux rate 3528 x 50 byte/s).
enc vcd_mpeg1video_352x288_4x3_25fps_mp2_44k_stereo.mpg "" \
    -f lavfi -i "$(vsrc 352x288 25 2)" -f lavfi -i "$(stereo 44100 2)" \
    -target pal-vcd -aspect 4:3 -threads 1

# VCD (NTSC): 352x240 4:3 29.97 fps.
enc vcd_mpeg1video_352x240_4x3_29.97fps_mp2_44k_stereo.mpg "" \
    -f lavfi -i "$(bars 352x240 30000/1001 1)" -f lavfi -i "$(stereo 44100 1)" \
    -target ntsc-vcd -aspect 4:3 -threads 1

# --------------------------------------------------------------------------
# MPEG-2 program streams
# --------------------------------------------------------------------------

# SVCD (PAL): MPEG-2 480x576 4:3 25 fps, MP2 44.1 kHz, SVCD muxer.
enc svcd_mpeg2video_480x576_4x3_25fps_mp2_44k_stereo.mpg "" \
    -f lavfi -i "$(vsrc 480x576 25 1.5)" -f lavfi -i "$(stereo 44100 1.5)" \
    -target pal-svcd -aspect 4:3 -threads 1

# DVD (PAL) interlaced, top field first, 16:9, AC-3 5.1 48 kHz. The video
# bit rate is lowered from the DVD default to keep the file small.
enc dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob "+ilme+ildct" \
    -f lavfi -i "$(vsrc 720x576 25 1.5)" -f lavfi -i "$(surround 48000 1.5)" \
    -target pal-dvd -top 1 -aspect 16:9 -b:v 2500k -threads 1 \
    -c:a ac3 -b:a 384k -ac 6

# DVD (PAL) interlaced, bottom field first, 4:3, MP2 stereo 48 kHz.
enc dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob "+ilme+ildct" \
    -f lavfi -i "$(bars 720x576 25 1.5)" -f lavfi -i "$(stereo 48000 1.5)" \
    -target pal-dvd -top 0 -aspect 4:3 -b:v 2500k -threads 1 \
    -c:a mp2 -b:a 192k -ac 2

# DVD (NTSC) progressive, 16:9 720x480 29.97 fps, AC-3 stereo 48 kHz.
enc dvd_mpeg2video_720x480_16x9_29.97p_ac3_48k_stereo.vob "" \
    -f lavfi -i "$(vsrc 720x480 30000/1001 1.5)" -f lavfi -i "$(stereo 48000 1.5)" \
    -target ntsc-dvd -aspect 16:9 -b:v 2500k -threads 1 \
    -c:a ac3 -b:a 192k -ac 2

# Plain MPEG-2 program stream (VOB muxer: MPEG-2 packs, no navigation
# packets), 640x480 4:3 25 fps progressive, MP2 48 kHz stereo, mux rate
# 4 Mbit/s. (The LPCM and MPEG-4 program streams below keep ffmpeg's default
# mux rate, which is very high when the video peak rate is unknown.)
enc ps_mpeg2video_640x480_4x3_25fps_mp2_48k_stereo.mpg "" \
    -f lavfi -i "$(vsrc 640x480 25 2)" -f lavfi -i "$(stereo 48000 2)" \
    -c:v mpeg2video -b:v 1500k -g 12 -bf 2 -aspect 4:3 -threads 1 \
    -c:a mp2 -b:a 192k \
    -muxrate 4000000 -f vob
# 15 fps: frame_rate_code 3 (25 Hz) with frame_rate_extension_n/d = 2/4 (25 x 3/5).
enc ps_mpeg2video_352x288_15fps_mp2_48k_stereo.mpg "" \
    -f lavfi -i "$(vsrc 352x288 15 2)" -f lavfi -i "$(stereo 48000 2)" \
    -c:v mpeg2video -b:v 400k -g 12 -bf 2 -threads 1 \
    -c:a mp2 -b:a 192k -muxrate 4000000 -f vob

# MPEG-2 program stream with 16-bit big-endian LPCM (private stream 1,
# sub-stream 0xA0), 48 kHz stereo. Audio frames of 240 samples (960 bytes)
# keep each LPCM packet inside the 4 KiB audio buffer the muxer models.
enc ps_mpeg2video_352x576_4x3_25fps_lpcm_48k_stereo.vob "" \
    -f lavfi -i "$(bars 352x576 25 1)" -f lavfi -i "$(stereo 48000 1):nb_samples=240" \
    -c:v mpeg2video -b:v 1500k -g 12 -bf 2 -aspect 4:3 -threads 1 \
    -c:a pcm_s16be \
    -f vob

# MPEG-4 Visual video carried in an MPEG-2 program stream, MP2 audio.
enc ps_mpeg4video_352x288_25fps_mp2_48k_mono.mpg "" \
    -f lavfi -i "$(vsrc 352x288 25 2)" -f lavfi -i "$(noise 48000 2 1)" \
    -c:v mpeg4 -b:v 600k -g 25 -bf 1 -threads 1 \
    -c:a mp2 -b:a 96k -ac 1 \
    -f vob

# --------------------------------------------------------------------------
# MPEG-2 transport streams
# --------------------------------------------------------------------------

# 188-byte packets: MPEG-2 video + MP2.
enc ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts "" \
    -f lavfi -i "$(vsrc 720x576 25 1.5)" -f lavfi -i "$(stereo 48000 1.5)" \
    -c:v mpeg2video -b:v 1500k -g 12 -bf 2 -aspect 4:3 -threads 1 \
    -c:a mp2 -b:a 192k \
    -f mpegts -mpegts_m2ts_mode 0

# 188-byte packets: H.264 + AAC.
enc ts_h264_1280x720_25fps_aac_48k_stereo.ts "" \
    -f lavfi -i "$(vsrc 1280x720 25 1.5)" -f lavfi -i "$(stereo 48000 1.5)" \
    -c:v libx264 -preset veryfast -b:v 800k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a aac -b:a 128k \
    -f mpegts -mpegts_m2ts_mode 0

# 188-byte packets: interlaced MPEG-2 video (top field first) + MP2, as DVB
# broadcasts carry it.
enc ts_mpeg2video_720x576_16x9_25i_tff_mp2_48k_stereo.ts "+ilme+ildct" \
    -f lavfi -i "$(vsrc 720x576 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v mpeg2video -b:v 1500k -g 12 -bf 2 -aspect 16:9 -top 1 -threads 1 \
    -c:a mp2 -b:a 192k \
    -f mpegts -mpegts_m2ts_mode 0

# 188-byte packets: interlaced H.264 (MBAFF, top field first) + AAC.
enc ts_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.ts "+ilme+ildct" \
    -f lavfi -i "$(vsrc 1920x1080 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 1200k -g 25 -pix_fmt yuv420p -threads 1 \
    -x264opts interlaced=1:tff=1 -top 1 -field_order tt -aspect 16:9 \
    -c:a aac -b:a 128k \
    -f mpegts -mpegts_m2ts_mode 0

# 192-byte packets (4-byte arrival timestamp + 188): H.264 + AC-3.
enc m2ts_h264_1920x1080_25fps_ac3_48k_stereo.m2ts "" \
    -f lavfi -i "$(vsrc 1920x1080 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 1000k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a ac3 -b:a 192k \
    -f mpegts -mpegts_m2ts_mode 1

# 204-byte packets: ffmpeg cannot write them, so take a 188-byte stream and
# append 16 zero bytes (in place of Reed-Solomon parity) to every packet.
ts204=ts204_mpeg2video_352x288_4x3_25fps_mp2_48k_stereo.ts
if wanted "$ts204"; then
enc "$TMP/ts204_src.ts" "" \
    -f lavfi -i "$(vsrc 352x288 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v mpeg2video -b:v 800k -g 12 -bf 2 -aspect 4:3 -threads 1 \
    -c:a mp2 -b:a 128k \
    -f mpegts -mpegts_m2ts_mode 0
unset 'FILES[${#FILES[@]}-1]'
xxd -p -c 188 "$TMP/ts204_src.ts" | sed 's/$/00000000000000000000000000000000/' | xxd -r -p > "$ts204"
FILES+=("$ts204")
fi

# --------------------------------------------------------------------------
# MP4 / QuickTime / 3GP
# --------------------------------------------------------------------------

# MP4: H.264 + AAC.
enc mp4_h264_640x360_25fps_aac_48k_stereo.mp4 "" \
    -f lavfi -i "$(vsrc 640x360 25 2)" -f lavfi -i "$(stereo 48000 2)" \
    -c:v libx264 -preset veryfast -b:v 400k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a aac -b:a 96k \
    -f mp4

# MOV: H.264 + little-endian 16-bit PCM ('sowt').
enc mov_h264_640x480_30fps_pcm_s16le_sowt_48k_stereo.mov "" \
    -f lavfi -i "$(vsrc 640x480 30 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 400k -g 30 -pix_fmt yuv420p -threads 1 \
    -c:a pcm_s16le \
    -f mov

# MOV: MPEG-4 Visual + big-endian 16-bit PCM ('twos').
enc mov_mpeg4_320x240_25fps_pcm_s16be_twos_44k_mono.mov "" \
    -f lavfi -i "$(bars 320x240 25 1)" -f lavfi -i "$(tone 1000 44100 1)" \
    -c:v mpeg4 -b:v 300k -g 25 -threads 1 \
    -c:a pcm_s16be \
    -f mov

# 3GP: H.263 176x144 (QCIF) + AAC (no AMR-NB encoder in this ffmpeg build).
enc 3gp_h263_176x144_15fps_aac_22k_mono.3gp "" \
    -f lavfi -i "$(vsrc 176x144 15 2)" -f lavfi -i "$(tone 800 22050 2)" \
    -c:v h263 -b:v 96k -g 15 -threads 1 \
    -c:a aac -b:a 32k -ac 1 \
    -f 3gp

# Fragmented MP4: empty moov + moof/mdat fragments at keyframes.
enc mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4 "" \
    -f lavfi -i "$(vsrc 640x360 25 2)" -f lavfi -i "$(stereo 48000 2)" \
    -c:v libx264 -preset veryfast -b:v 400k -g 12 -pix_fmt yuv420p -threads 1 \
    -c:a aac -b:a 96k \
    -movflags frag_keyframe+empty_moov \
    -f mp4

# MP4 with interlaced (MBAFF) H.264, top field first, 1920x1080 25i.
enc mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4 "+ilme+ildct" \
    -f lavfi -i "$(vsrc 1920x1080 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 1200k -g 25 -pix_fmt yuv420p -threads 1 \
    -x264opts interlaced=1:tff=1 -top 1 -field_order tt \
    -c:a aac -b:a 128k \
    -f mp4

# MP4 with MPEG-4 Visual video + AAC.
enc mp4_mpeg4_640x480_25fps_aac_44k_stereo.mp4 "" \
    -f lavfi -i "$(vsrc 640x480 25 2)" -f lavfi -i "$(stereo 44100 2)" \
    -c:v mpeg4 -b:v 500k -g 25 -bf 2 -threads 1 \
    -c:a aac -b:a 96k \
    -f mp4

# MP4: H.264 + AC-3 5.1 ('ac-3' entry with its 'dac3').
enc mp4_h264_320x240_25fps_ac3_48k_5.1.mp4 "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(surround 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a ac3 -b:a 384k \
    -f mp4

# MP4: HEVC (Main, 'hvc1' with its 'hvcC') + AAC.
enc mp4_hevc_320x240_25fps_aac_48k_stereo.mp4 "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx265 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -tag:v hvc1 \
    -x265-params pools=1:frame-threads=1:log-level=error:info=0 \
    -c:a aac -b:a 64k \
    -f mp4

# MP4: H.264 whose track matrix turns the picture 90 degrees clockwise for display
# (ffprobe: rotation -90). This ffmpeg writes the "rotate" tag into the matrix only when it copies the
# stream, and reads the tag counterclockwise.
ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a aac -b:a 64k -fflags +bitexact -flags:v +bitexact -flags:a +bitexact "$TMP/unrotated.mp4"
enc mp4_h264_320x240_25fps_rotated90_aac_48k_stereo.mp4 "" \
    -i "$TMP/unrotated.mp4" -c copy -metadata:s:v:0 rotate=270 \
    -f mp4

# QuickTime movie reduced to its 'moov', as a camera movie whose media data was cut away: Photo-JPEG
# ('jpeg') video and unsigned 8-bit PCM ('raw ') at 7875 Hz mono. The muxer writes 'ftyp' (20 bytes),
# 'wide' (8), 'mdat', 'moov': the file is what follows the 'mdat'.
moovonly=mov_mjpeg_jpeg_320x240_15fps_pcm_u8_raw_7875_mono_moovonly.mov
if wanted "$moovonly"; then
enc "$TMP/mov_jpeg_raw_src.mov" "" \
    -f lavfi -i "$(vsrc 320x240 15 1)" -f lavfi -i "$(tone 500 7875 1)" \
    -c:v mjpeg -vtag jpeg -q:v 5 -pix_fmt yuvj420p -threads 1 \
    -c:a pcm_u8 \
    -f mov
unset 'FILES[${#FILES[@]}-1]'
[ "$(xxd -s 32 -l 4 -p "$TMP/mov_jpeg_raw_src.mov")" = 6d646174 ] || { echo "make_corpus.sh: no 'mdat' at 28" >&2; exit 1; }
tail -c +$((28 + 16#$(xxd -s 28 -l 4 -p "$TMP/mov_jpeg_raw_src.mov") + 1)) "$TMP/mov_jpeg_raw_src.mov" > "$moovonly"
FILES+=("$moovonly")
fi

# --------------------------------------------------------------------------
# Matroska / WebM
# --------------------------------------------------------------------------

# Matroska: H.264 + AAC.
enc mkv_h264_640x360_25fps_aac_48k_stereo.mkv "" \
    -f lavfi -i "$(vsrc 640x360 25 2)" -f lavfi -i "$(stereo 48000 2)" \
    -c:v libx264 -preset veryfast -b:v 400k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a aac -b:a 96k \
    -f matroska

# Matroska: H.264 + Vorbis + an SRT subtitle track.
cat > "$TMP/subs.srt" <<'EOF'
1
00:00:00,000 --> 00:00:00,900
First subtitle line

2
00:00:01,000 --> 00:00:01,900
Second subtitle line
EOF
enc mkv_h264_480x270_25fps_vorbis_44k_stereo_srt.mkv "" \
    -f lavfi -i "$(vsrc 480x270 25 2)" -f lavfi -i "$(stereo 44100 2)" \
    -i "$TMP/subs.srt" \
    -map 0:v -map 1:a -map 2:s \
    -c:v libx264 -preset veryfast -b:v 300k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a libvorbis -q:a 2 \
    -c:s srt -metadata:s:s:0 language=eng \
    -f matroska

# WebM: VP9 + Opus.
enc webm_vp9_320x240_25fps_opus_48k_stereo.webm "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libvpx-vp9 -b:v 200k -deadline realtime -cpu-used 8 -row-mt 0 -threads 1 \
    -c:a libopus -b:a 64k \
    -f webm

# WebM: VP8 + Vorbis.
enc webm_vp8_320x240_25fps_vorbis_44k_stereo.webm "" \
    -f lavfi -i "$(bars 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v libvpx -b:v 200k -deadline realtime -cpu-used 8 -threads 1 \
    -c:a libvorbis -q:a 2 \
    -f webm

# WebM: AV1 + 5.1 Opus (channel mapping family 1 in the OpusHead).
enc webm_av1_320x240_25fps_opus_48k_5.1.webm "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(surround 48000 1)" \
    -c:v libaom-av1 -b:v 150k -g 25 -cpu-used 8 -row-mt 0 -tiles 1x1 -threads 1 \
    -c:a libopus -b:a 96k \
    -f webm

# Matroska: H.264 + FLAC (STREAMINFO in CodecPrivate).
enc mkv_h264_320x240_25fps_flac_48k_stereo.mkv "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a flac -compression_level 12 -sample_fmt s16 \
    -f matroska

# Matroska: H.264 + A_PCM/INT/LIT.
enc mkv_h264_320x240_25fps_pcm_s16le_48k_stereo.mkv "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a pcm_s16le \
    -f matroska

# Matroska audio: A_PCM/INT/BIG (24 bits), A_PCM/FLOAT/IEEE, A_ALAC (magic cookie in CodecPrivate).
enc mka_pcm_s24be_44k_mono.mka "" \
    -f lavfi -i "$(tone 440 44100 1)" -c:a pcm_s24be -f matroska
enc mka_pcm_f32le_48k_stereo.mka "" \
    -f lavfi -i "$(stereo 48000 0.5)" -c:a pcm_f32le -f matroska
enc mka_alac_44k_stereo.mka "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a alac -f matroska

# Matroska: H.264 + 5.1 A_TRUEHD (the encoder is experimental).
enc mkv_h264_320x240_25fps_truehd_48k_5.1.mkv "" \
    -f lavfi -i "$(vsrc 320x240 25 0.5)" -f lavfi -i "$(surround 48000 0.5)" \
    -c:v libx264 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a truehd -strict -2 \
    -f matroska

# Matroska audio: A_MPEG/L2 and A_MPEG/L3.
enc mka_mp2_48k_stereo.mka "" \
    -f lavfi -i "$(stereo 48000 1)" -c:a mp2 -b:a 192k -f matroska
enc mka_mp3_44k_stereo.mka "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a libmp3lame -b:a 128k -f matroska

# --------------------------------------------------------------------------
# Raw video elementary streams
# --------------------------------------------------------------------------

enc es_mpeg1video_352x288_25fps.m1v "" \
    -f lavfi -i "$(vsrc 352x288 25 2)" \
    -c:v mpeg1video -b:v 600k -g 12 -bf 2 -threads 1 \
    -f mpeg1video

enc es_mpeg2video_720x480_16x9_29.97i_tff.m2v "+ilme+ildct" \
    -f lavfi -i "$(vsrc 720x480 30000/1001 1)" \
    -c:v mpeg2video -b:v 1500k -g 15 -bf 2 -aspect 16:9 -top 1 -threads 1 \
    -f mpeg2video

# MPEG-4 Visual with the default headers (visual object sequence first).
enc es_mpeg4_320x240_25fps.m4v "" \
    -f lavfi -i "$(vsrc 320x240 25 2)" \
    -c:v mpeg4 -b:v 300k -g 25 -bf 1 -threads 1 \
    -f m4v

# 188-byte packets: MPEG-2 video + E-AC-3 5.1 (stream_type 0x87 with an "EAC3"
# registration_descriptor).
enc ts_mpeg2video_320x240_25fps_eac3_48k_5.1.ts "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(surround 48000 1)" \
    -c:v mpeg2video -b:v 400k -g 12 -bf 2 -threads 1 \
    -c:a eac3 -b:a 192k \
    -f mpegts -mpegts_m2ts_mode 0

# 188-byte packets: HEVC (stream_type 0x24) + AAC; one x265 thread pool of one
# thread and one frame thread keep the encode deterministic.
enc ts_hevc_320x240_25fps_aac_48k_stereo.ts "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx265 -preset ultrafast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -x265-params "pools=1:frame-threads=1:log-level=error" \
    -c:a aac -b:a 96k \
    -f mpegts -mpegts_m2ts_mode 0

# 188-byte packets whose 33-bit timestamps wrap about one second in: the
# offset puts the first PTS (offset + the muxer's 1.4 s) 1 s before 2^33 / 90 kHz.
enc ts_mpeg2video_320x240_25fps_mp2_48k_stereo_ptswrap.ts "" \
    -f lavfi -i "$(vsrc 320x240 25 2)" -f lavfi -i "$(stereo 48000 2)" \
    -c:v mpeg2video -b:v 200k -g 12 -bf 2 -threads 1 \
    -c:a mp2 -b:a 64k -output_ts_offset 95441.3 \
    -f mpegts -mpegts_m2ts_mode 0

# 188-byte packets: a three-frame clip (0.12 s) of video alone, fewer PES
# packets than the end search looks for.
enc ts_mpeg2video_320x240_25fps_3frames.ts "" \
    -f lavfi -i "$(vsrc 320x240 25 0.12)" \
    -c:v mpeg2video -b:v 400k -g 12 -bf 0 -threads 1 \
    -f mpegts -mpegts_m2ts_mode 0

# MPEG-4 Visual with strict compliance: no visual object sequence header,
# the stream starts with the video object start code.
enc es_mpeg4_320x240_25fps_novos.m4v "" \
    -f lavfi -i "$(bars 320x240 25 1)" \
    -c:v mpeg4 -b:v 300k -g 25 -threads 1 -strict very \
    -f m4v

# Bare H.264 in High 4:4:4 Predictive (4:4:4 sampling), Annex B byte stream.
enc es_h264_high444_320x240_25fps.h264 "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" \
    -c:v libx264 -preset veryfast -b:v 300k -g 25 -pix_fmt yuv444p -threads 1 \
    -f h264

# Bare HEVC (Main), Annex B byte stream.
enc es_hevc_320x240_25fps.hevc "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" \
    -c:v libx265 -preset veryfast -b:v 300k -g 25 -pix_fmt yuv420p \
    -x265-params pools=1:frame-threads=1:log-level=error:info=0 \
    -f hevc

# --------------------------------------------------------------------------
# Audio files
# --------------------------------------------------------------------------
# A 64x64 JPEG picture for the files that carry a cover.
cover() { echo "-f lavfi -i color=c=0x3366cc:size=64x64:duration=0.04"; }
# MP3: constant rate without a Xing header and without ID3v2, variable rate with
# and without its Xing/LAME header, an ID3v2.3 tag with a cover picture (APIC),
# MPEG-2 (24 kHz) Layer III, and MPEG-2 Layer II at 22.05 kHz.
enc mp3_cbr_128k_44k_stereo.mp3 "" \
    -f lavfi -i "$(stereo 44100 2)" \
    -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 -f mp3
enc mp3_vbr_xing_44k_stereo.mp3 "" \
    -f lavfi -i "$(stereo 44100 2)" \
    -c:a libmp3lame -q:a 4 -id3v2_version 0 -f mp3
enc mp3_vbr_noxing_44k_mono.mp3 "" \
    -f lavfi -i "$(noise 44100 2 3)" \
    -c:a libmp3lame -q:a 4 -write_xing 0 -id3v2_version 0 -f mp3
enc mp3_id3v23_cover_48k_mono.mp3 "" \
    -f lavfi -i "$(tone 440 48000 2)" $(cover) \
    -map 0:a -map 1:v -frames:v 1 -c:v mjpeg -disposition:v attached_pic \
    -c:a libmp3lame -b:a 64k -id3v2_version 3 -f mp3
enc mp3_mpeg2_24k_mono.mp3 "" \
    -f lavfi -i "$(tone 440 24000 2)" \
    -c:a libmp3lame -b:a 32k -f mp3
enc mp2_mpeg2_22k_mono.mp2 "" \
    -f lavfi -i "$(tone 440 22050 2)" \
    -c:a mp2 -b:a 64k -f mp2
# AAC-LC in ADTS frames; AC-3 5.1; E-AC-3 stereo; DTS 5.1 (ffmpeg's experimental encoder).
enc adts_aac_lc_48k_stereo.aac "" \
    -f lavfi -i "$(stereo 48000 2)" \
    -c:a aac -b:a 128k -f adts
enc ac3_384k_48k_5.1.ac3 "" \
    -f lavfi -i "$(surround 48000 1)" \
    -c:a ac3 -b:a 384k -f ac3
enc eac3_96k_48k_stereo.eac3 "" \
    -f lavfi -i "$(stereo 48000 1)" \
    -c:a eac3 -b:a 96k -f eac3
enc dts_768k_48k_5.1.dts "" \
    -f lavfi -i "$(surround 48000 0.5)" \
    -c:a dca -strict -2 -b:a 768k -f dts
# FLAC with a PICTURE metadata block.
enc flac_44k_stereo_cover.flac "" \
    -f lavfi -i "$(stereo 44100 1)" $(cover) \
    -map 0:a -map 1:v -frames:v 1 -c:v mjpeg -disposition:v attached_pic \
    -c:a flac -sample_fmt s16 -f flac
# WAV: 16-bit PCM, 32-bit float, 5.1 (WAVE_FORMAT_EXTENSIBLE), A-law, MP3 (format
# tag 0x55), RF64 and Sony Wave64.
enc wav_pcm_s16le_44k_stereo.wav "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a pcm_s16le -f wav
enc wav_pcm_f32le_48k_mono.wav "" \
    -f lavfi -i "$(tone 440 48000 1)" -c:a pcm_f32le -f wav
enc wav_pcm_s16le_48k_5.1.wav "" \
    -f lavfi -i "$(surround 48000 0.5)" -c:a pcm_s16le -f wav
enc wav_alaw_8k_mono.wav "" \
    -f lavfi -i "$(tone 440 8000 1)" -c:a pcm_alaw -f wav
enc wav_mp3_44k_stereo.wav "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a libmp3lame -b:a 128k -f wav
enc wav_rf64_pcm_s16le_48k_stereo.wav "" \
    -f lavfi -i "$(stereo 48000 0.5)" -c:a pcm_s16le -rf64 always -f wav
enc w64_pcm_s24le_48k_stereo.w64 "" \
    -f lavfi -i "$(stereo 48000 0.5)" -c:a pcm_s24le -f w64
# AIFF (16-bit big-endian PCM) and AIFF-C (little-endian 'sowt', mu-law 'ulaw').
enc aiff_pcm_s16be_44k_stereo.aiff "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a pcm_s16be -f aiff
enc aifc_sowt_44k_stereo.aifc "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a pcm_s16le -f aiff
enc aifc_ulaw_8k_mono.aifc "" \
    -f lavfi -i "$(tone 440 8000 1)" -c:a pcm_mulaw -f aiff
# CAF: 16-bit PCM, and Apple Lossless (with its 'pakt' packet table).
enc caf_pcm_s16le_44k_stereo.caf "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a pcm_s16le -f caf
enc caf_alac_44k_stereo.caf "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a alac -f caf
# Ogg: Vorbis, Opus, FLAC, Speex, and Theora video with Vorbis audio.
enc ogg_vorbis_44k_stereo.ogg "" \
    -f lavfi -i "$(stereo 44100 2)" -c:a libvorbis -q:a 2 -f ogg
enc ogg_opus_48k_stereo.opus "" \
    -f lavfi -i "$(stereo 48000 2)" -c:a libopus -b:a 64k -f ogg
enc ogg_flac_44k_stereo.oga "" \
    -f lavfi -i "$(stereo 44100 1)" -c:a flac -sample_fmt s16 -f ogg
enc ogg_speex_16k_mono.spx "" \
    -f lavfi -i "$(tone 440 16000 2)" -c:a libspeex -f ogg
enc ogg_theora_320x240_25fps_vorbis_44k_stereo.ogv "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v libtheora -b:v 300k -g 25 -c:a libvorbis -q:a 2 -f ogg
# AMR storage format (RFC 4867, section 5): no encoder in this ffmpeg, so the
# frames are written here: the magic, then 50 frames (1 s) of 20 ms, each a
# table-of-contents byte (mode 7, 12.2 kbit/s, 31 bytes; AMR-WB mode 8,
# 23.85 kbit/s, 60 bytes) and its speech bits from a fixed pattern.
amr() {  # amr OUTPUT MAGIC TOC BYTES
    wanted "$1" || return 0
    python3 -c "
import sys
out = open(sys.argv[1], 'wb')
out.write(sys.argv[2].encode() + b'\n')
for i in range(50):
    out.write(bytes([int(sys.argv[3], 16)]) + bytes((i * 7 + k * 13) % 256 for k in range(int(sys.argv[4]))))
" "$1" "$2" "$3" "$4"
    FILES+=("$1")
}
amr amr_nb_12k2_mono.amr '#!AMR' 3C 31
amr amr_wb_23k85_mono.awb '#!AMR-WB' 44 60
# --------------------------------------------------------------------------
# Video containers beyond MPEG, MP4 and Matroska
# --------------------------------------------------------------------------
# AVI: MPEG-4 Visual (XVID) + MP3, H.264 + PCM, Motion JPEG + AC-3, DV + PCM.
enc avi_mpeg4_320x240_25fps_mp3_44k_stereo.avi "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v mpeg4 -vtag XVID -b:v 300k -g 25 -bf 1 -threads 1 \
    -c:a libmp3lame -b:a 128k -f avi
enc avi_h264_320x240_25fps_pcm_s16le_48k_stereo.avi "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v libx264 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a pcm_s16le -f avi
enc avi_mjpeg_320x240_25fps_ac3_48k_stereo.avi "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 48000 1)" \
    -c:v mjpeg -q:v 8 -pix_fmt yuvj420p -threads 1 \
    -c:a ac3 -b:a 192k -f avi
enc avi_dvvideo_720x576_25fps_pcm_s16le_48k_stereo.avi "" \
    -f lavfi -i "$(vsrc 720x576 25 0.12)" -f lavfi -i "$(stereo 48000 0.12)" \
    -c:v dvvideo -pix_fmt yuv420p -threads 1 -c:a pcm_s16le -f avi
# FLV: H.264 + AAC, Sorenson Spark + MP3 with onMetaData, and the same without it.
enc flv_h264_320x240_25fps_aac_44k_stereo.flv "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v libx264 -preset veryfast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -c:a aac -b:a 96k -f flv
enc flv_flv1_320x240_25fps_mp3_44k_stereo.flv "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v flv -b:v 300k -g 25 -threads 1 -c:a libmp3lame -b:a 64k -f flv
enc flv_flv1_320x240_25fps_mp3_44k_stereo_nometa.flv "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v flv -b:v 300k -g 25 -threads 1 -c:a libmp3lame -b:a 64k -flvflags no_metadata -f flv
# ASF: WMV2 + WMA 2, and Microsoft MPEG-4 v3 + WMA 2.
enc asf_wmv2_320x240_25fps_wmav2_44k_stereo.wmv "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v wmv2 -b:v 300k -g 25 -threads 1 -c:a wmav2 -b:a 64k -f asf
enc asf_msmpeg4v3_320x240_25fps_wmav2_44k_stereo.asf "" \
    -f lavfi -i "$(vsrc 320x240 25 1)" -f lavfi -i "$(stereo 44100 1)" \
    -c:v msmpeg4 -b:v 300k -g 25 -threads 1 -c:a wmav2 -b:a 64k -f asf
# MXF OP1a: MPEG-2 (interlaced, top field first) + PCM, D-10 (IMX 30, intra 4:2:2 at a constant
# 30 Mbit/s: the noise keeps the pictures from needing more stuffing than the encoder allows) + PCM,
# DNxHR + PCM.
enc mxf_mpeg2video_720x576_25i_tff_pcm_48k_stereo.mxf "+ilme+ildct" \
    -f lavfi -i "$(vsrc 720x576 25 0.4)" -f lavfi -i "$(stereo 48000 0.4)" \
    -c:v mpeg2video -b:v 4000k -g 12 -bf 2 -top 1 -aspect 16:9 -threads 1 \
    -c:a pcm_s16le -f mxf
enc mxf_d10_720x608_25i_pcm_48k_stereo.mxf "+ilme+ildct" \
    -f lavfi -i "$(vsrc 720x576 25 0.12)" -f lavfi -i "$(stereo 48000 0.12)" \
    -vf "noise=alls=40:allf=t+u:all_seed=5,pad=720:608:0:32" \
    -c:v mpeg2video -g 1 -bf 0 -pix_fmt yuv422p -top 1 -aspect 4:3 \
    -b:v 30000k -minrate 30000k -maxrate 30000k -bufsize 1200000 -rc_init_occupancy 1200000 \
    -intra_vlc 1 -non_linear_quant 1 -qmin 1 -qmax 12 -dc 10 -threads 1 \
    -c:a pcm_s16le -f mxf_d10
enc mxf_dnxhd_1280x720_25fps_pcm_48k_stereo.mxf "" \
    -f lavfi -i "$(vsrc 1280x720 25 0.12)" -f lavfi -i "$(stereo 48000 0.12)" \
    -c:v dnxhd -profile:v dnxhr_lb -pix_fmt yuv422p -threads 1 \
    -c:a pcm_s16le -f mxf
# Raw DV: PAL and NTSC, three frames each.
enc dv_pal_720x576_25fps_pcm_48k_stereo.dv "" \
    -f lavfi -i "$(vsrc 720x576 25 0.12)" -f lavfi -i "$(stereo 48000 0.12)" \
    -c:v dvvideo -pix_fmt yuv420p -threads 1 -c:a pcm_s16le -f dv
enc dv_ntsc_720x480_29.97fps_pcm_48k_stereo.dv "" \
    -f lavfi -i "$(vsrc 720x480 30000/1001 0.1)" -f lavfi -i "$(stereo 48000 0.1)" \
    -c:v dvvideo -pix_fmt yuv411p -threads 1 -c:a pcm_s16le -f dv

# --------------------------------------------------------------------------
# Tagged files: what a file says about itself (title, artist, album, track,
# date, comment, genre, a user-defined field), as each format's muxer writes it.
# --------------------------------------------------------------------------

# TAGS: the -metadata options every tagged file gets (the title names the
# format). The MP3 with ID3v2.3 has a non-Latin title (written in UTF-16), the
# one with ID3v2.4 (UTF-8) an ID3v1 tag after the frames as well.
tagged() {
    TAGS=(-metadata "title=Tagged $1" -metadata artist=Zephon -metadata "album=Corpus Tags"
          -metadata "album_artist=Corpus Artists" -metadata track=3/12 -metadata disc=1/2
          -metadata date=2024 -metadata genre=Rock -metadata "comment=made by make_corpus.sh"
          -metadata "REPLAYGAIN_TRACK_GAIN=-6.50 dB")
}
tagged mp3
enc tags_mp3_id3v23_44k_stereo.mp3 "" \
    -f lavfi -i "$(stereo 44100 1)" "${TAGS[@]}" -metadata $'title=Caf\u00e9 \u03a9 \u266b' \
    -c:a libmp3lame -b:a 128k -id3v2_version 3 -f mp3
enc tags_mp3_id3v24_id3v1_44k_stereo.mp3 "" \
    -f lavfi -i "$(stereo 44100 1)" "${TAGS[@]}" \
    -c:a libmp3lame -b:a 128k -id3v2_version 4 -write_id3v1 1 -f mp3
tagged flac
enc tags_flac_44k_stereo.flac "" \
    -f lavfi -i "$(stereo 44100 1)" "${TAGS[@]}" -c:a flac -sample_fmt s16 -f flac
tagged vorbis
enc tags_ogg_vorbis_44k_stereo.ogg "" \
    -f lavfi -i "$(stereo 44100 1)" "${TAGS[@]}" -c:a libvorbis -q:a 2 -f ogg
tagged opus
enc tags_ogg_opus_48k_stereo.opus "" \
    -f lavfi -i "$(stereo 48000 1)" "${TAGS[@]}" -c:a libopus -b:a 64k -f ogg
# MP4 audio with iTunes items (trkn and disk binary, the rest text), and a
# QuickTime movie with a phone's place, make and model as user data and its
# creation time in 'mvhd'.
tagged m4a
enc tags_m4a_aac_44k_stereo.m4a "" \
    -f lavfi -i "$(stereo 44100 1)" "${TAGS[@]}" -c:a aac -b:a 96k -f ipod
enc tags_mov_h264_320x240_25fps_phone.mov "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" -c:v libx264 -preset ultrafast -threads 1 \
    -metadata "title=Tagged mov" -metadata creation_time=2024-05-01T10:20:30Z \
    -metadata location=+48.8577+002.2950/ -metadata make=Zephon -metadata model="Corpus Cam 1" -f mov
# RIFF INFO lists: a WAV (the list before 'data') and an AVI (after 'hdrl').
tagged wav
enc tags_wav_pcm_s16le_44k_stereo.wav "" \
    -f lavfi -i "$(stereo 44100 0.5)" "${TAGS[@]}" -c:a pcm_s16le -f wav
tagged avi
enc tags_avi_mpeg4_320x240_25fps.avi "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" "${TAGS[@]}" -c:v mpeg4 -b:v 300k -threads 1 -f avi
# AIFF: the text chunks (NAME, AUTH, "(c) ", ANNO) and an ID3v2 tag in an
# "ID3 " chunk.
tagged aiff
enc tags_aiff_pcm_s16be_44k_stereo.aiff "" \
    -f lavfi -i "$(stereo 44100 0.5)" "${TAGS[@]}" -metadata author=Zephon -metadata "copyright=(c) 2024 Zephon" \
    -c:a pcm_s16be -write_id3v2 1 -f aiff
# ASF (WMA): the content description and extended content description objects.
tagged wma
enc tags_asf_wmav2_44k_stereo.wma "" \
    -f lavfi -i "$(stereo 44100 0.5)" "${TAGS[@]}" -c:a wmav2 -b:a 64k -f asf
# Flash Video: the metadata as onMetaData strings.
tagged flv
enc tags_flv_flv1_320x240_25fps.flv "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" "${TAGS[@]}" -c:v flv -b:v 300k -g 25 -threads 1 -f flv
# Matroska: the title in Info, the rest as global SimpleTags.
tagged mkv
enc tags_mkv_h264_320x240_25fps.mkv "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" "${TAGS[@]}" -c:v libx264 -preset ultrafast -threads 1 -f matroska

# A transport stream whose SDT names its service and provider (a non-ASCII name:
# UTF-8, DVB character table 0x15); ffprobe lists them as the program's tags
# (reference/NAME.programs.json).
enc tags_ts_mp2_48k_mono_service.ts "" \
    -f lavfi -i "$(tone 440 48000 0.5)" -c:a mp2 -b:a 64k \
    -metadata $'service_name=Caf\u00e9 Radio' -metadata service_provider=Zephon -f mpegts
wanted tags_ts_mp2_48k_mono_service.ts && ffprobe -v error -show_programs -of json tags_ts_mp2_48k_mono_service.ts \
    > reference/tags_ts_mp2_48k_mono_service.ts.programs.json

# Cover pictures: an M4A with a PNG 'covr' item, a Matroska file with a JPEG
# attached as cover.jpg and an Ogg Vorbis file with it in its comments. The picture each file stores (and those of the MP3 and
# FLAC with covers above) is extracted to reference/NAME.cover for the thumbnail
# tests.
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i color=c=0xcc6633:size=48x32:duration=0.04 \
    -frames:v 1 -flags:v +bitexact -fflags +bitexact "$TMP/cover.jpg"
enc cover_m4a_aac_44k_stereo.m4a "" \
    -f lavfi -i "$(stereo 44100 0.5)" $(cover) \
    -map 0:a -map 1:v -frames:v 1 -c:v png -disposition:v attached_pic \
    -c:a aac -b:a 96k -f ipod
enc cover_mkv_h264_320x240_25fps.mkv "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" -c:v libx264 -preset ultrafast -threads 1 \
    -attach "$TMP/cover.jpg" -metadata:s:t mimetype=image/jpeg -f matroska
# Ogg Vorbis with the JPEG as a METADATA_BLOCK_PICTURE comment: the base64 of a FLAC PICTURE block (front cover).
python3 -c "
import base64, struct, sys
pic = open(sys.argv[1], 'rb').read()
mime = b'image/jpeg'
block = struct.pack('>II', 3, len(mime)) + mime + struct.pack('>IIIIII', 0, 48, 32, 24, 0, len(pic)) + pic
print(base64.b64encode(block).decode())" "$TMP/cover.jpg" > "$TMP/cover.b64"
enc cover_ogg_vorbis_44k_stereo.ogg "" \
    -f lavfi -i "$(stereo 44100 0.5)" -metadata "METADATA_BLOCK_PICTURE=$(cat "$TMP/cover.b64")" \
    -c:a libvorbis -q:a 2 -f ogg
for f in mp3_id3v23_cover_48k_mono.mp3 flac_44k_stereo_cover.flac cover_m4a_aac_44k_stereo.m4a \
         cover_ogg_vorbis_44k_stereo.ogg; do
    wanted "$f" && ffmpeg -nostdin -hide_banner -loglevel error -y -i "$f" -an -c:v copy -f image2 "reference/$f.cover"
done
# ffmpeg shows a JPEG attachment as a second video stream (an attached picture).
wanted cover_mkv_h264_320x240_25fps.mkv && ffmpeg -nostdin -hide_banner -loglevel error -y \
    -i cover_mkv_h264_320x240_25fps.mkv -map 0:v:1 -c:v copy -f image2 reference/cover_mkv_h264_320x240_25fps.mkv.cover

# Matroska tracks of the codecs MD_EXT_MATROSKA_CODECS adds: V_MPEGH/ISO/HEVC (its decoder configuration record
# in CodecPrivate) with A_EAC3.
enc mkv_hevc_320x240_25fps_eac3_48k_stereo.mkv "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" -f lavfi -i "$(stereo 48000 0.4)" \
    -c:v libx265 -preset ultrafast -b:v 200k -g 25 -pix_fmt yuv420p -threads 1 \
    -x265-params pools=1:frame-threads=1:log-level=error:info=0 \
    -c:a eac3 -b:a 96k \
    -f matroska
# V_THEORA (its three headers Xiph-laced in CodecPrivate) with 2.1 A_AC3; V_MJPEG with 5.1 A_DTS.
enc mkv_theora_320x240_25fps_ac3_44k_2.1.mkv "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" -f lavfi -i "$(tone 440 44100 0.4),aformat=channel_layouts=2.1" \
    -c:v libtheora -b:v 300k -g 25 -c:a ac3 -b:a 96k \
    -f matroska
enc mkv_mjpeg_320x240_10fps_dts_48k_5.1.mkv "" \
    -f lavfi -i "$(vsrc 320x240 10 0.4)" -f lavfi -i "$(surround 48000 0.4)" \
    -c:v mjpeg -q:v 8 -pix_fmt yuvj420p -threads 1 -c:a dca -strict -2 -b:a 768k \
    -f matroska

# --------------------------------------------------------------------------
# Misses of a comparison with ffprobe and MediaInfo: MXF
# --------------------------------------------------------------------------

# MXF pictures stored in whole coding blocks: 1080 lines sampled, 1088 stored (H.264 frames; MPEG-2 fields of
# 540 lines stored in 544).
enc mxf_h264_1920x1080_25fps_pcm_48k_stereo.mxf "" \
    -f lavfi -i "$(vsrc 1920x1080 25 0.12)" -f lavfi -i "$(stereo 48000 0.12)" \
    -c:v libx264 -preset veryfast -crf 35 -threads 1 -c:a pcm_s16le -f mxf
enc mxf_mpeg2video_1920x1080_25i_tff_pcm_48k_stereo.mxf "+ilme+ildct" \
    -f lavfi -i "$(bars 1920x1080 25 0.12)" -f lavfi -i "$(stereo 48000 0.12)" \
    -c:v mpeg2video -qscale:v 20 -g 12 -bf 0 -top 1 -threads 1 -c:a pcm_s16le -f mxf

# --------------------------------------------------------------------------
# MP4 and QuickTime sample entries the MP4 extensions describe
# --------------------------------------------------------------------------

# AAC channel layouts without a channel count of their own: quad (channelConfiguration 0, a
# program_config_element of two channel pairs) and 7.1 (configuration 7, eight channels).
enc m4a_aac_44k_quad_pce.m4a "" \
    -f lavfi -i "aevalsrc=0.3*sin(440*2*PI*t)|0.3*sin(550*2*PI*t)|0.3*sin(660*2*PI*t)|0.3*sin(770*2*PI*t):sample_rate=44100:channel_layout=quad:duration=0.3" \
    -c:a aac -b:a 128k -f ipod
enc m4a_aac_48k_7.1.m4a "" \
    -f lavfi -i "aevalsrc=0.3*sin(440*2*PI*t)|0.3*sin(550*2*PI*t)|0.3*sin(660*2*PI*t)|0.3*sin(60*2*PI*t)|0.3*sin(770*2*PI*t)|0.3*sin(880*2*PI*t)|0.3*sin(990*2*PI*t)|0.3*sin(1100*2*PI*t):sample_rate=48000:channel_layout=7.1:duration=0.3" \
    -c:a aac -b:a 256k -f ipod
# MPEG-2 video in an 'mp4v' entry (objectTypeIndication 0x61, no decoder-specific info: the sequence
# header opens the first sample).
enc mp4_mpeg2video_352x288_16x9_25fps_aac_48k_stereo.mp4 "" \
    -f lavfi -i "$(vsrc 352x288 25 0.2)" -f lavfi -i "$(stereo 48000 0.2)" \
    -c:v mpeg2video -q:v 8 -g 5 -aspect 16:9 -threads 1 -c:a aac -b:a 96k -f mp4
# QuickTime entries: Apple Lossless at 96 kHz (a rate the entry's 16.16 field cannot hold: the
# magic cookie's), ProRes 422 with ALAC in a version 1 sound description (its cookie inside
# 'wave'), IMA ADPCM ('ima4'), A-law and mu-law.
enc m4a_alac_96k_24bit_stereo.m4a "" \
    -f lavfi -i "$(stereo 96000 0.1)" -c:a alac -sample_fmt s32p -f ipod
enc mov_prores_160x120_25fps_alac_44k_stereo.mov "" \
    -f lavfi -i "$(vsrc 160x120 25 0.2)" -f lavfi -i "$(stereo 44100 0.2)" \
    -c:v prores_ks -profile:v 2 -threads 1 -c:a alac -f mov
enc mov_adpcm_ima_qt_44k_stereo.mov "" \
    -f lavfi -i "$(stereo 44100 0.3)" -c:a adpcm_ima_qt -f mov
enc mov_pcm_alaw_8k_mono.mov "" \
    -f lavfi -i "$(tone 440 8000 0.3)" -c:a pcm_alaw -f mov
enc mov_pcm_mulaw_8k_mono.mov "" \
    -f lavfi -i "$(tone 440 8000 0.3)" -c:a pcm_mulaw -f mov

# --------------------------------------------------------------------------
# Channel layouts, field orders and codecs the base rules read otherwise
# (program and transport streams, bare streams, audio files, Ogg)
# --------------------------------------------------------------------------

# DTS stereo on DVD sub-stream 0x88: the base rules give every DTS frame six channels.
enc ps_mpeg2video_352x288_25fps_dts_48k_stereo.vob "" \
    -f lavfi -i "$(vsrc 352x288 25 0.3)" -f lavfi -i "$(stereo 48000 0.3)" \
    -c:v mpeg2video -b:v 400k -g 12 -bf 2 -threads 1 \
    -c:a dca -strict -2 -b:a 384k -f vob
# Opus 5.1 in a transport stream: private data with the "Opus" registration and the Opus audio
# descriptor (channel_config_code 6).
enc ts_h264_320x240_25fps_opus_48k_5.1.ts "" \
    -f lavfi -i "$(vsrc 320x240 25 0.4)" -f lavfi -i "$(surround 48000 0.4)" \
    -c:v libx264 -preset ultrafast -threads 1 -c:a libopus -b:a 96k -f mpegts
# 5.1 in ADTS (channel_configuration 6) and in Ogg Opus (mapping family 1): their speakers.
enc adts_aac_lc_48k_5.1.aac "" \
    -f lavfi -i "$(surround 48000 0.5)" -c:a aac -b:a 192k -f adts
enc ogg_opus_48k_5.1.opus "" \
    -f lavfi -i "$(surround 48000 0.5)" -c:a libopus -b:a 128k -f ogg
# MPEG-2 video (interlaced, top field first, 16:9) in an MPEG-1 system stream, as ffmpeg's "mpeg" muxer writes it.
# Under 64 KiB: at this rate the muxer writes a pack header only at the start, and the time table walks
# whole 64 KiB reads of packs.
enc mpg1_mpeg2video_352x288_16x9_25i_tff_mp2_48k_mono.mpg "+ilme+ildct" \
    -f lavfi -i "$(vsrc 352x288 25 0.3)" -f lavfi -i "$(tone 440 48000 0.3)" \
    -c:v mpeg2video -q:v 8 -top 1 -aspect 16:9 -threads 1 -c:a mp2 -b:a 128k -ac 1 -f mpeg
# Interlaced H.264, bottom field first (MBAFF frames), in a transport stream and as a bare stream.
enc ts_h264_352x288_25i_bff_mp2_48k_stereo.ts "+ilme+ildct" \
    -f lavfi -i "$(vsrc 352x288 25 0.4)" -f lavfi -i "$(stereo 48000 0.4)" \
    -c:v libx264 -preset veryfast -b:v 600k -pix_fmt yuv420p -threads 1 \
    -x264opts interlaced=1:bff=1 -top 0 -field_order bb -c:a mp2 -b:a 128k -f mpegts
enc es_h264_352x288_25i_bff.h264 "+ilme+ildct" \
    -f lavfi -i "$(vsrc 352x288 25 0.4)" \
    -c:v libx264 -preset veryfast -b:v 600k -pix_fmt yuv420p -threads 1 \
    -x264opts interlaced=1:bff=1 -top 0 -field_order bb -f h264

# --------------------------------------------------------------------------
# ffprobe references
# --------------------------------------------------------------------------

for f in "${FILES[@]}"; do
    ffprobe -v error -show_format -show_streams -of json "$f" > "reference/$f.ffprobe.json"
done

# Key video packets (pts in 90 kHz ticks, byte position of the PES packet) of
# the program streams, for the time-table tests.
for f in "${FILES[@]}"; do
    case "$f" in
    *.vob | mpg1_* | vcd_* | svcd_* | ps_mpeg2video_*)
        ffprobe -v error -select_streams v -show_entries packet=pts,pos,flags -of csv=p=0 "$f" |
            grep ',K' > "reference/$f.keypackets.csv" ;;
    esac
done

printf '%s\n' "${FILES[@]}"
