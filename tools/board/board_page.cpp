// The board's page. Written by hand and kept small: no build step, nothing fetched from
// elsewhere (the line's network is closed), charts drawn as SVG by the page itself.
// Every text from the records goes in through textContent, never as HTML.
#include "board/board_service.h"

namespace board {

namespace {

constexpr const char* kPage = R"page(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Ostrevane line board</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
body { font: 15px sans-serif; margin: 0; background: #1d2126; color: #e8e8e8; }
header { display: flex; gap: 1em; align-items: baseline; padding: 8px 14px; background: #111; }
h1 { font-size: 20px; margin: 0; } h2 { font-size: 16px; margin: 6px 0; }
#banner { display: none; background: #b3261e; color: #fff; padding: 8px 14px; font-weight: bold; }
.station { display: flex; gap: 12px; padding: 8px 14px; border-bottom: 1px solid #333; }
.head { width: 170px; flex: none; } .head b { font-size: 17px; display: block; }
.tiles { display: flex; flex-wrap: wrap; gap: 8px; }
.tile { width: 150px; min-height: 74px; padding: 6px; border-radius: 6px; background: #3a3f45; overflow: hidden; }
.tile div { white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
.tile .seat { font-weight: bold; }
.tile.writing { background: #1f5fa8; } .tile.done { background: #2e7d32; }
.tile.failed { background: #b3261e; } .tile.idle { background: #3a3f45; color: #aaa; }
.charts { display: flex; flex-wrap: wrap; gap: 24px; padding: 10px 14px; }
svg text { fill: #ccc; font-size: 11px; }
</style></head><body>
<header><h1>Line board</h1><span id="updated"></span></header>
<div id="banner"></div>
<main id="stations"></main>
<section class="charts">
 <div><h2>First-pass yield per hour, last 24 h</h2><svg id="fpy" width="560" height="220"></svg></div>
 <div><h2>Failure reasons this shift</h2><svg id="pareto" width="560" height="220"></svg></div>
 <div><h2>Seats to check</h2><ul id="check"></ul></div>
</section>
<script>
"use strict";
const SVG = "http://www.w3.org/2000/svg";
const params = new URLSearchParams(location.search);
const api = "api/line" + (params.get("station") ? "?station=" + encodeURIComponent(params.get("station")) : "");
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
function svg(tag, attrs, text) {
  const e = document.createElementNS(SVG, tag);
  for (const k in attrs) e.setAttribute(k, attrs[k]);
  if (text !== undefined) e.textContent = text;
  return e;
}
function clock(ms) {
  const s = Math.max(0, Math.round(ms / 1000));
  return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0");
}
function pct(done, ended) { return ended ? Math.round(100 * done / ended) + " %" : "–"; }
function tile(t, now) {
  const d = el("div", "tile " + t.state);
  d.dataset.station = t.station; d.dataset.seat = t.seat || ("ch " + t.channel); d.dataset.state = t.state;
  d.append(el("div", "seat", d.dataset.seat));
  if (t.state === "idle") { d.append(el("div", "", "idle")); return d; }
  d.append(el("div", "model", t.model));
  if (t.state === "writing") {
    d.append(el("div", "", "writing " + clock(now - t.startMs)));
    if (t.remainingMs !== null) d.append(el("div", "", "about " + clock(t.remainingMs) + " left"));
  } else if (t.state === "done") {
    d.append(el("div", "", "done in " + clock(t.durationMs || 0)));
  } else {
    d.append(el("div", "reason", t.reason || "failed"));
    d.append(el("div", "bar", t.bar));
  }
  return d;
}
function drawStations(line, now) {
  const main = document.getElementById("stations");
  const rows = new Map(line.rows.map(r => [r.station, r]));
  main.replaceChildren(...line.stations.map(name => {
    const r = rows.get(name) || {hourEnded: 0, hourDone: 0, shiftEnded: 0, shiftDone: 0, handsetsPerHour: 0};
    const s = el("section", "station"); s.dataset.station = name;
    const head = el("div", "head");
    head.append(el("b", "", name), el("div", "", "hour " + pct(r.hourDone, r.hourEnded) + ", shift " + pct(r.shiftDone, r.shiftEnded)),
                el("div", "", r.handsetsPerHour.toFixed(1) + " handsets/h"));
    const tiles = el("div", "tiles");
    tiles.append(...line.tiles.filter(t => t.station === name).map(t => tile(t, now)));
    s.append(head, tiles);
    return s;
  }));
}
function drawFpy(line) {
  const g = document.getElementById("fpy"), W = 560, H = 200, L = 34;
  g.replaceChildren();
  const first = Math.floor(line.nowMs / 3600000) * 3600000 - 23 * 3600000;
  const x = h => L + (W - L - 10) * (h - first) / (23 * 3600000), y = v => 10 + (H - 20) * (1 - v);
  for (const v of [0, 0.5, 1]) {
    g.append(svg("line", {x1: L, x2: W - 10, y1: y(v), y2: y(v), stroke: "#444"}), svg("text", {x: 2, y: y(v) + 4}, (v * 100) + "%"));
  }
  const series = new Map();
  for (const h of line.hours) { if (!series.has(h.station)) series.set(h.station, []); series.get(h.station).push(h); }
  for (const [station, hs] of series) {
    const pts = hs.filter(h => h.ended).map(h => x(h.hourMs).toFixed(1) + "," + y(h.done / h.ended).toFixed(1)).join(" ");
    const p = svg("polyline", {points: pts, fill: "none", stroke: station ? "#6b7a8a" : "#f5c542", "stroke-width": station ? 1 : 3});
    p.append(svg("title", {}, station || "line"));
    g.append(p);
  }
  g.append(svg("text", {x: L, y: H + 15}, "24 h ago"), svg("text", {x: W - 50, y: H + 15}, "now"));
}
function drawPareto(line) {
  const g = document.getElementById("pareto"), W = 560, H = 200;
  g.replaceChildren();
  const total = line.reasons.reduce((a, r) => a + r.count, 0);
  if (!total) { g.append(svg("text", {x: 10, y: 20}, "no failures")); return; }
  const w = (W - 20) / line.reasons.length, max = line.reasons[0].count;
  let sum = 0; const cum = [];
  line.reasons.forEach((r, i) => {
    const h = (H - 60) * r.count / max;
    const bar = svg("rect", {x: 10 + i * w + 2, y: H - 40 - h, width: w - 4, height: h, fill: "#e57373"});
    bar.append(svg("title", {}, r.reason + ": " + r.count));
    g.append(bar, svg("text", {x: 10 + i * w + 2, y: H - 26}, String(r.count)),
             svg("text", {x: 10 + i * w + 2, y: H - 12}, r.reason.slice(0, Math.max(3, Math.floor(w / 7)))));
    sum += r.count; cum.push((10 + i * w + w / 2).toFixed(1) + "," + (H - 40 - (H - 60) * sum / total).toFixed(1));
  });
  g.append(svg("polyline", {points: cum.join(" "), fill: "none", stroke: "#f5c542", "stroke-width": 2}));
}
function drawCheck(line) {
  const ul = document.getElementById("check");
  ul.replaceChildren(...(line.seatsToCheck.length ? line.seatsToCheck.map(s => el("li", "", s.station + " " + s.seat + ": " + s.why))
                                                   : [el("li", "", "none")]));
}
async function refresh() {
  const banner = document.getElementById("banner");
  try {
    const r = await fetch(api, {cache: "no-store"});
    const body = r.headers.get("content-type").startsWith("application/json") ? await r.json() : {error: await r.text()};
    if (!r.ok) throw new Error(body.error || r.statusText);
    drawStations(body, body.nowMs); drawFpy(body); drawPareto(body); drawCheck(body);
    document.getElementById("updated").textContent = new Date(body.nowMs).toISOString().slice(0, 19).replace("T", " ") + " UTC";
    banner.style.display = "none";
  } catch (e) {
    banner.textContent = "The board cannot read the line's records: " + e.message + ". It keeps trying.";
    banner.style.display = "block";
  }
}
refresh();
setInterval(refresh, 1000);
</script></body></html>
)page";

}  // namespace

const std::string& PageHtml() {
  static const std::string page = kPage;
  return page;
}

}  // namespace board
