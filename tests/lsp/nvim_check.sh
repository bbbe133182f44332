#!/bin/sh
# Runs Neovim headless with nvim_client.lua on a score and compares what its LSP client got from
# tarvik32-lsp with what the score must give; then once more on a clean score with the Vim files
# the package installs, where the MIDI file the code action writes must be tarvk32c's.
# Usage: nvim_check.sh NVIM SERVER TARVK32C SOURCE_DIR
set -eu
nvim=$1
server=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
console=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
source=$(cd "$4" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvlsp_nvim.XXXXXX")
trap 'rm -rf "$dir"' EXIT
printf '%s\n' 'cr("demo")' 'ch1 {' ' "t120 l8 c d e f"' ' "g4 x"' '}' >"$dir/score.fms"
cat >"$dir/expected" <<'END'
diagnostic 3 5 It isn't possible to decipher.
hover E5 · eighth note (240 ticks) · ch1 · bar 1 beat 2 · volume 10 · program 0
symbol cr 0 0
symbol ch1 1 4
END
cd "$dir"
TARVIK32_LSP=$server TARV_RESULT=$dir/result TARV_HOVER=2,14 HOME=$dir XDG_CONFIG_HOME=$dir \
  XDG_DATA_HOME=$dir XDG_STATE_HOME=$dir timeout 60 "$nvim" --headless --clean \
  -c "luafile $here/nvim_client.lua" score.fms >/dev/null 2>&1 || true
if ! diff -u "$dir/expected" "$dir/result"; then
  echo "nvim_check: Neovim's LSP client did not get what the score gives" >&2
  exit 1
fi

# The package's files as a user of a build from source gets them, with Neovim's own defaults
# (filetype plugins and syntax on).
printf '%s\n' 'cr("demo")' 'ch1 {' ' "t120 l8 c d e f"' '}' >"$dir/clean.fms"
cp "$dir/clean.fms" "$dir/console.fms"
cat >"$dir/expected" <<'END'
filetype tarvik fold syntax omnifunc v:lua.vim.lsp.omnifunc
colour 1,1 tarvikKeyword Statement
colour 1,4 tarvikHeaderText Constant
colour 3,3 tarvikCommand Identifier
colour 3,4 tarvikNumber Constant
colour 3,11 tarvikNote Special
colour 4,1 tarvikKeyword Statement
K <Cmd>lua vim.lsp.buf.hover()<CR>
completion after t120 keeps t120c true
code action Make MIDI file
midi clean.mid
diagnostic while typing true
quick fix Change v22 to v16, error gone true:  "t120 l8 c d e f g a v16 c d e f g a b c d e f g a b c d"
END
# The user's init.lua: README.md's snippet for Debian 12's Neovim copied whole, behind the line
# the README gives for the Vim files of a build from source; the server is found on PATH.
mkdir -p "$dir/nvim" "$dir/bin"
ln -s "$server" "$dir/bin/tarvik32-lsp"
printf "vim.cmd('set runtimepath^=%s/packaging/vim')\n" "$source" >"$dir/nvim/init.lua"
awk '/^Neovim 0\.7 \(Debian 12\):$/ { found = 1 } found && /^```$/ { exit }
     found && inside { print } found && /^```lua$/ { inside = 1 }' "$source/README.md" \
  >>"$dir/nvim/init.lua"
if ! grep -q buf_attach_client "$dir/nvim/init.lua"; then
  echo "nvim_check: README.md has no snippet for Neovim 0.7" >&2
  exit 1
fi
PATH=$dir/bin:$PATH TARV_RESULT=$dir/result TARV_HOVER=0,0 TARV_SHIPPED=1 HOME=$dir \
  XDG_CONFIG_HOME=$dir XDG_DATA_HOME=$dir XDG_STATE_HOME=$dir timeout 60 "$nvim" --headless \
  -c "luafile $here/nvim_client.lua" clean.fms >/dev/null 2>&1 || true
if ! diff -u "$dir/expected" "$dir/result"; then
  echo "nvim_check: Neovim with the package's Vim files did not get what the score gives" >&2
  exit 1
fi
"$console" console.fms >/dev/null
if ! cmp "$dir/clean.mid" "$dir/console.mid"; then
  echo "nvim_check: the code action's MIDI file is not tarvk32c's" >&2
  exit 1
fi
echo "nvim_check: diagnostic, hover and symbols as expected; with the package's Vim files the"
echo "nvim_check: colours, folds, keys, completion and the code action's MIDI file as expected"
