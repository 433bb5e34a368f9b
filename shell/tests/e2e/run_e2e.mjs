// Runs the real Velmora with the real backend and engine under the X server
// that xvfb-run started for us, and checks what the test page reports.
//   node run_e2e.mjs VELMORA RESOURCES_BIN PAGE_DIR ARTIFACT_DIR
import { spawn, spawnSync } from "node:child_process";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { activate, check, finish, installPrograms, launch, makeMovie, sessionEnv, stopped } from "./harness.mjs";

const [velmora, binDir, pageDir, artifacts, dragTool = "none"] = process.argv.slice(2);
const root = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-shell-e2e-"));
const home = path.join(root, "home");
const resources = path.join(root, "resources");
const movies = path.join(root, "movies");
const screenshot = path.join(artifacts, "shell-e2e.png");
// With a session bus, the second launch and the menu actions go through
// D-Bus as on a desktop; without one, only signals can ask Velmora to quit.
const bus = Boolean(process.env.DBUS_SESSION_BUS_ADDRESS);
const notes = [];

function prepare() {
  for (const folder of [home, path.join(resources, "notices"), movies]) {
    fs.mkdirSync(folder, { recursive: true });
  }
  installPrograms(resources, binDir, 3);
  fs.cpSync(pageDir, path.join(resources, "ui"), { recursive: true });
  fs.writeFileSync(path.join(resources, "notices", "index.html"), "<!doctype html><title>Notices</title>\n");
  const movie = path.join(movies, "clip.mov");
  makeMovie(movie);
  fs.writeFileSync(path.join(movies, "second.mp4"), "");
  fs.writeFileSync(path.join(movies, "dragged.m4v"), "");
  return movie;
}

function childrenOf(pid) {
  const pids = [];
  for (const task of fs.readdirSync(`/proc/${pid}/task`)) {
    let text = "";
    try {
      text = fs.readFileSync(`/proc/${pid}/task/${task}/children`, "utf8").trim();
    } catch {
      continue;  // the thread ended after the folder was listed
    }
    if (text) pids.push(...text.split(/\s+/).map(Number));
  }
  return pids;
}

function alive(pid) {
  try {
    const status = fs.readFileSync(`/proc/${pid}/status`, "utf8");
    return !/^State:\s+Z/m.test(status);
  } catch {
    return false;
  }
}

// Everything under HOME except the backend's own data folder.
function strayFiles(folder, relative = "") {
  const found = [];
  for (const entry of fs.readdirSync(path.join(folder, relative), { withFileTypes: true })) {
    const name = path.join(relative, entry.name);
    if (name === path.join("Library", "Application Support", "Velmora")) continue;
    if (entry.isDirectory()) found.push(...strayFiles(folder, name));
    else found.push(name);
  }
  return found;
}

// The menu bar as Velmora exports it on the bus: [label, key] for every
// item with a label, in menu order.
function exportedMenu() {
  const call = spawnSync("gdbus", ["call", "--session", "--dest", "org.velmora.Velmora", "--object-path",
    "/org/velmora/Velmora/menus/menubar", "--method", "org.gtk.Menus.Start", "[0,1,2,3,4,5]"], { encoding: "utf8" });
  assert.equal(call.status, 0, call.stderr);
  const items = [];
  for (const entry of call.stdout.matchAll(/\{([^{}]*)\}/g)) {
    const fields = Object.fromEntries([...entry[1].matchAll(/'([^']+)': <'([^']*)'>/g)].map((kv) => [kv[1], kv[2]]));
    if (fields.label) items.push([fields.label, fields.accel ?? null]);
  }
  return items;
}

function askToQuit(shell) {
  if (bus) activate("quit");
  else shell.kill("SIGTERM");
}

