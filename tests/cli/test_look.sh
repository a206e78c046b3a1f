# --look classic|natural through the real executable: the default is classic byte for byte,
# natural gives another result and leaves a dim picture dim, a batch gives the single form's
# bytes, other names are refused.
source "$(dirname "$0")/lib.sh"

# A crop of the bundled photo, small enough to dehaze quickly, with real colours.
"$TEST_IMAGE" scale "$SOURCE_DIR/samples/hazy_mountains.jpg" 240 160 photo.png area

run photo.png default.png 0.7
expect_status 0 "no --look"
run --look classic photo.png classic.png 0.7
expect_status 0 "--look classic"
run --look natural photo.png natural.png 0.7
expect_status 0 "--look natural"
checks=$((checks + 2))
cmp -s default.png classic.png || fail "--look classic differs from no option"
cmp -s classic.png natural.png && fail "--look natural gives the classic result"

# The look reaches every picture of a batch, with -t too.
mkdir -p photos
cp photo.png photos/a.png
"$TEST_IMAGE" make gradient 50 40 photos/b.png
run -o out -t 0.7 --look natural photos
expect_status 0 "batch with --look natural"
for name in a b; do
  "$VANTOREL" --look natural "photos/$name.png" "single_$name.png" 0.7 >/dev/null 2>&1
  checks=$((checks + 1))
  cmp -s "out/$name.png" "single_$name.png" || fail "batch: out/$name.png differs from the single form's natural result"
done

# Names other than the two are refused before any picture is read: status 1, one line.
for look in Natural vivid "" "natural "; do
  run --look "$look" photo.png refused.png 0.7
  expect_status 1 "--look '$look'"
  expect_stderr_one_line_with "classic or natural" "--look '$look'"
  expect_no_file refused.png "--look '$look'"
done
run -o refused_dir --look vivid photos
expect_status 1 "batch with --look vivid"
expect_no_file refused_dir "batch with --look vivid"

# A dim picture stays dim in the natural look (the result keeps the input's range) and is
# stretched to full brightness in the classic one.
"$TEST_IMAGE" make dim 90 60 dim.png
read -r _ dim_high < <("$TEST_IMAGE" range dim.png)
for look in natural classic; do
  run --look "$look" dim.png "dim_$look.png" 0.6
  expect_status 0 "--look $look on a dim picture"
done
read -r _ natural_high < <("$TEST_IMAGE" range dim_natural.png)
read -r _ classic_high < <("$TEST_IMAGE" range dim_classic.png)
checks=$((checks + 2))
((natural_high <= dim_high)) || fail "natural: a dim picture (largest $dim_high) came out with $natural_high"
((classic_high > dim_high + 100)) || fail "classic: a dim picture (largest $dim_high) came out with only $classic_high"

# The help names the option, its values and its default.
run --help
checks=$((checks + 1))
[[ "$OUT" == *"--look LOOK"*"classic"*"natural"*"default classic"* ]] || fail "--help does not describe --look"

finish
