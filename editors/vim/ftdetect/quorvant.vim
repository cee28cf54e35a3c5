" Quorvant scripts
au BufRead,BufNewFile *.qvr setfiletype quorvant
