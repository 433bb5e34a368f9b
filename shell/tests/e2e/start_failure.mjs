// Velmora started on a resources folder without the backend: the alert
// "Velmora could not start" stays up until the user (here a quit request)
// dismisses it, and the application then ends cleanly.
//   node start_failure.mjs VELMORA ARTIFACT_DIR
import { spawn, spawnSync } from "node:child_process";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [velmora, artifacts] = process.argv.slice(2);
const root = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-shell-start-"));
fs.mkdirSync(path.join(root, "home"));
fs.mkdirSync(path.join(root, "resources", "ui"), { recursive: true });
const env = { ...process.env, HOME: path.join(root, "home") };
if (process.getuid() === 0) env.WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS = "1";

const shell = spawn(velmora, ["--resources", path.join(root, "resources")], { env, stdio: ["ignore", "inherit", "inherit"] });
const exited = new Promise((resolve) => shell.on("exit", (code, signal) => resolve({ code, signal })));
let exit = null;
exited.then((value) => { exit = value; });

await new Promise((resolve) => setTimeout(resolve, 4000));
assert.equal(exit, null, "the alert keeps Velmora running until it is dismissed");
const screenshot = path.join(artifacts, "shell-start-failure.png");
const shot = spawnSync("import", ["-window", "root", screenshot]);
assert.equal(shot.status, 0, String(shot.stderr));
console.log(`screenshot: ${screenshot}`);
shell.kill("SIGTERM");
const timer = setTimeout(() => shell.kill("SIGKILL"), 15000);
assert.deepEqual(await exited, { code: 0, signal: null });
clearTimeout(timer);
assert.deepEqual(fs.readdirSync(path.join(root, "home")).filter((name) => name !== ".cache"), [], "nothing written under HOME");
fs.rmSync(root, { recursive: true, force: true });
console.log("ok - start failure");
