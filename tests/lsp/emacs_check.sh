#!/bin/sh
# Runs Emacs with eglot in batch against tarvik32-lsp, configured by the Emacs snippet of
# README.md exactly as a user copies it with the package's tarvik-mode.el where site-lisp holds
# it, and compares the mode's index and colours and what Flymake and eldoc's hover got with
# what the score must give; then once more with the Japanese texts the manual tells how to ask
# for; and on a clean score the make-MIDI code action, whose file must be tarvk32c's. The
# manuals must hold the same snippet. Usage: emacs_check.sh EMACS SERVER SOURCE_DIR TARVK32C
set -eu
emacs=$1
server=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
source=$3
console=$(cd "$(dirname "$4")" && pwd)/$(basename "$4")
here=$(cd "$(dirname "$0")" && pwd)
if ! "$emacs" --batch --eval '(progn (package-activate-all)
      (kill-emacs (if (locate-library "eglot") 0 3)))' >/dev/null 2>&1; then
  echo "emacs_check: $emacs has no eglot; install Debian's emacs-nox and elpa-eglot" \
    "(scripts/install-deps test)" >&2
  exit 1
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvlsp_emacs.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/.emacs.d" "$dir/bin"
ln -s "$server" "$dir/bin/tarvik32-lsp"

awk '/^```elisp$/ { inside = 1; next } /^```$/ { inside = 0 } inside' "$source/README.md" \
  >"$dir/snippet.el"
if [ ! -s "$dir/snippet.el" ]; then
  echo "emacs_check: README.md has no elisp snippet" >&2
  exit 1
fi
while IFS= read -r line; do
  for manual in "$source/docs/manual/en.html" "$source/docs/manual/index.html"; do
    if [ -n "$line" ] && ! grep -qF -- "$line" "$manual"; then
      echo "emacs_check: $manual lacks this line of README.md's Emacs snippet: $line" >&2
      exit 1
    fi
  done
done <"$dir/snippet.el"

# The channel line has a two-byte-wide character before the error, so a column counted in the
# wrong unit shows.
printf '%s\n' 'cr("デモ")' 'ch1 {' ' "t120 l8 c d e f"' ' /*ド*/ "g4 x"' '}' >"$dir/score.fms"
run() { # expected-file [score]
  rm -f "$dir/result"
  (cd "$dir" && PATH=$dir/bin:$PATH HOME=$dir XDG_CONFIG_HOME=$dir/.config \
    TARV_SCORE=${2:-score.fms} \
    TARV_SITE_LISP=$source/packaging/emacs \
    TARV_RESULT=$dir/result TARV_HOVER=3,8 timeout 60 "$emacs" --batch -l "$here/emacs_client.el" \
    >"$dir/log" 2>&1) || true
  if ! diff -u "$1" "$dir/result"; then
    echo "emacs_check: eglot did not get what the score gives; Emacs said:" >&2
    cat "$dir/log" >&2
    exit 1
  fi
}

cp "$dir/snippet.el" "$dir/.emacs.d/init.el"
cat >"$dir/expected" <<'END'
mode tarvik-mode
imenu cr ch1
diagnostic 3 11 tarvik32 [1]: It isn't possible to decipher.
face font-lock-variable-name-face
hover G5 · quarter note (480 ticks) · ch1 · bar 1 beat 3 · volume 10 · program 0
completion after t120 offers c d e f g a b
END
run "$dir/expected"

japanese='"tarvik32-lsp" :initializationOptions (:language "ja"))'
for manual in "$source/README.md" "$source/docs/manual/en.html" "$source/docs/manual/index.html"; do
  if ! grep -qF -- "$japanese" "$manual"; then
    echo "emacs_check: $manual does not show eglot's contact with Japanese texts" >&2
    exit 1
  fi
done
sed 's/"tarvik32-lsp")/'"$japanese"'/' "$dir/snippet.el" >"$dir/.emacs.d/init.el"
cat >"$dir/expected" <<'END'
mode tarvik-mode
imenu cr ch1
diagnostic 3 11 tarvik32 [1]: 解読できない命令があります
face font-lock-variable-name-face
hover G5 ・ 4分音符 (480 ticks) ・ ch1 ・ 小節 1 拍 3 ・ 音量 10 ・ 音色 0
completion after t120 offers c d e f g a b
END
run "$dir/expected"

# A quick fix applied as eglot applies it takes the error away.
cp "$dir/snippet.el" "$dir/.emacs.d/init.el"
printf '%s\n' 'cr("demo")' 'ch1 {' ' "t120 l8 c d e f"' ' /*ド*/ "g4 v22"' '}' >"$dir/fix.fms"
cat >"$dir/expected" <<'END'
mode tarvik-mode
imenu cr ch1
diagnostic 3 11 tarvik32 [16]: code 'V?' (0 to 16)
face font-lock-variable-name-face
hover G5 · quarter note (480 ticks) · ch1 · bar 1 beat 3 · volume 10 · program 0
completion after t120 offers c d e f g a b
fixed /*ド*/ "g4 v16"
diagnostics after the fix 0
END
TARV_QUICK_FIX=1 run "$dir/expected" fix.fms

cp "$dir/snippet.el" "$dir/.emacs.d/init.el"
printf '%s\n' 'cr("demo")' 'ch1 {' ' "t120 l8 c d e f"' '}' >"$dir/clean.fms"
cp "$dir/clean.fms" "$dir/console.fms"
cat >"$dir/expected" <<'END'
mode tarvik-mode
imenu cr ch1
midi clean.mid
END
TARV_CODE_ACTION=1 run "$dir/expected" clean.fms
(cd "$dir" && "$console" console.fms >/dev/null)
if ! cmp "$dir/clean.mid" "$dir/console.mid"; then
  echo "emacs_check: the code action's MIDI file is not tarvk32c's" >&2
  exit 1
fi
echo "emacs_check: README.md's eglot snippet gets the diagnostic and the hover, in both languages,"
echo "emacs_check: and the code action writes tarvk32c's MIDI file"
