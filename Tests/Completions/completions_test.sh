#!/usr/bin/env bash
# Each shell's completion for wexlactl, run in that shell: every command and hook word is offered
# for the first word, a prefix narrows them, and nothing is offered after the first word but
# after run: a command, then that command's own arguments.
#   completions_test.sh COMPLETIONS_DIR
set -u
dir=$1
agents="claude codex copilot cursor gemini kilo opencode qwen"
uninstall=$(printf 'uninstall-%s-hooks\n' $agents)
all=$(printf '%s\n' busy extend help hooks $(printf 'install-%s-hooks ' $agents) off on run status
  echo "$uninstall")
failed=0

expect() {  # what got expected
  [ "$2" == "$3" ] || { failed=$((failed + 1)); printf 'FAIL %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$3" "$2"; }
}

bash_offers() {  # words typed so far, the last one being completed
  bash --norc --noprofile -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1));
    _wexlactl; printf "%s\n" "${COMPREPLY[@]}"' _ "$dir/wexlactl.bash" "$@" | sed '/^$/d' | sort
}
expect "bash, first word" "$(bash_offers wexlactl '')" "$all"
expect "bash, a prefix" "$(bash_offers wexlactl uninst)" "$uninstall"
expect "bash, second word" "$(bash_offers wexlactl on '')" ""
expect "bash, run's command" "$(bash_offers wexlactl run ech | uniq)" "echo"
expect "bash, run's arguments" "$(bash_offers wexlactl run ls "$dir/wexlactl.b")" "$dir/wexlactl.bash"

fish_offers() {
  fish --no-config -c "set fish_complete_path \$__fish_data_dir/completions
    source $dir/wexlactl.fish; complete -C'$1'" | cut -f1 | sort
}
expect "fish, first word" "$(fish_offers 'wexlactl ')" "$all"
expect "fish, a prefix" "$(fish_offers 'wexlactl uninst')" "$uninstall"
expect "fish, second word" "$(fish_offers 'wexlactl on ')" ""
expect "fish, run's command" "$(fish_offers 'wexlactl run ech')" "echo"
expect "fish, run's arguments" "$(fish_offers 'wexlactl run sort --rev')" "--reverse"

# zsh matches prefixes itself; the function must hand it every word, for the first word only, and
# what follows run to zsh's own completion of a command line.
zsh_offers() {
  zsh -f -c 'function _describe { print -l -- ${${(P)4}%%:*} }; function _normal { print -- $CURRENT $words }
    words=("${@:2}"); CURRENT=$#words; source "$1"' _ "$dir/_wexlactl" "$@" | sort
}
expect "zsh, first word" "$(zsh_offers wexlactl '')" "$all"
expect "zsh, second word" "$(zsh_offers wexlactl on '')" ""
expect "zsh, after run" "$(zsh_offers wexlactl run sort --rev)" "2 sort --rev"

echo "$failed failed"
[ "$failed" -eq 0 ]
