// Talking to VelmoraLauncher, which the browser starts for each message through the
// native-messaging host manifest Brenloft wrote when the user turned the browser on.

import { NativeHost, choicesFrom, hostFolderFor } from "./rules.js";

const api = globalThis.browser ?? globalThis.chrome;

// One message and its answer. Rejects when the launcher cannot be started (no manifest, a
// launcher that moved) or ends without answering.
export function askLauncher(message) {
    return api.runtime.sendNativeMessage(NativeHost, message);
}

// What the user chose in Brenloft's options: whether the link menu entry is on and which
// downloads Brenloft takes. Read afresh each time, as the user may change them at any moment.
export async function askChoices() {
    try {
        return choicesFrom(await askLauncher({ ask: "mode" }));
    } catch (error) {
        return choicesFrom(undefined, error?.message ?? error);
    }
}

// The folder Brenloft writes this browser's manifest to, for the message shown when the
// launcher cannot be reached.
export async function hostFolder() {
    const names = [];
    if (typeof api.runtime.getBrowserInfo === "function") {
        names.push((await api.runtime.getBrowserInfo()).name);
    }
    for (const { brand } of globalThis.navigator?.userAgentData?.brands ?? []) {
        names.push(brand);
    }
    return hostFolderFor(names);
}
