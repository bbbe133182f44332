-- Neovim's own LSP client against tarvik32-lsp, headless: opens the score given on the command
-- line, waits for its diagnostics, asks for a hover and the document symbols, writes what it got
-- to $TARV_RESULT (one fact a line) and quits. $TARVIK32_LSP names the server; $TARV_HOVER is
-- "line,character" (0-based) of the hover. With $TARV_SHIPPED set (the package's Vim files on
-- the runtime path, the client started by the user's configuration) it writes instead what a
-- user of those files gets: the filetype, the colours
-- and folds, the keys, completion after "t120" as Neovim's omnifunc filters it, and the code
-- action that makes the MIDI file, run as Neovim runs it.
local server = os.getenv('TARVIK32_LSP')
local result = os.getenv('TARV_RESULT')
local hoverLine, hoverCharacter = os.getenv('TARV_HOVER'):match('(%d+),(%d+)')
local lines = {}

local function finish()
  local file = io.open(result, 'w')
  file:write(table.concat(lines, '\n') .. '\n')
  file:close()
  vim.cmd('qall!')
end

local config = {
  name = 'tarvik32',
  cmd = { server },
  root_dir = vim.fn.getcwd(),
  init_options = { language = 'en' },
}
-- With the package's files the user's configuration (README.md's snippet) starts the client.
local id
if os.getenv('TARV_SHIPPED') then
  vim.wait(20000, function() return #vim.lsp.buf_get_clients(0) > 0 end, 50)
  local attached = vim.lsp.buf_get_clients(0)
  for clientId in pairs(attached) do id = clientId end
elseif vim.lsp.start then -- Neovim 0.8 and later
  id = vim.lsp.start(config)
else
  id = vim.lsp.start_client(config)
  vim.lsp.buf_attach_client(0, id)
end

local function shipped()
  table.insert(lines, 'filetype ' .. vim.bo.filetype .. ' fold ' .. vim.wo.foldmethod .. ' omnifunc '
    .. vim.bo.omnifunc)
  for _, at in ipairs({ { 1, 1 }, { 1, 4 }, { 3, 3 }, { 3, 4 }, { 3, 11 }, { 4, 1 } }) do
    local id = vim.fn.synID(at[1], at[2], 1)
    table.insert(lines, string.format('colour %d,%d %s %s', at[1], at[2],
      vim.fn.synIDattr(id, 'name'), vim.fn.synIDattr(vim.fn.synIDtrans(id), 'name')))
  end
  table.insert(lines, 'K ' .. vim.fn.maparg('K', 'n'))
  if not id then
    table.insert(lines, 'no client')
    return finish()
  end
  local client = vim.lsp.get_client_by_id(id)
  local document = vim.lsp.util.make_text_document_params(0)
  -- Completion right after "t120" on line 3, filtered by the word before the point as the
  -- omnifunc filters it.
  local line = vim.api.nvim_buf_get_lines(0, 2, 3, false)[1]
  local column = line:find('t120') + 3
  local prefix = vim.fn.matchstr(line:sub(1, column), '\\k*$')
  local completion = client.request_sync('textDocument/completion', {
    textDocument = document, position = { line = 2, character = column } }, 10000, 0)
  local kept = vim.lsp.util.text_document_completion_list_to_complete_items(
    completion and completion.result or {}, prefix)
  local words = {}
  for _, item in ipairs(kept) do words[item.word] = true end
  table.insert(lines, string.format('completion after %s keeps t120c %s', prefix,
    tostring(words['t120c'] == true)))
  local actions = client.request_sync('textDocument/codeAction', {
    textDocument = document,
    range = { start = { line = 0, character = 0 }, ['end'] = { line = 0, character = 0 } },
    context = { diagnostics = {} } }, 10000, 0)
  local action = actions and actions.result and actions.result[1]
  if not action then
    table.insert(lines, 'no code action')
    return finish()
  end
  table.insert(lines, 'code action ' .. action.title)
  vim.lsp.buf.execute_command(action.command)
  local midi = vim.fn.expand('%:r') .. '.mid'
  local written = vim.wait(20000, function() return vim.fn.filereadable(midi) == 1 end, 50)
  table.insert(lines, 'midi ' .. (written and midi or 'not written'))

  -- Typing into line 3 at ten characters a second, an out-of-range volume early on: its
  -- diagnostic must show while the typing goes on.
  local typed = ' g a v22 c d e f g a b c d e f g a b c d'
  local shownAt
  for i = 1, #typed do
    local text = vim.api.nvim_buf_get_lines(0, 2, 3, false)[1]
    local at = #text - 1
    vim.api.nvim_buf_set_text(0, 2, at, 2, at, { typed:sub(i, i) })
    vim.wait(100)
    if not shownAt and #vim.diagnostic.get(0) > 0 then shownAt = i end
  end
  table.insert(lines, string.format('diagnostic while typing %s',
    tostring(shownAt ~= nil and shownAt < #typed)))
  -- Its quick fix as Neovim applies a code action's edit: the error goes away.
  vim.wait(5000, function() return #vim.diagnostic.get(0) > 0 end, 50)
  local diagnostic = vim.diagnostic.get(0)[1]
  local at = diagnostic and { line = diagnostic.lnum, character = diagnostic.col }
  local fixes = at and client.request_sync('textDocument/codeAction', {
    textDocument = document, range = { start = at, ['end'] = at },
    context = { diagnostics = vim.lsp.diagnostic.get_line_diagnostics(0, diagnostic.lnum),
                only = { 'quickfix' } } }, 10000, 0)
  local fix = fixes and fixes.result and fixes.result[1]
  if not fix then
    table.insert(lines, 'no quick fix')
    return finish()
  end
  vim.lsp.util.apply_workspace_edit(fix.edit, client.offset_encoding)
  local gone = vim.wait(5000, function() return #vim.diagnostic.get(0) == 0 end, 50)
  table.insert(lines, string.format('quick fix %s, error gone %s: %s', fix.title, tostring(gone),
    vim.api.nvim_buf_get_lines(0, 2, 3, false)[1]))
  finish()
end
if os.getenv('TARV_SHIPPED') then return shipped() end

local ok = vim.wait(20000, function() return #vim.diagnostic.get(0) > 0 end, 50)
if not ok then
  table.insert(lines, 'no diagnostics')
  return finish()
end
for _, d in ipairs(vim.diagnostic.get(0)) do
  table.insert(lines, string.format('diagnostic %d %d %s', d.lnum, d.col, d.message))
end

local client = vim.lsp.get_client_by_id(id)
local document = vim.lsp.util.make_text_document_params(0)
local hover = client.request_sync('textDocument/hover', {
  textDocument = document,
  position = { line = tonumber(hoverLine), character = tonumber(hoverCharacter) },
}, 10000, 0)
if hover and hover.result then
  table.insert(lines, 'hover ' .. hover.result.contents.value)
else
  table.insert(lines, 'no hover')
end
local symbols = client.request_sync('textDocument/documentSymbol', { textDocument = document },
  10000, 0)
for _, s in ipairs((symbols and symbols.result) or {}) do
  table.insert(lines, string.format('symbol %s %d %d', s.name, s.range.start.line,
    s.range['end'].line))
end
finish()
