// Drives one real browser, headless, for Brenloft's extension tests: one JSON command per line
// on stdin, one JSON answer per line on stdout ({"ok": true, ...} or {"ok": false, "error"}).
// The test owns everything else (nginx, the bus, Brenloft); this only does what a user or
// the browser itself would do. It ends, closing the browser, when stdin ends or on "quit".

import fs from "node:fs";
import path from "node:path";
import readline from "node:readline";
import puppeteer from "puppeteer-core";

const MenuId = "brenloft-download";
const Patience = 30000;

let browser = null;
let extensionPage = null;
let webPage = null;

// Chromium reads its download folder from the profile it starts with.
function writeChromiumPreferences(profile, downloads) {
    const folder = path.join(profile, "Default");
    fs.mkdirSync(folder, { recursive: true });
    const preferences = {
        download: { default_directory: downloads, prompt_for_download: false, directory_upgrade: true },
        safebrowsing: { enabled: false },
    };
    fs.writeFileSync(path.join(folder, "Preferences"), JSON.stringify(preferences));
}

async function launchChromium({ executable, profile, downloads, extension }) {
    writeChromiumPreferences(profile, downloads);
    browser = await puppeteer.launch({
        executablePath: executable,
        headless: true,
        userDataDir: profile,
        pipe: true,
        enableExtensions: true,
        timeout: 60000,
        protocolTimeout: 60000,
        args: [
            "--no-sandbox",
            "--no-first-run",
            "--no-default-browser-check",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--disable-domain-reliability",
            "--disable-client-side-phishing-detection",
        ],
        env: process.env,
    });
    // As "Load unpacked" on the extensions page: the id follows from the manifest's key.
    return browser.installExtension(extension);
}

async function launchFirefox({ executable, profile, downloads, extension, uuid }) {
    browser = await puppeteer.launch({
        browser: "firefox",
        executablePath: executable,
        headless: true,
        userDataDir: profile,
        timeout: 60000,
        protocolTimeout: 60000,
        // The test opens the extension's own page, which WebDriver BiDi allows only so.
        args: ["--remote-allow-system-access"],
        extraPrefsFirefox: {
            "browser.download.dir": downloads,
            "browser.download.folderList": 2,
            "browser.download.useDownloadDir": true,
            "browser.download.always_ask_before_handling_new_types": false,
            "browser.download.alwaysOpenPanel": false,
            "app.update.auto": false,
            "app.update.enabled": false,
            "extensions.update.enabled": false,
            "network.captive-portal-service.enabled": false,
            "network.connectivity-service.enabled": false,
            // The extension's pages get a known address instead of a random one.
            "extensions.webextensions.uuids": JSON.stringify({ "brenloft@velmora.invalid": uuid }),
        },
        env: process.env,
    });
    // Installed for this session, as about:debugging's "Load Temporary Add-on" does: Firefox
    // takes an unsigned extension only so (or with signatures turned off in an ESR build).
    return browser.installExtension(extension);
}

async function openExtensionPage(origin) {
    extensionPage = await browser.newPage();
    // Firefox shows the page without telling WebDriver the navigation finished; its content
    // is what counts.
    extensionPage.goto(`${origin}/options.html`).catch(() => {});
    // A wait that began on the blank page fails when the navigation replaces its document;
    // it is begun again on the new one.
    const deadline = Date.now() + Patience;
    for (;;) {
        try {
            await extensionPage.waitForFunction(
                () => {
                    const answered = document.getElementById("answered");
                    return answered !== null && answered.dataset.value !== "";
                },
                { timeout: Math.max(deadline - Date.now(), 1), polling: 200 },
            );
            return;
        } catch (error) {
            if (Date.now() >= deadline) {
                throw error;
            }
            await new Promise((resolve) => setTimeout(resolve, 200));
        }
    }
}

const commands = {
    async start(command) {
        const launch = command.kind === "chromium" ? launchChromium : launchFirefox;
        let id;
        // A browser that dies while starting (Firefox now and then, on a loaded machine) is
        // started once more; what it said goes to stderr, into the test's output.
        for (let attempt = 1; ; ++attempt) {
            try {
                id = await launch(command);
                break;
            } catch (error) {
                await browser?.close().catch(() => {});
                browser = null;
                if (attempt === 3) {
                    throw error;
                }
                process.stderr.write(`driver: start ${attempt} failed: ${error?.message ?? error}\n`);
            }
        }
        await openExtensionPage(command.origin);
        webPage = await browser.newPage();
        return { id, pid: browser.process()?.pid ?? 0 };
    },

    // What the extension's options page shows after asking again.
    async choices() {
        await extensionPage.evaluate(() => {
            document.getElementById("answered").dataset.value = "";
            document.getElementById("again").click();
        });
        // Polled by time: the page is in a background tab, where animation frames never come.
        await extensionPage.waitForFunction(() => document.getElementById("answered").dataset.value !== "", {
            timeout: Patience,
            polling: 200,
        });
        return extensionPage.evaluate(() => {
            const shown = {};
            for (const id of ["answered", "menu", "mode"]) {
                const output = document.getElementById(id);
                shown[id] = output.dataset.value;
                shown[`${id}Text`] = output.textContent;
            }
            return shown;
        });
    },

    async menuShown() {
        const shown = await extensionPage.evaluate(async (id) => {
            const api = globalThis.browser ?? globalThis.chrome;
            try {
                await api.contextMenus.update(id, {});
                return true;
            } catch {
                return false;
            }
        }, MenuId);
        return { shown };
    },

    async open({ url }) {
        await webPage.goto(url, { waitUntil: "load", timeout: Patience });
        return { url: webPage.url() };
    },

    // "Download with Brenloft" on a link of the open page: the menu entry's handler, with what
    // the browser tells it about the click.
    async menu({ selector }) {
        const linkUrl = await webPage.$eval(selector, (link) => link.href);
        const pageUrl = webPage.url();
        const answer = await extensionPage.evaluate(
            async (info) => {
                const api = globalThis.browser ?? globalThis.chrome;
                const handover = await import(api.runtime.getURL("handover.js"));
                return handover.handOverLink(info, undefined);
            },
            { menuItemId: MenuId, linkUrl, pageUrl },
        );
        return { answer };
    },

    // A real click on a link of the open page, with Ctrl held or not.
    async click({ selector, ctrl }) {
        if (ctrl) {
            await webPage.keyboard.down("Control");
        }
        try {
            await webPage.click(selector);
        } finally {
            if (ctrl) {
                await webPage.keyboard.up("Control");
            }
        }
        return {};
    },

    // The browser's own downloads, as its downloads list has them.
    async downloads() {
        const downloads = await extensionPage.evaluate(async () => {
            const api = globalThis.browser ?? globalThis.chrome;
            return (await api.downloads.search({})).map((item) => ({
                url: item.url,
                state: item.state,
                filename: item.filename,
                bytes: item.bytesReceived,
            }));
        });
        return { downloads };
    },

    async quit() {
        await browser?.close();
        browser = null;
        return {};
    },
};

const lines = readline.createInterface({ input: process.stdin });
for await (const line of lines) {
    let name = "";
    let answer;
    try {
        const command = JSON.parse(line);
        name = command.do;
        const run = commands[name];
        if (!run) {
            throw new Error(`no command "${name}"`);
        }
        answer = { ok: true, ...(await run(command)) };
    } catch (error) {
        answer = { ok: false, error: String(error?.stack ?? error) };
    }
    process.stdout.write(`${JSON.stringify(answer)}\n`);
    if (name === "quit") {
        break;
    }
}
await browser?.close();
process.exit(0);
