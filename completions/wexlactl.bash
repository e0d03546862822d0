# bash completion for wexlactl: the commands and the hook words, first word only; after run, a
# command and then that command's own arguments.
_wexlactl() {
  local words="on off extend busy status run help install-claude-hooks uninstall-claude-hooks
    install-codex-hooks uninstall-codex-hooks install-gemini-hooks uninstall-gemini-hooks
    install-cursor-hooks uninstall-cursor-hooks install-copilot-hooks uninstall-copilot-hooks
    install-qwen-hooks uninstall-qwen-hooks install-opencode-hooks uninstall-opencode-hooks
    install-kilo-hooks uninstall-kilo-hooks hooks"
  COMPREPLY=()
  if [ "$COMP_CWORD" -eq 1 ]; then
    # The words hold no blanks; word splitting is safe, and bash 3.2 (macOS) has no mapfile.
    COMPREPLY=($(compgen -W "$words" -- "${COMP_WORDS[COMP_CWORD]}"))
  elif [ "${COMP_WORDS[1]}" = run ]; then
    # bash-completion, where loaded, completes the command as if typed alone.
    if declare -F _command_offset >/dev/null; then
      _command_offset 2
    elif [ "$COMP_CWORD" -eq 2 ]; then
      COMPREPLY=($(compgen -c -- "${COMP_WORDS[COMP_CWORD]}"))
    else
      COMPREPLY=($(compgen -f -- "${COMP_WORDS[COMP_CWORD]}"))
    fi
  fi
}
complete -F _wexlactl wexlactl
