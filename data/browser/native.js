// Talking to VelmoraLauncher, which the browser starts for each message through the
// native-messaging host manifest Brenloft wrote when the user turned the browser on.

import { NativeHost, choicesFrom } from "./rules.js";

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
