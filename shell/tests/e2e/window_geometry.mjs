// Velmora on a screen of a given size: the window's size and its minimum, as
// the X server sees them, fit the visible area.
//   node window_geometry.mjs VELMORA RESOURCES_BIN WIDTHxHEIGHT MIN_WIDTHxMIN_HEIGHT
import { spawn, spawnSync } from "node:child_process";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [velmora, binDir, size, minimum] = process.argv.slice(2);
const root = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-shell-geometry-"));
const resources = path.join(root, "resources");
fs.mkdirSync(path.join(root, "home"));
fs.mkdirSync(path.join(resources, "bin"), { recursive: true });
fs.mkdirSync(path.join(resources, "ui"));
for (const program of ["velmora-mac-backend", "velmora-engine"]) {
  fs.symlinkSync(path.join(binDir, program), path.join(resources, "bin", program));
}
fs.writeFileSync(path.join(resources, "ui", "index.html"), "<!doctype html><title>Velmora</title><p>geometry</p>\n");
const env = { ...process.env, HOME: path.join(root, "home"), GSK_RENDERER: process.env.GSK_RENDERER || "cairo" };
if (process.getuid() === 0) env.WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS = "1";

const shell = spawn(velmora, ["--resources", resources], { env, stdio: ["ignore", "ignore", "inherit"] });
const exited = new Promise((resolve) => shell.on("exit", (code, signal) => resolve({ code, signal })));

// The application window is the largest top-level window named "Velmora".
function windowGeometry() {
  const tree = spawnSync("xwininfo", ["-root", "-tree"], { encoding: "utf8" }).stdout || "";
  let best = null;
  for (const match of tree.matchAll(/^\s+(0x[0-9a-f]+) "Velmora": \(.*?\)\s+(\d+)x(\d+)/gm)) {
    const [width, height] = [Number(match[2]), Number(match[3])];
    if (!best || width * height > best.width * best.height) best = { id: match[1], width, height };
  }
  if (!best) return null;
  const hints = spawnSync("xprop", ["-id", best.id, "WM_NORMAL_HINTS"], { encoding: "utf8" }).stdout || "";
  const min = /minimum size: (\d+) by (\d+)/.exec(hints);
  return { size: `${best.width}x${best.height}`, minimum: min ? `${min[1]}x${min[2]}` : null };
}

let seen = null;
let failure = null;
try {
  // Let the window settle at its final size before measuring.
  for (let waited = 0; waited < 30000; waited += 500) {
    await new Promise((resolve) => setTimeout(resolve, 500));
    const now = windowGeometry();
    if (now && seen && now.size === seen.size && now.minimum === seen.minimum && now.size !== "1x1") break;
    seen = now;
  }
  assert.deepEqual(seen, { size, minimum });
  console.log(`ok - on this screen the window is ${size} with a minimum of ${minimum}`);
} catch (error) {
  failure = error;
} finally {
  shell.kill("SIGTERM");
  const timer = setTimeout(() => shell.kill("SIGKILL"), 15000);
  const ended = await exited;
  clearTimeout(timer);
  fs.rmSync(root, { recursive: true, force: true });
  if (!failure && (ended.code !== 0 || ended.signal)) failure = new Error(`Velmora ended ${JSON.stringify(ended)}`);
}
if (failure) {
  console.log(`not ok - ${failure.message}`);
  process.exit(1);
}
