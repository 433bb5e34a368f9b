// What the end-to-end scripts that run the real Velmora under Xvfb share:
// named checks, the resources folder with the real programs, the session's
// environment, the menu actions on the bus, and Velmora itself with the
// reports its test page prints as "VELMORA-E2E {step, data}" lines.
import { spawn, spawnSync } from "node:child_process";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";

export const failures = [];

// Runs one named check; a failure is counted and printed, not thrown.
export function check(what, test) {
  try {
    test();
    console.log(`ok - ${what}`);
  } catch (error) {
    failures.push(what);
    console.log(`not ok - ${what}\n  ${String(error.message).split("\n").join("\n  ")}`);
  }
}

// Counts and prints an error that cut a script's checks short.
export function stopped(error) {
  failures.push(error.message);
  console.log(`not ok - ${error.message}`);
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// RESOURCES/bin with the real backend and the real engine behind a wrapper
// that holds every write back `writeDelay` seconds, so that the test can ask
// for a quit while a batch runs.
export function installPrograms(resources, binDir, writeDelay) {
  const bin = path.join(resources, "bin");
  fs.mkdirSync(bin, { recursive: true });
  fs.symlinkSync(path.join(binDir, "velmora-mac-backend"), path.join(bin, "velmora-mac-backend"));
  fs.writeFileSync(path.join(bin, "velmora-engine"),
    `#!/bin/sh\nif [ "$1" = write ]; then sleep ${writeDelay}; fi\nexec '${path.join(binDir, "velmora-engine")}' "$@"\n`,
    { mode: 0o755 });
}

// A two-second movie without a timecode track.
export function makeMovie(file) {
  const made = spawnSync("ffmpeg", ["-v", "error", "-f", "lavfi", "-i", "testsrc=duration=2:size=320x240:rate=25",
    "-c:v", "mpeg4", "-pix_fmt", "yuv420p", file]);
  assert.equal(made.status, 0, String(made.stderr));
}

// The environment of a session whose home is HOME: none of the caller's XDG
// folders, then `extra`.
export function sessionEnv(home, extra = {}) {
  const env = { ...process.env, HOME: home, LANG: "C.UTF-8" };
  for (const name of ["XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"]) delete env[name];
  Object.assign(env, extra);
  // WebKit's bubblewrap sandbox may fail to start for root inside a container;
  // the test pages are our own, so running them unsandboxed costs nothing.
  if (process.getuid() === 0) env.WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS = "1";
  env.GSK_RENDERER = env.GSK_RENDERER || "cairo";
  return env;
}

// Runs one of the application's actions ("about", "quit", ...) the way the
// desktop's menu does, through the actions Velmora exports on the bus.
export function activate(action) {
  const call = spawnSync("gdbus", ["call", "--session", "--dest", "org.velmora.Velmora", "--object-path",
    "/org/velmora/Velmora", "--method", "org.gtk.Actions.Activate", action, "[]", "{}"], { encoding: "utf8" });
  assert.equal(call.status, 0, call.stderr);
}

// Starts Velmora with ARGS. The result holds the child, every page report in
// order (`reports`), the latest data of each step (`steps`), `exit` once it
// has ended and `exited`, which resolves to {code, signal}.
export function launch(velmora, args, env) {
  const shell = spawn(velmora, args, { env, stdio: ["ignore", "pipe", "pipe"] });
  const app = { shell, reports: [], steps: new Map(), exit: null };
  const waiters = [];
  let buffered = "";
  app.exited = new Promise((resolve) => shell.on("exit", (code, signal) => resolve((app.exit = { code, signal }))));
  shell.stderr.on("data", (chunk) => process.stderr.write(chunk));
  shell.stdout.on("data", (chunk) => {
    buffered += chunk;
    for (let end = buffered.indexOf("\n"); end >= 0; end = buffered.indexOf("\n")) {
      const line = buffered.slice(0, end);
      buffered = buffered.slice(end + 1);
      const at = line.indexOf("VELMORA-E2E ");
      if (at < 0) continue;
      const report = JSON.parse(line.slice(at + "VELMORA-E2E ".length));
      console.log(`page: ${report.step} ${JSON.stringify(report.data)}`);
      app.reports.push(report);
      app.steps.set(report.step, report.data);
      for (const waiter of waiters.splice(0)) waiter();
    }
  });
  // Waits until `ready()` holds, Velmora ends or `ms` pass; returns `ready()`.
  app.until = async (ready, ms) => {
    const deadline = Date.now() + ms;
    while (!ready() && !app.exit && Date.now() < deadline) {
      await new Promise((resolve) => { waiters.push(resolve); setTimeout(resolve, 200); });
    }
    return ready();
  };
  // Waits for Velmora to end, killing it after `ms`; resolves to {code, signal}.
  app.endWithin = async (ms) => {
    const timer = setTimeout(() => shell.kill("SIGKILL"), ms);
    const ended = await app.exited;
    clearTimeout(timer);
    return ended;
  };
  // Ends Velmora unless it has ended already; resolves to {code, signal}.
  app.stop = () => {
    if (!app.exit) shell.kill("SIGKILL");
    return app.exited;
  };
  return app;
}

// Prints the notes, removes ROOT when every check passed (or keeps it for
// inspection) and exits with the verdict.
export function finish(root, notes) {
  for (const note of notes) console.log(`# ${note}`);
  if (failures.length === 0) fs.rmSync(root, { recursive: true, force: true });
  else console.log(`# kept ${root} for inspection`);
  process.exit(failures.length === 0 ? 0 : 1);
}
