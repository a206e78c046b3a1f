# Faults a new user met, mended: result formats that cannot hold a colour picture,
# results that are symbolic links or write-protected, arguments after the third, a bad
# VANTOREL_THREADS, and the packages the tests need. (A negative thickness is in
# test_command_line.sh, a damaged EXIF block in test_metadata.sh.)
source "$(dirname "$0")/lib.sh"

"$TEST_IMAGE" make gradient 40 30 scene.png

# Formats whose encoder exists but cannot take a 3-channel 8-bit picture: refused before
# any dehazing (no "Time cost"), one line naming the result, nothing written.
for ext in pgm pbm exr; do
  run scene.png "out.$ext"
  expect_status 1 ".$ext result"
  expect_stdout "" ".$ext result"
  expect_stderr_one_line_with "out.$ext: this file format cannot hold a colour picture" ".$ext result"
  expect_no_file "out.$ext" ".$ext result"
done
run -o batch --format pgm scene.png
expect_status 1 "--format pgm"
expect_stderr_one_line_with "--format pgm: this file format cannot hold" "--format pgm"
checks=$((checks + 1))
[[ ! -e batch ]] || fail "--format pgm: the batch started"

# A result that is a symbolic link: its target is replaced, in the target's folder, and
# the link stays a link. The target's permission bits are kept.
mkdir real
cp scene.png real/target.png
chmod 640 real/target.png
ln -s real/target.png link.png
run scene.png link.png 0.9
expect_status 0 "result through a link"
run scene.png direct.png 0.9
checks=$((checks + 3))
[[ -L link.png && $(readlink link.png) == real/target.png ]] || fail "result through a link: the link was replaced"
cmp -s real/target.png direct.png || fail "result through a link: the target is not the result"
[[ $(stat -c %a real/target.png) == 640 ]] || fail "result through a link: mode $(stat -c %a real/target.png), expected 640"
expect_no_file real/none "result through a link"

# A write-protected result is refused, as cp refuses it, unless --force; root may write
# anything, so the check runs as an ordinary user.
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  chmod 755 "$SCRATCH"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
mkdir protected
cp scene.png protected/result.png
chmod 444 protected/result.png
[[ ${#as_user[@]} -gt 0 ]] && chown -R nobody:nogroup protected
"${as_user[@]}" "$VANTOREL" scene.png protected/result.png >out.txt 2>err.txt
STATUS=$? ERR=$(cat err.txt)
expect_status 1 "write-protected result"
expect_stderr_one_line_with "protected/result.png: cannot write the result: the existing file is write-protected (--force replaces it)" \
  "write-protected result"
checks=$((checks + 1))
cmp -s scene.png protected/result.png || fail "write-protected result: the file changed"
"${as_user[@]}" "$VANTOREL" --force scene.png protected/result.png >out.txt 2>err.txt
STATUS=$? ERR=$(cat err.txt)
expect_status 0 "write-protected result with --force"
"$VANTOREL" scene.png direct_1.png >/dev/null
checks=$((checks + 2))
cmp -s direct_1.png protected/result.png || fail "--force: the result was not written"
[[ $(stat -c %a protected/result.png) == 444 ]] || fail "--force: mode $(stat -c %a protected/result.png), expected 444"

# Arguments after the third are still ignored, but a note says so.
run scene.png extra.png 0.9 extra more
expect_status 0 "arguments after the third"
expect_stderr_one_line_with "note: arguments after the third are ignored: 'extra' 'more'" "arguments after the third"
checks=$((checks + 1))
cmp -s extra.png direct.png || fail "arguments after the third changed the result"

# VANTOREL_THREADS must be a whole number from 1 to 256; anything else is refused, in both
# forms, including values past what the library takes or a long holds.
for value in abc 0 -1 " 2" 1.5 257 18446744073709551617; do
  VANTOREL_THREADS=$value run scene.png threads.png
  expect_status 1 "VANTOREL_THREADS='$value'"
  expect_stderr_one_line_with "VANTOREL_THREADS '$value' is not a whole number from 1 to 256" "VANTOREL_THREADS='$value'"
  expect_no_file threads.png "VANTOREL_THREADS='$value'"
done
VANTOREL_THREADS=abc run -o threads_batch scene.png
expect_status 1 "VANTOREL_THREADS in a batch"
VANTOREL_THREADS=256 run scene.png threads.png 0.9
expect_status 0 "VANTOREL_THREADS=256"
VANTOREL_THREADS=1 run scene.png threads.png 0.9
expect_status 0 "VANTOREL_THREADS=1"
checks=$((checks + 1))
cmp -s threads.png direct.png || fail "VANTOREL_THREADS=1 changed the result"

# Every program the tests run comes from a package that scripts/install-deps.sh installs
# or that every Debian system has (Essential): a fresh machine has nothing else.
listed=$(sed -n '/^packages=(/,/^)/p' "$SOURCE_DIR/scripts/install-deps.sh")
for program in man groff script setpriv cmp od dd timeout time prlimit strace unshare mount; do
  checks=$((checks + 1))
  path=$(type -P "$program") || { fail "$program is not installed"; continue; }
  package=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -n 1 | cut -d: -f1)
  [[ -n $package ]] || package=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
  essential=$(dpkg-query -W -f='${Essential}' "$package" 2>/dev/null)
  [[ $essential == yes || " $listed " == *[[:space:]]"$package"[[:space:]]* ]] ||
    fail "$program comes from $package, which install-deps.sh does not install"
done

finish
