#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets, made on the spot, nothing downloaded.
#   fuzz/make_seeds.sh TEST_IMAGE OUT_DIR   fills OUT_DIR/decode and OUT_DIR/dehaze
set -euo pipefail
test_image=$1
out=$2
mkdir -p "$out/decode" "$out/dehaze"

# decode: small pictures in every format the library writes, the unusual layouts, and
# damaged and oversized ones.
d=$out/decode
for ext in png jpg bmp tif webp ppm pam hdr pfm ras; do
  "$test_image" make gradient 16 12 "$d/gradient.$ext"
done
"$test_image" make noise 9 7 "$d/noise.png"
"$test_image" make gradient 1 1 "$d/one_pixel.png"
"$test_image" make gray8 12 8 "$d/grey.png"
"$test_image" make gray16 12 8 "$d/grey16.png"
"$test_image" make rgb16 12 8 "$d/colour16.png"
"$test_image" make rgba 12 8 "$d/rgba.png"
"$test_image" make black 8 8 "$d/black.png"
"$test_image" make progressive 24 16 "$d/progressive.jpg"
"$test_image" craft cmyk 16 16 "$d/cmyk.jpg"
"$test_image" craft palette 12 8 "$d/palette.png"
"$test_image" craft grey_alpha 12 8 "$d/grey_alpha.png"
"$test_image" craft claimed_size 100000 100000 "$d/claims_huge.png"
"$test_image" craft claimed_size_bmp 100000 100000 "$d/claims_huge.bmp"
head -c 200 "$d/gradient.jpg" >"$d/truncated.jpg"
head -c 100 "$d/gradient.png" >"$d/truncated.png"

# dehaze: byte 0 cols - 1, byte 1 rows - 1, four bytes of little-endian float thickness,
# then pixel bytes.
pattern() {  # pattern COUNT STEP [MODULUS]: COUNT bytes, (i * STEP + 11) mod MODULUS (256)
  local i
  for ((i = 0; i < $1; i++)); do printf "\\x$(printf %02x $(((i * $2 + 11) % ${3:-256})))"; done
}
t_0_9='\x66\x66\x66\x3f'
t_1='\x00\x00\x80\x3f'
t_0_1='\xcd\xcc\xcc\x3d'
printf "\x07\x05$t_0_9" >"$out/dehaze/gradient_8x6"
pattern 144 37 >>"$out/dehaze/gradient_8x6"
printf "\x00\x00$t_1\x40\x80\xc0" >"$out/dehaze/one_pixel"
printf "\x3f\x3f$t_0_1" >"$out/dehaze/black_64x64"
printf "\x3f\x00$t_1\xff" >"$out/dehaze/white_64x1"
printf "\x00\x3f$t_0_9\x00\x00\xff" >"$out/dehaze/red_1x64"
printf "\x0f\x0f$t_1" >"$out/dehaze/single_bright_16x16"
head -c 767 /dev/zero >>"$out/dehaze/single_bright_16x16"
printf '\xff' >>"$out/dehaze/single_bright_16x16"
printf "\x09\x09$t_0_9" >"$out/dehaze/dark_10x10"
pattern 300 5 21 >>"$out/dehaze/dark_10x10"  # largest sample 20
# Thicknesses outside (0, 1]: zero, negative, just above one, infinity, NaN, denormal.
for thickness in '\x00\x00\x00\x00' '\x00\x00\x00\xbf' '\x01\x00\x80\x3f' '\x00\x00\x80\x7f' \
  '\x00\x00\xc0\x7f' '\x01\x00\x00\x00'; do
  name=thickness_$(printf "$thickness" | od -An -tx1 | tr -d ' \n')
  printf "\x03\x02$thickness" >"$out/dehaze/$name"
  pattern 36 53 >>"$out/dehaze/$name"
done
