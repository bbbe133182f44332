-- Neovim's own LSP client against tarvik32-lsp, headless: opens the score given on the command
-- line, waits for its diagnostics, asks for a hover and the document symbols, writes what it got
-- to $TARV_RESULT (one fact a line) and quits. $TARVIK32_LSP names the server; $TARV_HOVER is
-- "line,character" (0-based) of the hover.
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
local id
if vim.lsp.start then -- Neovim 0.8 and later
  id = vim.lsp.start(config)
else
  id = vim.lsp.start_client(config)
  vim.lsp.buf_attach_client(0, id)
end

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
