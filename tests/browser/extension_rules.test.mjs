// The extension's own decisions, without a browser: which downloads each mode takes, which
// addresses can be handed over, the Referer and Cookie a link travels with, the launcher's
// answers, and the clicks that tell Ctrl.
import assert from "node:assert/strict";
import { test } from "node:test";

import { ClickMemory } from "../../data/browser/click_memory.js";
import {
    canHandOver,
    choicesFrom,
    cookieHeader,
    cookiesToSend,
    hostFolderFor,
    referrerOf,
    storeOf,
    takesDownload,
    tookIt,
} from "../../data/browser/rules.js";

test("each mode takes the downloads it names", () => {
    // [mode, with Ctrl, without Ctrl]
    const table = [
        [0, true, true],
        [1, true, false],
        [2, false, true],
        [3, false, false],
        // A mode the launcher never sends takes nothing: the browser keeps its downloads.
        [4, false, false],
        [-1, false, false],
        [undefined, false, false],
    ];
    for (const [mode, withCtrl, withoutCtrl] of table) {
        assert.equal(takesDownload(mode, true), withCtrl, `mode ${mode} with Ctrl`);
        assert.equal(takesDownload(mode, false), withoutCtrl, `mode ${mode} without Ctrl`);
    }
});

test("only http, https and ftp addresses are handed over", () => {
    for (const url of ["http://h/f", "HTTPS://h/f", "ftp://h/f", "Ftp://h/pub/"]) {
        assert.equal(canHandOver(url), true, url);
    }
    for (const url of [
        "blob:https://h/5e1b",
        "data:text/plain,hi",
        "file:///etc/passwd",
        "about:blank",
        "http://",
        " http://h/f",
        "",
        undefined,
        null,
    ]) {
        assert.equal(canHandOver(url), false, String(url));
    }
});

test("the page goes as a Referer without fragment or login", () => {
    const table = [
        ["http://h/list.html#files", "http://h/list.html"],
        ["https://anna:pw@h:8443/a?b=1", "https://h:8443/a?b=1"],
        ["file:///home/anna/list.html", ""],
        ["chrome://newtab/", ""],
        ["about:blank", ""],
        ["", ""],
        ["not an address", ""],
    ];
    for (const [page, referrer] of table) {
        assert.equal(referrerOf(page), referrer, page);
    }
});

test("cookies are joined as a browser's Cookie header, longer paths first", () => {
    assert.equal(cookieHeader([]), "");
    assert.equal(cookieHeader(undefined), "");
    assert.equal(
        cookieHeader([
            { name: "sid", value: "s3", path: "/" },
            { name: "pref", value: "1", path: "/files" },
            { name: "", value: "bare", path: "/files/deep" },
            { name: "theme", value: "dark", path: "/" },
        ]),
        "bare; pref=1; sid=s3; theme=dark",
    );
});

test("only the cookies the browser would send with the navigation go along", () => {
    const lax = { name: "l", sameSite: "lax", hostOnly: true, domain: "dl.h.test" };
    const strict = { name: "s", sameSite: "strict", hostOnly: true, domain: "dl.h.test" };
    const strictDomain = { name: "d", sameSite: "strict", hostOnly: false, domain: ".h.test" };
    const url = "https://dl.h.test/f.zip";
    // [page, store, private allowed, names sent]
    const table = [
        ["https://dl.h.test/list.html", undefined, false, "l s d"],
        ["https://www.h.test/", undefined, false, "l d"], // the domain cookie shows the same site
        ["https://evil.test/", undefined, false, "l"], // cross-site: no Strict cookie
        ["http://dl.h.test/", undefined, false, "l"], // another scheme is another site
        ["https://h.test.evil.test/", undefined, false, "l"],
        ["", undefined, false, "l"], // a page that hid its address
        ["https://dl.h.test/", "firefox-private", false, ""],
        ["https://dl.h.test/", "1", false, ""],
        ["https://dl.h.test/", "firefox-private", true, "l s d"],
        ["https://dl.h.test/", "firefox-container-2", false, "l s d"],
    ];
    for (const [page, storeId, privateAllowed, names] of table) {
        const sent = cookiesToSend([lax, strict, strictDomain], { page, url, storeId, privateAllowed });
        assert.equal(sent.map((c) => c.name).join(" "), names, `${page} ${storeId} ${privateAllowed}`);
    }
    // Chromium tells only that a tab or download is private, not its store.
    assert.equal(storeOf({ incognito: true }), "1");
    assert.equal(storeOf({ incognito: false }), undefined);
    assert.equal(storeOf({ incognito: true, cookieStoreId: "firefox-private" }), "firefox-private");
});

test("the launcher's answers are read as taken or not", () => {
    assert.equal(tookIt({ result: 1 }), true);
    assert.equal(tookIt({ started: true }), true);
    for (const answer of [{ result: 0 }, { error: "Brenloft is not reachable" }, {}, null, undefined]) {
        assert.equal(tookIt(answer), false, JSON.stringify(answer));
    }

    assert.deepEqual(choicesFrom({ BrowserIngeration: true, mode: 2 }), {
        answered: true,
        menu: true,
        mode: 2,
        why: "",
    });
    assert.deepEqual(choicesFrom(undefined, "Specified native messaging host not found.."), {
        answered: false,
        menu: false,
        mode: 3,
        why: "Specified native messaging host not found",
    });
    assert.equal(choicesFrom({ error: "no choices to tell" }).why, "no choices to tell");
    assert.equal(choicesFrom({ mode: "0", BrowserIngeration: true }).answered, false);
    assert.equal(choicesFrom({ mode: 0 }).answered, false);
});

test("the manifest folder named is the one Brenloft writes for that browser", () => {
    const table = [
        [["Firefox"], "~/.mozilla/native-messaging-hosts"],
        [["LibreWolf"], "~/.librewolf/native-messaging-hosts"],
        [["Not)A;Brand", "Chromium", "Google Chrome"], "~/.config/google-chrome/NativeMessagingHosts"],
        [["Chromium", "Brave"], "~/.config/BraveSoftware/Brave-Browser/NativeMessagingHosts"],
        [["Chromium", "Not?A_Brand"], "~/.config/chromium/NativeMessagingHosts"],
    ];
    for (const [names, folder] of table) {
        assert.equal(hostFolderFor(names), folder, names.join());
    }
});

test("a click tells Ctrl to the one download it started, for a while", () => {
    let now = 1000;
    const clicks = new ClickMemory(60000, () => now);
    clicks.remember("http://h/a.zip#top", true);
    clicks.remember("http://h/b.zip", false);
    clicks.remember("", true);
    // Looked up by the download's first address or its last (after redirects).
    assert.equal(clicks.takeCtrl("http://h/a.zip", "http://mirror/a.zip"), true);
    assert.equal(clicks.takeCtrl("http://h/a.zip"), false, "a click counts once");
    assert.equal(clicks.takeCtrl(undefined, "http://h/b.zip"), false);
    assert.equal(clicks.takeCtrl("http://typed/c.zip"), false, "no click, no Ctrl");

    clicks.remember("http://h/old.zip", true);
    now += 60001;
    clicks.remember("http://h/new.zip", true);
    assert.equal(clicks.takeCtrl("http://h/old.zip"), false, "forgotten");
    assert.equal(clicks.takeCtrl("http://h/new.zip"), true);

    // The latest click on an address wins.
    clicks.remember("http://h/d.zip", true);
    clicks.remember("http://h/d.zip", false);
    assert.equal(clicks.takeCtrl("http://h/d.zip"), false);
});
