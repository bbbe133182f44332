;;; tarvik-mode.el --- major mode for scores of the music-macro language  -*- lexical-binding: t -*-

;;; Commentary:
;; Colours for scores (*.fms) where the language server's semantic tokens are not shown: header
;; commands and channel blocks, comments, command strings with their notes, commands and
;; numbers; an index of the header commands and channel blocks (imenu); comment commands.
;; tarvik32-lsp gives the rest through eglot.

;;; Code:

(defgroup tarvik nil
  "Scores of the music-macro language."
  :group 'languages)

(defvar tarvik-mode-syntax-table
  (let ((table (make-syntax-table)))
    ;; // line comments and /* block comments */.
    (modify-syntax-entry ?/ ". 124b" table)
    (modify-syntax-entry ?* ". 23" table)
    (modify-syntax-entry ?\n "> b" table)
    (modify-syntax-entry ?\" "\"" table)
    (modify-syntax-entry ?{ "(}" table)
    (modify-syntax-entry ?} "){" table)
    table)
  "Syntax table of `tarvik-mode'.")

(defun tarvik--in-command-string (limit regexp)
  "Search for REGEXP up to LIMIT inside a command string of a channel block."
  (let (found)
    (while (and (not found) (re-search-forward regexp limit t))
      (let ((state (save-excursion (syntax-ppss (match-beginning 0)))))
        (when (and (nth 3 state) (> (nth 0 state) 0))
          (setq found t))))
    found))

(defconst tarvik-font-lock-keywords
  `(("\\_<\\(ch[1-9]\\)\\s-*{" 1 font-lock-keyword-face)
    ("\\_<\\(op\\|cr\\|sn\\)\\s-*(" 1 font-lock-keyword-face)
    ("\\_<\\(q7def\\|q8def\\|autolr\\|manulr\\)\\_>" 1 font-lock-constant-face)
    ((lambda (limit) (tarvik--in-command-string limit "[tTvV@$qQoOnNlL<>]"))
     0 font-lock-function-name-face t)
    ((lambda (limit) (tarvik--in-command-string limit "[a-gA-GrR][-+#]*"))
     0 font-lock-variable-name-face t)
    ((lambda (limit) (tarvik--in-command-string limit "[0-9]+\\|[.:]"))
     0 font-lock-constant-face t)
    ((lambda (limit) (tarvik--in-command-string limit "[&{}]"))
     0 font-lock-builtin-face t))
  "What `tarvik-mode' colours beyond comments and strings.")

(defconst tarvik-imenu-generic-expression
  '(("Channels" "^\\s-*\\(ch[1-9]\\)\\s-*{" 1)
    ("Header" "^\\s-*\\(op\\|cr\\|sn\\)\\s-*(" 1))
  "The header commands and channel blocks for `imenu'.")

;;;###autoload
(define-derived-mode tarvik-mode prog-mode "Tarvik"
  "Major mode for scores of the music-macro language."
  :syntax-table tarvik-mode-syntax-table
  (setq-local comment-start "// ")
  (setq-local comment-end "")
  (setq-local font-lock-defaults '(tarvik-font-lock-keywords))
  (setq-local imenu-generic-expression tarvik-imenu-generic-expression))

;;;###autoload
(add-to-list 'auto-mode-alist '("\\.fms\\'" . tarvik-mode))

(provide 'tarvik-mode)
;;; tarvik-mode.el ends here
