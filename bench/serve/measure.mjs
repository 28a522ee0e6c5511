// velmora-serve with the demo at 30 frames/s through a fifo, on loopback:
// its CPU with 0, 1 and 20 viewers, and the time from the board's end of
// frame (when the framer has read it) to the live page showing it.
//   node bench/serve/measure.mjs BIN_DIR [SECONDS]
// One viewer is a page in Debian's chromium, headless (its latencies are
// reported); the other 19 of 20 read the same feed from node.
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { launch } from "../../tests/inspect/browser.mjs";

const bin = process.argv[2] || "build/tools";
const seconds = +(process.argv[3] || 20);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-serve-bench-"));
const fifo = path.join(dir, "board");
execFileSync("mkfifo", [fifo]);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

const server = spawn(path.join(bin, "velmora-serve"), ["--listen", "127.0.0.1:0"],
	{ env: { ...process.env, VELMORA_BOARD: "fifo:" + fifo }, stdio: ["ignore", "ignore", "pipe"] });
let err = "";
server.stderr.on("data", (d) => { err += d; });
const demo = spawn(path.join(bin, "velmora-demo"), ["--fps", "30", "--output", fifo], { stdio: "ignore" });
for (let i = 0; i < 200 && !/127\.0\.0\.1:\d+/.test(err); i++) await sleep(50);
const port = +/127\.0\.0\.1:(\d+)/.exec(err)[1];

// CPU seconds (user and system) of the server so far.
const hz = +execFileSync("getconf", ["CLK_TCK"]).toString();
function cpu() {
	const f = fs.readFileSync(`/proc/${server.pid}/stat`, "utf8").split(") ")[1].split(" ");
	return (+f[11] + +f[12]) / hz;
}
async function cpuOver(ms) {
	const c0 = cpu(), t0 = Date.now();
	await sleep(ms);
	return (100 * (cpu() - c0)) / ((Date.now() - t0) / 1000);
}
function pct(list, p) {
	const s = [...list].sort((a, b) => a - b);
	return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))];
}

const results = [];
await sleep(2000);
results.push({ viewers: 0, cpu: await cpuOver(seconds * 1000) });
const browser = await launch();
try {
	const page = await browser.context.newPage();
	await page.goto(`http://127.0.0.1:${port}/`);
	await page.waitForSelector("body[data-ready]");
	for (const viewers of [1, 20]) {
		const others = [];
		for (let i = 1; i < viewers; i++) {
			const c = net.connect(port, "127.0.0.1");
			c.write("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
			c.on("data", () => {});
			others.push(c);
		}
		await sleep(1000);
		await page.evaluate(() => { window.latencies.length = 0; });
		const load = await cpuOver(seconds * 1000);
		const late = await page.evaluate(() => window.latencies);
		const ms = (v) => v.toFixed(1);
		results.push({ viewers, cpu: load, frames: late.length, median: ms(pct(late, 50)), p99: ms(pct(late, 99)),
			worst: ms(Math.max(...late)) });
		for (const c of others) c.destroy();
	}
} finally {
	await browser.close();
	demo.kill();
	server.kill();
	fs.rmSync(dir, { recursive: true, force: true });
}
console.log(`velmora-serve, demo at 30 frames/s, ${seconds} s each, load average ${os.loadavg()[0].toFixed(1)}`);
console.log("| viewers | CPU of velmora-serve | frames timed | end of frame to page, median | p99 | worst |");
console.log("|---|---|---|---|---|---|");
for (const r of results)
	console.log(`| ${r.viewers} | ${r.cpu.toFixed(1)} % | ${r.frames ?? "-"} | ${r.median ?? "-"} ms | ${r.p99 ?? "-"} ms | ${r.worst ?? "-"} ms |`
		.replace(/- ms/g, "-"));
