# docs/make_before_after.sh, with and without --looks: the sample and its results side by side,
# for the README.
source "$(dirname "$0")/lib.sh"

# The sample is 1600 x 1066: two panels of 480 x 320 and a gap of 8.
VANTOREL_BUILD_DIR=$(dirname "$VANTOREL") bash "$SOURCE_DIR/docs/make_before_after.sh" "$SCRATCH/ba.jpg" >out.txt 2>err.txt
STATUS=$?
ERR=$(cat err.txt)
expect_status 0 "make_before_after.sh"
expect_image ba.jpg "968 320 3 8" "make_before_after.sh"

# The sample, its classic and its natural result: three panels of 480 x 320 and two gaps.
VANTOREL_BUILD_DIR=$(dirname "$VANTOREL") bash "$SOURCE_DIR/docs/make_before_after.sh" --looks "$SCRATCH/looks.jpg" 0.5 >out.txt 2>err.txt
STATUS=$?
ERR=$(cat err.txt)
expect_status 0 "make_before_after.sh --looks"
expect_image looks.jpg "1456 320 3 8" "make_before_after.sh --looks"

# The left panel is the sample scaled, the right one the tool's result scaled, the gap white.
"$TEST_IMAGE" make gradient 40 30 a.png
"$TEST_IMAGE" make red 40 30 b.png
"$TEST_IMAGE" side-by-side a.png b.png 20 pair.png
expect_image pair.png "48 15 3 8" "side-by-side"
"$TEST_IMAGE" side-by-side b.png b.png 20 reds.png
"$TEST_IMAGE" make red 48 15 all_red.png
checks=$((checks + 1))
"$TEST_IMAGE" same reds.png all_red.png && fail "side-by-side: the gap is missing"
checks=$((checks + 1))
"$TEST_IMAGE" side-by-side missing.png b.png 20 none.png 2>/dev/null && fail "side-by-side: a missing picture was accepted"
"$TEST_IMAGE" side-by-side a.png b.png a.png 20 three.png
expect_image three.png "76 15 3 8" "side-by-side of three"

finish
