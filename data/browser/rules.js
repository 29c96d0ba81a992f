// What the extension decides by itself: which downloads it takes over, which addresses
// Brenloft can fetch, and how the page's address and the browser's cookies travel with a link.
// Nothing here touches a browser interface, so it runs the same under a test's Node.

// The launcher's name in the native-messaging host manifests Brenloft writes.
export const NativeHost = "velmoraproject.velmora_launcher";

export const MenuId = "brenloft-download";

// The stored setting that lets the cookies of private windows go to Brenloft too; off unless
// the user ticks it on the options page.
export const PrivateCookiesKey = "privateCookies";

// The integration modes of Brenloft's options ("iemode.dat"): 0 take every download, 1 only
// those started with Ctrl held, 2 only those started without it, 3 none.
export function takesDownload(mode, ctrl) {
    switch (mode) {
        case 0:
            return true;
        case 1:
            return ctrl === true;
        case 2:
            return ctrl !== true;
        default:
            return false;
    }
}

// Brenloft fetches http, https and ftp addresses. A blob: or data: download lives only inside
// the browser that made it, so it stays there.
export function canHandOver(url) {
    return typeof url === "string" && /^(https?|ftp):\/\/./i.test(url);
}

// The page a link was found on, as a Referer header carries it: an http or https address
// without its fragment or login; empty for anything else (a local file, a new tab).
export function referrerOf(pageUrl) {
    let url;
    try {
        url = new URL(pageUrl);
    } catch {
        return "";
    }
    if (url.protocol !== "http:" && url.protocol !== "https:") {
        return "";
    }
    url.hash = "";
    url.username = "";
    url.password = "";
    return url.href;
}

// The Cookie header the browser would send with the cookies its cookie store gave for an
// address: those with longer paths first, the store's order otherwise.
export function cookieHeader(cookies) {
    return [...(cookies ?? [])]
        .sort((a, b) => (b.path ?? "").length - (a.path ?? "").length)
        .map((cookie) => (cookie.name ? `${cookie.name}=${cookie.value}` : cookie.value))
        .join("; ");
}

// Whether a cookie store is a private window's: Firefox names it, Chromium numbers it "1".
export function isPrivateStore(storeId) {
    return storeId === "firefox-private" || storeId === "1";
}

// The store a tab's or a download's cookies live in. Chromium tells no store id, only whether
// the window is private; asked without one it answers from the ordinary store.
export function storeOf(holder) {
    return holder?.cookieStoreId ?? (holder?.incognito === true ? "1" : undefined);
}

function siteParts(address) {
    try {
        const url = new URL(address);
        return { scheme: url.protocol, host: url.hostname.toLowerCase() };
    } catch {
        return null;
    }
}

// Whether a navigation from the page to the address is same-site for this cookie. Without the
// public suffix list, a page counts as the address's site when it is on the same host, or
// inside the domain of a domain cookie: the browser never lets that domain be a public suffix,
// so page and address then share their registrable domain. Anything less sure counts as
// cross-site, as does no page at all (a page may withhold its address to look like none).
function sameSiteFor(page, url, cookie) {
    const from = siteParts(page);
    const to = siteParts(url);
    if (!from || !to || from.scheme !== to.scheme) {
        return false;
    }
    if (from.host === to.host) {
        return true;
    }
    const domain = String(cookie.domain ?? "")
        .replace(/^\./, "")
        .toLowerCase();
    const insideDomain = from.host === domain || from.host.endsWith(`.${domain}`);
    return cookie.hostOnly === false && domain !== "" && insideDomain;
}

// The cookies the browser itself would send with a top-level navigation from the link's page to
// the address, of those its store gives for the address (already matched by host, path and
// scheme): SameSite=Strict ones only from the address's own site, and none of a private window
// unless the user allowed those in the extension's options.
export function cookiesToSend(cookies, { page, url, storeId, privateAllowed }) {
    if (isPrivateStore(storeId) && privateAllowed !== true) {
        return [];
    }
    return (cookies ?? []).filter((cookie) => cookie.sameSite !== "strict" || sameSiteFor(page, url, cookie));
}

// Whether the launcher's answer to a handed-over address means Brenloft has it: IEURL's or
// MenuURL's 1, or a Brenloft started with it where no session bus could take the call.
export function tookIt(answer) {
    return answer?.result === 1 || answer?.started === true;
}

// The launcher's answer to {"ask": "mode"}, or why there is none.
export function choicesFrom(answer, failure) {
    if (answer && typeof answer.mode === "number" && typeof answer.BrowserIngeration === "boolean") {
        return { answered: true, menu: answer.BrowserIngeration, mode: answer.mode, why: "" };
    }
    const why = String(failure ?? answer?.error ?? "the launcher gave no choices");
    // The browsers' own messages end with a full stop; the page adds its own.
    return { answered: false, menu: false, mode: 3, why: why.replace(/\.+$/, "") };
}

// Where Brenloft writes this browser's native-messaging host manifest, by the names the browser
// gives itself (its brands, or Firefox's browser name), the most particular one first found.
const HostFolders = [
    ["LibreWolf", "~/.librewolf/native-messaging-hosts"],
    ["Firefox", "~/.mozilla/native-messaging-hosts"],
    ["SeaMonkey", "~/.mozilla/native-messaging-hosts"],
    ["Google Chrome", "~/.config/google-chrome/NativeMessagingHosts"],
    ["Brave", "~/.config/BraveSoftware/Brave-Browser/NativeMessagingHosts"],
    ["Microsoft Edge", "~/.config/microsoft-edge/NativeMessagingHosts"],
    ["Vivaldi", "~/.config/vivaldi/NativeMessagingHosts"],
    ["Chromium", "~/.config/chromium/NativeMessagingHosts"],
];

export function hostFolderFor(names) {
    const found = HostFolders.find(([name]) => (names ?? []).includes(name));
    // A Chromium build that names no brand of its own reads Chromium's folder.
    return (found ?? HostFolders[HostFolders.length - 1])[1];
}
