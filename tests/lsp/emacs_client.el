;;; emacs_client.el --- eglot against tarvik32-lsp, in batch  -*- lexical-binding: t -*-
;; Starts as an interactive Emacs would (packages, then ~/.emacs.d/init.el), visits $TARV_SCORE,
;; waits for Flymake's diagnostics from eglot, asks eldoc's hover function at $TARV_HOVER
;; ("line,character", 0-based), writes what it got to $TARV_RESULT (one fact a line) and exits.
(require 'cl-lib)

(defvar tarv-lines nil)

(defun tarv-out (format-string &rest args)
  (push (apply #'format format-string args) tarv-lines))

(defun tarv-finish ()
  (let ((coding-system-for-write 'utf-8-unix))
    (with-temp-file (getenv "TARV_RESULT")
      (insert (mapconcat #'identity (reverse tarv-lines) "\n") "\n")))
  (kill-emacs 0))

(defun tarv-wait (predicate seconds)
  "Let processes and timers run until PREDICATE holds or SECONDS pass."
  (let ((end (+ (float-time) seconds)))
    (while (and (not (funcall predicate)) (< (float-time) end))
      (accept-process-output nil 0.05))
    (funcall predicate)))

(defun tarv-end-of-command (command)
  "Run what the command loop runs after COMMAND; batch Emacs has no command loop."
  (let ((this-command command))
    (run-hooks 'post-command-hook)))

(defun tarv-idle (seconds)
  "Run the idle timers an interactive Emacs runs once it has waited SECONDS for input.
Batch Emacs never waits for input, so its idle timers never fire on their own."
  (accept-process-output nil seconds)
  (dolist (timer (copy-sequence timer-idle-list))
    (when (<= (float-time (timer--time timer)) seconds)
      (timer-event-handler timer))))

(package-activate-all)
;; The package's Emacs files, where the system's site-lisp would hold them.
(when (getenv "TARV_SITE_LISP")
  (add-to-list 'load-path (getenv "TARV_SITE_LISP")))
(setq user-init-file (expand-file-name "~/.emacs.d/init.el"))
(load user-init-file nil t)
(find-file (getenv "TARV_SCORE"))
(tarv-out "mode %s" major-mode)
(require 'imenu)
;; The index's entries, group by group (the rescan entry aside).
(tarv-out "imenu %s" (mapconcat #'identity
                                (cl-loop for entry in (imenu--make-index-alist t)
                                         when (consp (cdr entry))
                                         append (mapcar #'car (cdr entry)))
                                " "))
;; eglot-ensure connects after the command that visited the file; Flymake's first check waits
;; for the end of the next command.
(tarv-end-of-command 'find-file)
(unless (tarv-wait (lambda () (bound-and-true-p eglot--managed-mode)) 20)
  (tarv-out "eglot did not connect")
  (tarv-finish))
;; With $TARV_CODE_ACTION: the make-MIDI code action as eglot runs it when asked for the
;; action's kind, then the MIDI file beside the score.
(when (getenv "TARV_CODE_ACTION")
  (let ((midi (concat (file-name-sans-extension buffer-file-name) ".mid")))
    (eglot-code-actions (point-min) nil "source.makeMidi" t)
    (tarv-out "midi %s" (if (tarv-wait (lambda () (file-exists-p midi)) 20)
                            (file-name-nondirectory midi)
                          "not written"))
    (tarv-finish)))

(tarv-end-of-command 'next-line)
(unless (tarv-wait #'flymake-diagnostics 20)
  (tarv-out "no diagnostics")
  (tarv-finish))
(dolist (diagnostic (flymake-diagnostics))
  (save-excursion
    (goto-char (flymake-diagnostic-beg diagnostic))
    (tarv-out "diagnostic %d %d %s" (1- (line-number-at-pos)) (- (point) (line-beginning-position))
              (flymake-diagnostic-text diagnostic))))

(let ((at (mapcar #'string-to-number (split-string (getenv "TARV_HOVER") ",")))
      hover)
  (goto-char (point-min))
  (forward-line (nth 0 at))
  (forward-char (nth 1 at))
  (font-lock-ensure)
  (tarv-out "face %s" (get-text-property (point) 'face))
  (eglot-hover-eldoc-function (lambda (info &rest _) (setq hover (or info 'none))))
  (if (tarv-wait (lambda () hover) 10)
      (tarv-out "hover %s" hover)
    (tarv-out "no hover")))

;; Completion right behind "t120" on line 3, as completion-at-point asks eglot's table.
(goto-char (point-min))
(forward-line 2)
(search-forward "t120")
(let* ((capf (eglot-completion-at-point))
       (probe (buffer-substring-no-properties (nth 0 capf) (nth 1 capf)))
       (offered (all-completions probe (nth 2 capf))))
  (tarv-out "completion after %s offers %s" probe
            (mapconcat #'identity (cl-remove-if-not (lambda (letter) (member letter offered))
                                                     '("c" "d" "e" "f" "g" "a" "b"))
                       " ")))

;; With $TARV_QUICK_FIX: the first diagnostic's quick fix as eglot applies it, then the
;; diagnostics Flymake holds once the server has seen the edit.
(when (getenv "TARV_QUICK_FIX")
  (let ((diagnostic (car (flymake-diagnostics))))
    (eglot-code-actions (flymake-diagnostic-beg diagnostic) (flymake-diagnostic-end diagnostic)
                        "quickfix" t)
    (tarv-end-of-command 'eglot-code-actions)
    (tarv-idle 1)
    (goto-char (flymake-diagnostic-beg diagnostic))
    (tarv-out "fixed %s" (string-trim (buffer-substring-no-properties
                                       (line-beginning-position) (line-end-position))))
    (tarv-out "diagnostics after the fix %d"
              (if (tarv-wait (lambda () (tarv-idle 0.6) (null (flymake-diagnostics))) 10)
                  0
                (length (flymake-diagnostics))))))
(tarv-finish)
