// The extension's background: the "Download with Brenloft" menu entry, the downloads it takes
// over from the browser, and the clicks the pages report so that Ctrl can be told.

import { ClickMemory } from "./click_memory.js";
import { handOverDownload, handOverLink } from "./handover.js";
import { askChoices } from "./native.js";
import { MenuId, canHandOver, takesDownload, tookIt } from "./rules.js";

const api = globalThis.browser ?? globalThis.chrome;
const clicks = new ClickMemory();

// The choices last heard, so that a new download can be held at once while the launcher is
// asked again; null until the first answer (a background just started).
let lastChoices = null;
// Whether the entry is in the menu now; null when not known (a background just started).
let menuShown = null;
// Menu changes run one after another: two interleaved would add the entry twice.
let menuChange = Promise.resolve();

function showMenu(on) {
    menuChange = menuChange
        .then(async () => {
            if (menuShown === on) {
                return;
            }
            await api.contextMenus.removeAll();
            if (on) {
                await new Promise((done) => {
                    api.contextMenus.create(
                        { id: MenuId, title: api.i18n.getMessage("menuEntry"), contexts: ["link", "image"] },
                        () => done(api.runtime.lastError),
                    );
                });
            }
            menuShown = on;
        })
        .catch(() => {
            menuShown = null;
        });
    return menuChange;
}

async function refreshChoices() {
    const choices = await askChoices();
    lastChoices = choices;
    await showMenu(choices.answered && choices.menu);
    return choices;
}

async function quietly(promise) {
    try {
        await promise;
        return true;
    } catch {
        return false;
    }
}

// A download the browser has just started. Brenloft takes it when the mode says so for the
// Ctrl state of the click that started it: the browser's copy is then cancelled and erased,
// so the file is fetched once. One that finished meanwhile, or that Brenloft refused or could
// not be reached for, stays with the browser.
async function takeOver(item) {
    const url = item.finalUrl || item.url;
    if (item.state !== "in_progress" || !canHandOver(url)) {
        return;
    }
    const ctrl = clicks.takeCtrl(item.url, item.finalUrl);
    const mayTake = lastChoices === null || (lastChoices.answered && takesDownload(lastChoices.mode, ctrl));
    const held = mayTake && (await quietly(api.downloads.pause(item.id)));
    const choices = await refreshChoices();
    if (choices.answered && takesDownload(choices.mode, ctrl)) {
        const [now] = await api.downloads.search({ id: item.id });
        if (now?.state === "in_progress") {
            const answer = await handOverDownload(url, item.referrer, item.cookieStoreId).catch(() => null);
            if (tookIt(answer)) {
                await quietly(api.downloads.cancel(item.id));
                await quietly(api.downloads.erase({ id: item.id }));
                return;
            }
        }
    }
    if (held) {
        await quietly(api.downloads.resume(item.id));
    }
}

api.downloads.onCreated.addListener((item) => {
    void takeOver(item);
});

api.contextMenus.onClicked.addListener((info, tab) => {
    if (info.menuItemId === MenuId) {
        handOverLink(info, tab).catch(() => {});
    }
});

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
    if (message?.click && sender.tab) {
        clicks.remember(message.click.url, message.click.ctrl);
        return false;
    }
    if (message?.ask === "choices") {
        refreshChoices().then(sendResponse);
        return true;
    }
    return false;
});

// The user turns the menu entry on or off in Brenloft's options; the browser learns it here.
function start() {
    api.alarms.create("choices", { periodInMinutes: 1 });
    void refreshChoices();
}
api.runtime.onInstalled.addListener(start);
api.runtime.onStartup.addListener(start);
api.alarms.onAlarm.addListener((alarm) => {
    if (alarm.name === "choices") {
        void refreshChoices();
    }
});
