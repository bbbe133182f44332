" Settings for scores of the music-macro language: comments, folds of channel blocks and block
" comments, and in Neovim the language server's completion, hover and code actions on the
" usual keys once tarvik32-lsp is attached: CTRL-X CTRL-O completes, K shows the hover, <Leader>a
" offers the code actions ("Make MIDI file"), CTRL-K in Insert mode the signature help.
if exists('b:did_ftplugin')
  finish
endif
let b:did_ftplugin = 1

setlocal commentstring=//\ %s
setlocal comments=s1:/*,mb:*,ex:*/,://
setlocal foldmethod=syntax
setlocal foldlevel=99
let b:undo_ftplugin = 'setlocal commentstring< comments< foldmethod< foldlevel<'

if has('nvim')
  setlocal omnifunc=v:lua.vim.lsp.omnifunc
  nnoremap <buffer> <silent> K <Cmd>lua vim.lsp.buf.hover()<CR>
  nnoremap <buffer> <silent> <Leader>a <Cmd>lua vim.lsp.buf.code_action()<CR>
  inoremap <buffer> <silent> <C-k> <Cmd>lua vim.lsp.buf.signature_help()<CR>
  let b:undo_ftplugin .= ' omnifunc< | nunmap <buffer> K | nunmap <buffer> <Leader>a'
        \ . ' | iunmap <buffer> <C-k>'
endif
