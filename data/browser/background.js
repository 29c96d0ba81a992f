// The extension's background: the "Download with Brenloft" menu entry, the downloads it takes
// over from the browser, and the clicks the pages report so that Ctrl can be told.

import { ClickMemory } from "./click_memory.js";
import { handOverDownload, handOverLink } from "./handover.js";
import { askChoices } from "./native.js";
import { MenuId, canHandOver, takesDownload, tookIt } from "./rules.js";

const api = globalThis.browser ?? globalThis.chrome;
const clicks = new ClickMemory();

// How long an answer about the choices serves: a click asks afresh, and the download it
// starts a moment later takes that answer rather than asking again.
const FreshMs = 2000;
let choicesAsked = null;

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
    await showMenu(choices.answered && choices.menu);
    return choices;
}

// The user's choices as the launcher tells them now, or as it told them an instant ago.
function freshChoices() {
    const now = Date.now();
    if (choicesAsked === null || now - choicesAsked.at > FreshMs) {
        choicesAsked = { at: now, answer: refreshChoices() };
    }
    return choicesAsked.answer;
}

async function quietly(promise) {
    try {
        await promise;
        return true;
    } catch {
        return false;
    }
}

async function stateOf(id) {
    const [item] = await api.downloads.search({ id });
    return item?.state;
}

// A download the browser has just started. Brenloft takes it when the mode says so for the
// Ctrl state of the click that started it: the browser's copy is then cancelled and erased,
// so the file is fetched once. One the browser finished meanwhile, or that Brenloft refused
// or could not be reached for, stays with the browser. Nothing pauses it in between: Firefox
// loses a download paused before its first byte.
async function takeOver(item) {
    const url = item.finalUrl || item.url;
    if (item.state !== "in_progress" || !canHandOver(url)) {
        return;
    }
    const ctrl = clicks.takeCtrl(item.url, item.finalUrl);
    const choices = await freshChoices();
    if (!choices.answered || !takesDownload(choices.mode, ctrl) || (await stateOf(item.id)) !== "in_progress") {
        return;
    }
    const answer = await handOverDownload(url, item).catch(() => null);
    if (!tookIt(answer)) {
        return;
    }
    await quietly(api.downloads.cancel(item.id));
    // One that finished before the cancel keeps its place in the browser's list with its file.
    if ((await stateOf(item.id)) === "interrupted") {
        await quietly(api.downloads.erase({ id: item.id }));
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
        // The download the click may start will want the user's choices as they are now.
        choicesAsked = null;
        void freshChoices();
        return false;
    }
    if (message?.ask === "choices") {
        choicesAsked = null;
        freshChoices().then(sendResponse);
        return true;
    }
    return false;
});

// The user turns the menu entry on or off in Brenloft's options; the browser learns it here.
function start() {
    api.alarms.create("choices", { periodInMinutes: 1 });
    void freshChoices();
}
api.runtime.onInstalled.addListener(start);
api.runtime.onStartup.addListener(start);
api.alarms.onAlarm.addListener((alarm) => {
    if (alarm.name === "choices") {
        void freshChoices();
    }
});