async function main() {
  const movie = prepare();
  // A desktop session has a runtime folder; without one, GSettings' dconf
  // client keeps its invalidation file under HOME instead.
  const env = sessionEnv(home, { XDG_RUNTIME_DIR: fs.mkdtempSync(path.join(os.tmpdir(), "velmora-runtime-")) });

  const app = launch(velmora, ["--resources", resources, "--page-console", movie], env);
  const { shell, steps } = app;
  const step = async (name, ms) => {
    if (!(await app.until(() => steps.has(name), ms))) {
      throw new Error(`the page never reported "${name}"` + (app.exit ? ` (Velmora exited ${JSON.stringify(app.exit)})` : ""));
    }
    return steps.get(name);
  };

  try {
    await step("api", 60000);
    const backendPids = childrenOf(shell.pid).filter((pid) => fs.readlinkSync(`/proc/${pid}/exe`).endsWith("velmora-mac-backend"));
    check("one backend child is running", () => assert.equal(backendPids.length, 1));

    await step("load_settings", 20000);
    check("page API is injected", () => assert.deepEqual(steps.get("api"), { invoke: "function", listen: "function", event: "function" }));
    check("a listener added twice is called once and not after unsubscribing", () =>
      assert.deepEqual(steps.get("listeners"), { once: 1, after: 1 }));
    check("ui_ready answers null", () => assert.deepEqual(steps.get("ui_ready"), { ok: true, value: null }));
    check("the file from the command line arrives once, at ui_ready", () => {
      assert.deepEqual(steps.get("drops"), [{ paths: [movie] }]);
      assert.deepEqual(steps.get("ui_ready_again"), { ok: true, value: null });
      assert.equal(steps.get("drops_after_second_ready"), 1);
    });
    check("load_settings returns the settings object", () => {
      const reply = steps.get("load_settings");
      assert.equal(reply.ok, true, JSON.stringify(reply));
      assert.equal(typeof reply.value, "object");
      assert.notEqual(reply.value, null);
    });
    await step("unknown", 5000);
    check("the page posting {command, args} by itself is answered like invoke", () =>
      assert.deepEqual(steps.get("direct_post"), { ok: true, kind: "object" }));
    check("a sub-frame's messages are refused by every route and it gets no page API", () =>
      assert.deepEqual(steps.get("frame"), {
        api: "undefined",
        direct: { ok: false, error: "Untrusted native request" },
        prototype: { ok: false, error: "Untrusted native request" },
      }));
    check("a command outside the allow-list is refused", () =>
      assert.deepEqual(steps.get("unknown"), { ok: false, error: "Unknown or unavailable native command" }));

    await step("waiting_for_second_file", 10000);
    if (bus) {
      const second = spawnSync(velmora, ["--resources", resources, path.join(movies, "second.mp4")], { env, encoding: "utf8", timeout: 30000 });
      check("a second launch hands its file over and exits", () => assert.equal(second.status, 0, second.stderr));
      const dropped = await step("second_drop", 20000);
      check("a file opened while the page is ready arrives at once as a drop", () =>
        assert.deepEqual(dropped, { arrived: true, drops: [{ paths: [path.join(movies, "second.mp4")] }] }));
      // Sections arrive in the bus's own grouping, so the order is not compared.
      const byLabel = (a, b) => a[0].localeCompare(b[0]);
      check("the primary menu exports its items with their keys, without Hide", () => assert.deepEqual(
        exportedMenu().sort(byLabel), [
          ["About Velmora", null], ["Add Folder…", "<Shift><Control>o"], ["Add Movies…", "<Control>o"],
          ["Cancel", "Escape"], ["Help", "F1"], ["Keyboard Shortcuts", "<Control>question"],
          ["Process", "<Control>Return"], ["Quit", "<Control>q"],
          ["Save Report…", "<Control>s"],
        ].sort(byLabel)));
      await step("waiting_for_about", 10000);
      activate("help");
      const about = await step("about", 20000);
      check("Help clicks the page's help element", () => assert.deepEqual(about, { clicked: true, clicks: 1 }));
      await step("waiting_for_report", 10000);
      activate("save-report");
      const requested = await step("report_request", 20000);
      check("Save Report asks the page for its report", () =>
        assert.deepEqual(requested, { arrived: true, payloads: [null] }));
    } else {
      notes.push("no session bus: the second launch and the menu actions were not exercised");
    }

    await step("waiting_for_drag", 20000);
    if (dragTool !== "none") {
      const dragged = path.join(movies, "dragged.m4v");
      // First a drag that offers no files: refused, yet its leaving is told.
      const textDrag = spawn(dragTool, ["Velmora", "text-leave", dragged], { stdio: ["pipe", "pipe", "inherit"] });
      let textOutput = "";
      const hovering = new Promise((resolve) => textDrag.stdout.on("data", (chunk) => {
        textOutput += chunk;
        if (textOutput.includes("hovering")) resolve();
      }));
      const textEnded = new Promise((resolve) => textDrag.on("exit", (code) => resolve(code)));
      await Promise.race([hovering, textEnded]);
      await new Promise((resolve) => setTimeout(resolve, 500));
      textDrag.stdin.end("go\n");
      const textCode = await textEnded;
      check("an X11 drag of text only is refused", () => {
        assert.equal(textCode, 0);
        assert.match(textOutput, /accepted=0/);
      });
      for (const [round, mode] of ["leave", "drop"].entries()) {
        const drag = spawn(dragTool, ["Velmora", mode, dragged], { stdio: ["pipe", "pipe", "inherit"] });
        let output = "";
        drag.stdout.on("data", (chunk) => { output += chunk; });
        const ended = new Promise((resolve) => drag.on("exit", (code) => resolve(code)));
        // Leave or drop only once the page has seen the drag come in.
        await step(`drag_entered_${round + 1}`, 20000).catch((error) => console.log(`# ${error.message}`));
        drag.stdin.end("go\n");
        const code = await ended;
        check(`an X11 drag that ends in ${mode} is accepted`, () => {
          assert.equal(code, 0);
          assert.match(output, /accepted=1/);
        });
      }
      const { dropped, drags } = await step("drag", 30000);
      check("drags over the web view reach the page as native drag events with the paths", () => {
        assert.equal(dropped, true, JSON.stringify(drags));
        // The text drag sends only its leaving; one leave per drag that
        // leaves, none after a drop.
        assert.deepEqual(drags, [
          ["native://drag-leave", { paths: [] }],
          ["native://drag-enter", { paths: [dragged] }],
          ["native://drag-leave", { paths: [] }],
          ["native://drag-enter", { paths: [dragged] }],
          ["native://drag-drop", { paths: [dragged] }],
        ]);
      });
    } else {
      notes.push("no X11 drag source was built: drag and drop was not exercised");
    }

    const imported = await step("import", 40000).catch(() => null);
    if (imported && imported.ok) {
      check("import_movies returns the movie", () => {
        assert.equal(imported.value.files.length, 1);
        assert.equal(imported.value.files[0].path, movie);
      });
      await step("processing_started", 10000);
      // Quit requests while the batch runs: the menu's (or a signal) and a session's SIGTERM.
      askToQuit(shell);
      shell.kill("SIGTERM");
      check("a second process_movies is refused while the first runs", () =>
        assert.deepEqual(steps.get("second_process"), { ok: false, error: "Processing is already running" }));
      const blocked = await step("close_blocked", 20000);
      check("quitting while processing sends close-blocked with a null payload", () =>
        assert.deepEqual(blocked, { seen: true, payloads: [null, null] }));
      check("the shell stays up while processing", () => assert.equal(app.exit, null));
      const processed = await step("process", 60000);
      check("process_movies publishes the stamped copy", () => {
        assert.equal(processed.reply.ok, true, JSON.stringify(processed.reply));
        const [record] = processed.reply.value.results;
        assert.equal(record.state, "done", JSON.stringify(record));
        assert.equal(record.timecode, "01:00:00:00");
        assert.equal(path.dirname(record.output), path.join(movies, "out"));
        assert.ok(fs.existsSync(record.output));
        const probe = spawnSync("ffprobe", ["-v", "error", "-show_entries", "stream_tags=timecode", "-of", "json", record.output]);
        assert.match(String(probe.stdout), /"timecode": "01:00:00:00"/);
      });
      check("progress events reach the page in order", () => {
        const events = processed.progress;
        assert.ok(events.length >= 2, JSON.stringify(events));
        assert.deepEqual([events[0].state, events[0].progress, events[0].index, events[0].total], ["processing", 0, 0, 1]);
        assert.equal(events.at(-1).state, "done");
      });
    } else {
      notes.push(`import and processing skipped: the backend answered ${JSON.stringify(imported)}`);
    }

    await step("done", 20000);
    check("window.open is refused", () => assert.deepEqual(steps.get("window_open"), { refused: true }));
    check("navigating to a web address is cancelled", () => assert.deepEqual(steps.get("navigation"), { stayed: true }));
    await new Promise((resolve) => setTimeout(resolve, 700));  // let the last lines be painted
    const shot = spawnSync("import", ["-window", "root", screenshot]);
    check(`screenshot saved to ${screenshot}`, () => assert.equal(shot.status, 0, String(shot.stderr)));

    askToQuit(shell);
    const ended = await app.endWithin(20000);
    check("quitting shuts the backend down and exits with status 0", () => {
      assert.deepEqual(ended, { code: 0, signal: null });
      for (const pid of backendPids) assert.equal(alive(pid), false, `backend ${pid} still runs`);
    });
    check("nothing is written under HOME outside the data folder", () => assert.deepEqual(strayFiles(home), []));
    check("the window's size is remembered beside the settings", () => {
      const folder = path.join(home, "Library", "Application Support", "Velmora");
      const remembered = JSON.parse(fs.readFileSync(path.join(folder, "window.json"), "utf8"));
      // Xvfb's screen is 1440 by 900: the window is 1280 wide and as high as the screen.
      assert.deepEqual(remembered, { height: 900, width: 1280 });
      assert.deepEqual(fs.readdirSync(folder).filter((name) => name.startsWith(".")), [], "no temporary file is left");
    });
  } catch (error) {
    stopped(error);
  } finally {
    await app.stop();
  }
  fs.rmSync(env.XDG_RUNTIME_DIR, { recursive: true, force: true });
  finish(root, notes);
}

main();
