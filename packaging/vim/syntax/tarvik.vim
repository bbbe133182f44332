" Colours for scores of the music-macro language, for editors without semantic tokens (Vim,
" Neovim 0.7), and folds of channel blocks and block comments. The groups follow the language
" server's token types: keywords, comments, command strings with their notes, numbers and
" commands, ties and tuplets, header texts.
if exists('b:current_syntax')
  finish
endif
syntax case ignore

" Inside a command string: notes and rests, the commands that take a number, ties, tuplets.
syntax match tarvikNote /[a-gr][-+#]*/ contained
syntax match tarvikCommand /[tv@$qonl<>]/ contained
syntax match tarvikNumber /[0-9]\+\.\?\|:[0-9]\+\|\./ contained
syntax match tarvikTie /&/ contained
syntax match tarvikTuplet /[{}]/ contained
syntax region tarvikString start=/"/ end=/"/ oneline contained
      \ contains=tarvikNote,tarvikCommand,tarvikNumber,tarvikTie,tarvikTuplet

" Header commands: op( keywords ), cr("text"), sn("text").
syntax keyword tarvikOpKeyword q7def q8def autolr manulr contained
syntax match tarvikHeaderText /"[^"]*"/ contained
syntax region tarvikHeader matchgroup=tarvikKeyword start=/\<\(op\|cr\|sn\)\s*(/ end=/)/
      \ contains=tarvikOpKeyword,tarvikHeaderText

" Channel blocks ch1 { ... } to ch9 { ... }, folded.
syntax region tarvikBlock matchgroup=tarvikKeyword start=/\<ch[1-9]\s*{/ end=/}/ fold
      \ contains=tarvikString,tarvikLineComment,tarvikBlockComment

" A channel block spans many lines: parse from the top so that a line in its middle is coloured
" as part of it wherever the window starts.
syntax sync fromstart

syntax match tarvikLineComment +//.*$+
syntax region tarvikBlockComment start=+/\*+ end=+\*/+ fold

highlight default link tarvikKeyword Keyword
highlight default link tarvikOpKeyword Constant
highlight default link tarvikHeaderText String
highlight default link tarvikString String
highlight default link tarvikNote Special
highlight default link tarvikCommand Function
highlight default link tarvikNumber Number
highlight default link tarvikTie Operator
highlight default link tarvikTuplet Operator
highlight default link tarvikLineComment Comment
highlight default link tarvikBlockComment Comment

let b:current_syntax = 'tarvik'
