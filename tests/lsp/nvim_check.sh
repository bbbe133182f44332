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

# The package's files as Neovim finds them in /usr/share/nvim/site, with filetype plugins and
# syntax on as in a user's configuration.
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
END
TARVIK32_LSP=$server TARV_RESULT=$dir/result TARV_HOVER=0,0 TARV_SHIPPED=1 HOME=$dir \
  XDG_CONFIG_HOME=$dir XDG_DATA_HOME=$dir XDG_STATE_HOME=$dir timeout 60 "$nvim" --headless \
  --clean --cmd "set runtimepath^=$source/packaging/vim" -c 'filetype plugin on' -c 'syntax on' \
  -c 'edit clean.fms' -c "luafile $here/nvim_client.lua" >/dev/null 2>&1 || true
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
