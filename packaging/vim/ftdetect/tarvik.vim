" Scores of the music-macro language: files ending in .fms.
autocmd BufRead,BufNewFile *.fms setfiletype tarvik
