"use strict";
// Added to a copy of the real page by desktop_look.mjs: reports what the page
// sees of the desktop (scheme, width after the shell's zoom) and its own
// state as "VELMORA-E2E {json}" console lines.
(() => {
  const report = (step, data) => console.log("VELMORA-E2E " + JSON.stringify({ step, data }));
  const dark = matchMedia("(prefers-color-scheme: dark)");
  const look = () => ({
    dark: dark.matches,
    width: window.innerWidth,
    background: getComputedStyle(document.body).backgroundColor,
  });
  dark.addEventListener("change", () => report("scheme_changed", look()));
  window.addEventListener("resize", () => report("resized", look()));

  document.addEventListener("DOMContentLoaded", () => {
    const rows = document.getElementById("movie-rows");
    const notice = document.getElementById("close-blocked");
    let rowSeen = false;
    new MutationObserver(() => {
      if (!rowSeen && rows.querySelector(".out-path[title]")) {
        rowSeen = true;
        report("row", { look: look(), output: rows.querySelector(".out-path").title });
      }
    }).observe(rows, { subtree: true, childList: true, attributes: true });
    new MutationObserver(() => report("processing", document.body.classList.contains("processing")))
      .observe(document.body, { attributes: true, attributeFilter: ["class"] });
    new MutationObserver(() => report("zoom", getComputedStyle(document.documentElement).fontSize))
      .observe(document.documentElement, { attributes: true, attributeFilter: ["style"] });
    new MutationObserver(() => report("close_blocked", !notice.hidden))
      .observe(notice, { attributes: true, attributeFilter: ["hidden"] });
  });
})();
