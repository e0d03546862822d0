# fish completion for wexlactl: the commands and the hook words, first word only; after run, a
# command and then that command's own arguments.
complete -c wexlactl -f
complete -c wexlactl -n __fish_use_subcommand -a on -d 'Hold the computer awake until off'
complete -c wexlactl -n __fish_use_subcommand -a off -d 'Release everything'
complete -c wexlactl -n __fish_use_subcommand -a extend -d 'Hold some minutes longer'
complete -c wexlactl -n __fish_use_subcommand -a busy -d "Send the agents' heartbeat"
complete -c wexlactl -n __fish_use_subcommand -a status -d 'Print the status'
complete -c wexlactl -n __fish_use_subcommand -a run -d 'Run a command, holding the computer awake while it runs'
complete -c wexlactl -n '__fish_seen_subcommand_from run' -xa '(__fish_complete_subcommand --fcs-skip=2)'
complete -c wexlactl -n __fish_use_subcommand -a help -d 'Print the usage'
complete -c wexlactl -n __fish_use_subcommand -a install-claude-hooks -d 'Add the heartbeat hook to Claude Code'
complete -c wexlactl -n __fish_use_subcommand -a uninstall-claude-hooks -d 'Remove it from Claude Code'
complete -c wexlactl -n __fish_use_subcommand -a install-codex-hooks -d 'Add the heartbeat hook to Codex'
complete -c wexlactl -n __fish_use_subcommand -a uninstall-codex-hooks -d 'Remove it from Codex'
complete -c wexlactl -n __fish_use_subcommand -a install-gemini-hooks -d 'Add the heartbeat hook to Gemini CLI'
complete -c wexlactl -n __fish_use_subcommand -a uninstall-gemini-hooks -d 'Remove it from Gemini CLI'
complete -c wexlactl -n __fish_use_subcommand -a install-cursor-hooks -d 'Add the heartbeat hook to Cursor'
complete -c wexlactl -n __fish_use_subcommand -a uninstall-cursor-hooks -d 'Remove it from Cursor'
