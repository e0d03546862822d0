#!/usr/bin/env bash
# Install and uninstall runs of wexlactl on a Claude Code settings file that a stand-in agent
# rewrites every half millisecond. Counts the agent's writes that an edit lost (replaced with a
# document read before them; target: 0) and the runs that gave up because the file kept changing.
#   Benchmarks/concurrent_writer.sh [BUILD_DIR] [RUNS] [TOOL]
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-1000}
tool=${3:-$build_dir/Sources/WexlaCLI/wexlactl}
work=$(mktemp -d)
agent_pid=""
cleanup() {
  if [ -n "$agent_pid" ]; then kill "$agent_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work"
settings="$HOME/.claude/settings.json"
mkdir -p "$HOME/.claude"
printf '{\n  "model": "opus"\n}' > "$settings"
"$build_dir/Benchmarks/standin_agent" "$settings" > "$work/agent.out" &
agent_pid=$!

gave_up=0
for run in $(seq "$runs"); do
  word=install-claude-hooks
  [ $((run % 2)) -eq 0 ] && word=uninstall-claude-hooks
  "$tool" "$word" > /dev/null 2>> "$work/errors" || gave_up=$((gave_up + 1))
done
kill -TERM "$agent_pid"
wait "$agent_pid" || true
agent_pid=""

read -r writes lost < "$work/agent.out"
echo "runs: $runs, gave up because the file kept changing: $gave_up"
grep -v 'kept changing while Wexla was editing it' "$work/errors" | sort | uniq -c || true
echo "agent writes: $writes, lost: $lost (target: 0)"
