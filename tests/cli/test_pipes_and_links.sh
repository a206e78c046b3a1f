# Files that are not pictures on disk: a FIFO or a link to nothing never holds or silently
# shrinks a batch.
source "$(dirname "$0")/lib.sh"

mkdir t
"$TEST_IMAGE" make gradient 40 30 t/a.png || exit 1
mkfifo t/f.jpg
ln -s gone.png t/dangling.png

# From a folder: the FIFO is left out with a note (reading it would wait for ever), the
# link to nothing is a failure line, the picture is written.
timeout 60 "$VANTOREL" -o t/clear t >out.txt 2>err.txt
STATUS=$?
ERR=$(cat err.txt)
expect_status 1 "folder with a FIFO and a dangling link"
checks=$((checks + 1))
[[ "$ERR" == *"note: 1 file that is not a regular file (a FIFO, socket or device) left out"* ]] ||
  fail "folder: no note on the FIFO: $ERR"
checks=$((checks + 1))
[[ "$ERR" == *"t/dangling.png: a symbolic link to a file that does not exist"* ]] ||
  fail "folder: the dangling link is not reported: $ERR"
expect_image t/clear/a.png "40 30 3 8" "folder: the picture"

# Named, each is one failure line, and the batch goes on.
timeout 60 "$VANTOREL" -o named t/f.jpg t/a.png >out.txt 2>err.txt
STATUS=$?
ERR=$(cat err.txt)
expect_status 1 "a named FIFO"
checks=$((checks + 1))
[[ $(grep -c "t/f.jpg" err.txt) -eq 1 && "$ERR" == *"t/f.jpg: not a regular file but a named pipe (FIFO)"* ]] ||
  fail "a named FIFO: not one failure line: $ERR"
expect_image named/a.png "40 30 3 8" "a named FIFO: the other picture"
run t/f.jpg single.png 0.9
expect_status 1 "the single form on a FIFO"
expect_no_file single.png "the single form on a FIFO"
mkfifo t/f.mp4
timeout 60 "$VANTOREL" t/f.mp4 clip.mp4 0.9 >out.txt 2>err.txt
STATUS=$?
ERR=$(cat err.txt)
expect_status 1 "the single form on a FIFO named as a clip"
expect_no_file clip.mp4 "the single form on a FIFO named as a clip"

# A source's name is a file's name, never a protocol of the clip library: "pipe:0" is a
# missing file, not standard input.
timeout 60 "$VANTOREL" pipe:0.mp4 piped.mp4 0.9 </dev/zero >out.txt 2>err.txt
STATUS=$?
ERR=$(cat err.txt)
expect_status 1 "a protocol's name as the source"
expect_stderr_one_line_with "pipe:0.mp4" "a protocol's name as the source"
expect_no_file piped.mp4 "a protocol's name as the source"

finish
