#!/bin/sh
# Runs Neovim headless with nvim_client.lua on a score and compares what its LSP client got from
# tarvik32-lsp with what the score must give. Usage: nvim_check.sh NVIM SERVER
set -eu
nvim=$1
server=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
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
echo "nvim_check: diagnostic, hover and symbols as expected"
