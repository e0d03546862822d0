// Wexla's "busy" heartbeat: keeps the computer awake while the agent works.
// Written by `wexlactl install-$WORD-hooks`; `wexlactl uninstall-$WORD-hooks` removes it.
import { spawn } from "node:child_process";

const wexlactl = "$TOOL";

function busy() {
  try {
    const child = spawn(wexlactl, ["busy"], { detached: true, stdio: "ignore" });
    child.on("error", () => {});
    child.unref();
  } catch {}
}

export const WexlaHeartbeat = async () => ({
  "chat.message": async () => busy(),
  "tool.execute.before": async () => busy(),
});
