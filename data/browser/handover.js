// Handing an address to Brenloft with what the browser knows about it: the page it came from
// and the cookies the browser would send with it, so that Brenloft's requests look like the
// browser's to servers that check them.

import { askLauncher } from "./native.js";
import { PrivateCookiesKey, cookieHeader, cookiesToSend, referrerOf, storeOf } from "./rules.js";

const api = globalThis.browser ?? globalThis.chrome;

async function privateAllowed() {
    try {
        const stored = await api.storage.local.get({ [PrivateCookiesKey]: false });
        return stored[PrivateCookiesKey] === true;
    } catch {
        return false;
    }
}

// The Cookie header the browser would send with a top-level navigation from the page to the
// address; empty when it has none or may not tell them. `holder` is the tab or the download,
// whose store is a container's or a private window's.
export async function cookiesFor(url, page, holder) {
    const storeId = storeOf(holder);
    const query = { url };
    if (storeId) {
        query.storeId = storeId;
    }
    try {
        const cookies = await api.cookies.getAll(query);
        const allowed = await privateAllowed();
        return cookieHeader(cookiesToSend(cookies, { page, url, storeId, privateAllowed: allowed }));
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
        cookie: await cookiesFor(url, page, tab),
        via: "menu",
    });
}

// A download the browser started: the launcher answers {"result": 0} for an address Brenloft
// does not fetch, as IEURL would, and the download then stays with the browser.
export async function handOverDownload(url, item) {
    return askLauncher({
        url,
        referrer: referrerOf(item.referrer ?? ""),
        cookie: await cookiesFor(url, item.referrer ?? "", item),
        via: "download",
    });
}
