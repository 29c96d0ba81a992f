// Handing an address to Brenloft with what the browser knows about it: the page it came from
// and the cookies the browser would send with it, so that Brenloft's requests look like the
// browser's to servers that check them.

import { askLauncher } from "./native.js";
import { cookieHeader, referrerOf } from "./rules.js";

const api = globalThis.browser ?? globalThis.chrome;

// The browser's cookies for the address, as its Cookie header; empty when it has none or
// may not tell them. `storeId` names a container's or a private window's store.
export async function cookiesFor(url, storeId) {
    const query = { url };
    if (storeId) {
        query.storeId = storeId;
    }
    try {
        return cookieHeader(await api.cookies.getAll(query));
    } catch {
        return "";
    }
}

// "Download with Brenloft" on a link or a picture: Brenloft's MenuURL takes any address and
// tells the user itself about one it cannot use. Resolves to the launcher's answer.
export async function handOverLink(info, tab) {
    const url = info.linkUrl || info.srcUrl;
    if (!url) {
        return null;
    }
    const page = info.frameUrl || info.pageUrl || tab?.url || "";
    return askLauncher({
        url,
        referrer: referrerOf(page),
        cookie: await cookiesFor(url, tab?.cookieStoreId),
        via: "menu",
    });
}

// A download the browser started: the launcher answers {"result": 0} for an address Brenloft
// does not fetch, as IEURL would, and the download then stays with the browser.
export async function handOverDownload(url, referrer, cookieStoreId) {
    return askLauncher({
        url,
        referrer: referrerOf(referrer ?? ""),
        cookie: await cookiesFor(url, cookieStoreId),
        via: "download",
    });
}
