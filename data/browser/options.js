// The extension's options page: whether Brenloft's launcher answered and what the user chose
// in Brenloft's options, so that one can see at once why links are not arriving; and the
// extension's one setting of its own, whether private windows' cookies go along too.

import { hostFolder } from "./native.js";
import { PrivateCookiesKey } from "./rules.js";

const api = globalThis.browser ?? globalThis.chrome;

function text(name, ...substitutions) {
    return api.i18n.getMessage(name, substitutions);
}

function show(id, value, caption) {
    const output = document.getElementById(id);
    output.dataset.value = String(value);
    output.textContent = caption;
}

async function refresh() {
    let choices;
    try {
        // Through the background, which shows or hides the menu entry by the same answer.
        choices = await api.runtime.sendMessage({ ask: "choices" });
    } catch (error) {
        choices = { answered: false, menu: false, mode: 3, why: String(error?.message ?? error) };
    }
    if (!choices.answered) {
        show("answered", "no", text("launcherSilent", choices.why, await hostFolder()));
        show("menu", "no", text("menuUnknown"));
        show("mode", "", text("modeUnknown"));
        return;
    }
    show("answered", "yes", text("launcherAnswered"));
    show("menu", choices.menu ? "yes" : "no", text(choices.menu ? "menuShown" : "menuHidden"));
    show("mode", choices.mode, text(`mode${choices.mode}`) || text("modeUnknown"));
}

for (const element of document.querySelectorAll("[data-text]")) {
    element.textContent = text(element.dataset.text);
}
document.title = text("optionsTitle");
document.getElementById("again").addEventListener("click", () => void refresh());
void refresh();

const privateCookies = document.getElementById("private-cookies");
api.storage.local.get({ [PrivateCookiesKey]: false }).then((stored) => {
    privateCookies.checked = stored[PrivateCookiesKey] === true;
});
privateCookies.addEventListener("change", () => {
    void api.storage.local.set({ [PrivateCookiesKey]: privateCookies.checked });
});
