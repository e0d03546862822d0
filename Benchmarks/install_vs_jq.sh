#!/usr/bin/env bash
# `wexlactl install-claude-hooks` on a 1 MB settings file, side by side with the same edit made
# with jq and mv (add a group to the two events, pretty-print, replace the file). Each run starts
# from the same file, without a backup.
#   Benchmarks/install_vs_jq.sh [BUILD_DIR]
set -euo pipefail
build_dir=${1:-build}
tool="$(cd "$build_dir" && pwd)/Sources/WexlaCLI/wexlactl"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME/.claude"
settings="$HOME/.claude/settings.json"

# About 1 MB of settings: many permission rules and environment members, as a large real file has.
jq -n '{
  permissions: {allow: [range(0; 12000) | "Bash(npm run task-\(.):*)"]},
  env: ([range(0; 12000) | {key: "VAR_\(.)", value: "https://example.com/path/\(.)"}] | from_entries),
  hooks: {PostToolUse: [{matcher: "Edit|Write", hooks: [{type: "command", command: "fmt"}]}]},
  model: "opus"
}' > "$work/original.json"
echo "settings file: $(wc -c < "$work/original.json") bytes"

cat > "$work/jq-edit.sh" <<JQ
#!/bin/sh
set -e
cd "$HOME/.claude"
[ -e settings.json.wexla-backup ] || cp -p settings.json settings.json.wexla-backup
jq --arg c "$tool busy" '.hooks.PreToolUse += [{hooks: [{type: "command", command: \$c, _origin: "wexla"}]}]
  | .hooks.UserPromptSubmit += [{hooks: [{type: "command", command: \$c, _origin: "wexla"}]}]' \
  settings.json > settings.json.tmp
mv settings.json.tmp settings.json
JQ
chmod +x "$work/jq-edit.sh"

reset="cp $work/original.json $settings && rm -f $settings.wexla-backup"
hyperfine --shell=sh --warmup 3 --runs "${RUNS:-30}" --export-csv "$work/times.csv" \
  --prepare "$reset" \
  -n "wexlactl install-claude-hooks" "$tool install-claude-hooks" \
  -n "jq + mv" "$work/jq-edit.sh"

awk -F, 'NR > 1 { gsub(/"/, "", $1); mean[$1] = $2 }
  END {
    w = mean["wexlactl install-claude-hooks"]; j = mean["jq + mv"]
    printf "\nmean: wexlactl %.1f ms, jq + mv %.1f ms\n", w * 1000, j * 1000
    printf "wexlactl / jq = %.2f (target: below 1.00)\n", w / j
  }' "$work/times.csv"
